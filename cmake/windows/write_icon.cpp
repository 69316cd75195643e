// Writes the application icon as an .ico file, for the Windows programs' icon resource and the
// installer. Built with the build machine's own compiler and run while building:
//   write_icon <file.ico>
#include <cstdio>
#include <fstream>

#include "res/ico_file.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: write_icon <file.ico>\n");
        return 2;
    }
    const auto bytes = res::icoFile(res::applicationIcon());
    std::ofstream out(argv[1], std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) {
        std::fprintf(stderr, "write_icon: cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
