#!/bin/sh
# Rules the compiler cannot hold for us, over every C++ file of the product:
# - includes name a layer's folder ("fat/fat12.h"), never a path that climbs out ("../");
# - only platform/ and the command-line program's edge (cli/) include the system's headers;
# - the portable layers (base/, fat/) call no POSIX function that the C++ headers let through
#   (a time conversion, a file or process call): they build on every system unchanged.
#   check-sources.sh <source root>
set -eu
root=$1
status=0
climbing=$(grep -rn --include='*.cpp' --include='*.h' '^[[:space:]]*#[[:space:]]*include[[:space:]]*"\.\./' "$root/src" || true)
if [ -n "$climbing" ]; then
    echo "includes that climb out of their folder:"
    echo "$climbing"
    status=1
fi
system_headers='unistd\.h|fcntl\.h|dirent\.h|signal\.h|termios\.h|pwd\.h|grp\.h|dlfcn\.h|poll\.h|sys/[a-z_]+\.h|linux/[a-z_]+\.h'
posix=$(grep -rnE --include='*.cpp' --include='*.h' "^[[:space:]]*#[[:space:]]*include[[:space:]]*<($system_headers)>" "$root/src" \
    | grep -vE "^$root/src/(platform|cli)/" || true)
if [ -n "$posix" ]; then
    echo "system headers outside platform/ and cli/:"
    echo "$posix"
    status=1
fi
posix_calls='localtime_r|gmtime_r|ctime_r|asctime_r|strerror_r|tzset|setenv|unsetenv|getenv|popen|fileno|fdopen|sigaction|getpid|mkstemp|realpath|strdup|strcasecmp|strncasecmp'
calls=$(grep -rnE --include='*.cpp' --include='*.h' "(^|[^[:alnum:]_.>])(::)?($posix_calls)[[:space:]]*\(" "$root/src/base" "$root/src/fat" || true)
if [ -n "$calls" ]; then
    echo "system calls in the portable layers (base/, fat/):"
    echo "$calls"
    status=1
fi
[ "$status" -eq 0 ] && echo "ok: no climbing include, system headers only in platform/ and cli/, no system call in base/ and fat/"
exit "$status"
