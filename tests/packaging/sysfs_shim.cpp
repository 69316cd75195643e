// Preloaded into udevadm by the udev rule check: a tmpfs folder mounted over /sys passes
// for sysfs, so that udevadm evaluates rules on a fabricated device tree.
#include <dlfcn.h>
#include <linux/magic.h>
#include <sys/vfs.h>

namespace {

template <typename Stat>
int passTmpfsForSysfs(const char* name, int fd, Stat* buffer) {
    using Real = int (*)(int, Stat*);
    const auto real = reinterpret_cast<Real>(dlsym(RTLD_NEXT, name));
    if (real == nullptr) return -1;
    const int result = real(fd, buffer);
    if (result == 0 && buffer->f_type == TMPFS_MAGIC) buffer->f_type = SYSFS_MAGIC;
    return result;
}

}  // namespace

extern "C" int fstatfs(int fd, struct statfs* buffer) {
    return passTmpfsForSysfs("fstatfs", fd, buffer);
}

extern "C" int fstatfs64(int fd, struct statfs64* buffer) {
    return passTmpfsForSysfs("fstatfs64", fd, buffer);
}
