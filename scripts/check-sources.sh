#!/bin/sh
# Rules the compiler cannot hold for us, over every C++ file of the product:
# - includes name a layer's folder ("fat/fat12.h"), never a path that climbs out ("../");
# - only the system's own folders of platform/ (platform/posix/, platform/win32/) and the
#   command-line program's edge (cli/) include the system's headers; the portable part of
#   platform/ and its shared headers reach the system through them;
# - no code outside those folders (and the window backends, ui/) calls a POSIX function that
#   the C++ headers let through (a time conversion, a signal handler, a file or process call),
#   and the portable layers (base/, fat/) read no environment either: they build on every
#   system unchanged;
# - the stand-ins under the system's names (platform/winapi.h) and the system's own header
#   never meet in one file: the stand-ins are C++ functions, the system's are C functions, so
#   they stay apart at link time as long as no translation unit sees both.
#   check-sources.sh <source root>
set -eu
root=$1
status=0
# report <what> <findings>: the findings under their heading, and the check fails.
report() {
    if [ -n "$2" ]; then
        echo "$1:"
        echo "$2"
        status=1
    fi
}
system_folders="^$root/src/(platform/posix|platform/win32|ui/win32|cli)/"
climbing=$(grep -rn --include='*.cpp' --include='*.h' '^[[:space:]]*#[[:space:]]*include[[:space:]]*"\.\./' "$root/src" || true)
report "includes that climb out of their folder" "$climbing"
system_headers='unistd\.h|fcntl\.h|dirent\.h|signal\.h|termios\.h|pwd\.h|grp\.h|dlfcn\.h|poll\.h|sys/[a-z_]+\.h|linux/[a-z_]+\.h|windows\.h|winioctl\.h|bcrypt\.h'
posix=$(grep -rnE --include='*.cpp' --include='*.h' "^[[:space:]]*#[[:space:]]*include[[:space:]]*<($system_headers)>" "$root/src" \
    | grep -vE "$system_folders" || true)
report "system headers outside platform/posix/, platform/win32/, ui/win32/ and cli/" "$posix"
# A call's name, not a member's or a namespace's of ours: nothing of a name's own before it but
# an optional "::".
call='(^|[^[:alnum:]_.>:])(::)?'
posix_calls='localtime_r|gmtime_r|ctime_r|asctime_r|strerror_r|tzset|setenv|unsetenv|popen|fileno|fdopen|sigaction|sigprocmask|sigemptyset|getpid|mkstemp|realpath|strdup|strcasecmp|strncasecmp'
calls=$(grep -rnE --include='*.cpp' --include='*.h' "$call($posix_calls)[[:space:]]*\(" "$root/src" \
    | grep -vE "$system_folders|^$root/src/ui/" || true)
report "POSIX calls outside platform/posix/, platform/win32/, cli/ and the window backends (ui/)" "$calls"
# struct sigaction comes through <csignal> as well as through <signal.h>.
handlers=$(grep -rnE --include='*.cpp' --include='*.h' "struct[[:space:]]+sigaction|sigset_t" "$root/src" \
    | grep -vE "$system_folders" || true)
report "POSIX signal handling outside platform/posix/, platform/win32/ and cli/" "$handlers"
environment=$(grep -rnE --include='*.cpp' --include='*.h' "(^|[^[:alnum:]_.>])(std::|::)?getenv[[:space:]]*\(" "$root/src/base" "$root/src/fat" || true)
report "the environment read in the portable layers (base/, fat/)" "$environment"
both=$(grep -rlE --include='*.cpp' --include='*.h' '^[[:space:]]*#[[:space:]]*include[[:space:]]*[<"](windows\.h|platform/win32/handle\.h)[>"]' "$root/src" \
    | xargs -r grep -lE '^[[:space:]]*#[[:space:]]*include[[:space:]]*"(platform/winapi\.h|framework/wintypes\.h|framework/afxwin\.h)"' || true)
report "files that see both the stand-ins under the system's names and windows.h" "$both"
[ "$status" -eq 0 ] && echo "ok: no climbing include; system headers only in platform/posix/, platform/win32/, ui/win32/ and cli/, POSIX calls and signal handling only in platform/posix/, platform/win32/ and cli/; no environment in base/ and fat/; windows.h never beside the stand-ins"
exit "$status"
