// Another program holding a drive: opens the block device named on the command line with
// O_EXCL, as a partitioning or imaging tool does, says "held" and keeps it until killed.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: hold_drive DEVICE\n");
        return 2;
    }
    // The floppy controller's driver may refuse the first open after a swap.
    int fd = ::open(argv[1], O_RDONLY | O_EXCL);
    for (int attempt = 0; fd < 0 && errno == ENXIO && attempt < 3; ++attempt) {
        ::usleep(300 * 1000);
        fd = ::open(argv[1], O_RDONLY | O_EXCL);
    }
    if (fd < 0) {
        std::fprintf(stderr, "hold_drive: %s: %s\n", argv[1], std::strerror(errno));
        return 1;
    }
    std::printf("held\n");
    std::fflush(stdout);
    ::pause();
    return 0;
}
