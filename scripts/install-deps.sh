#!/bin/sh
# Installs the Debian packages that building, testing and the demo need, when missing.
set -eu

PACKAGES="cmake ninja-build g++ clang libclang-rt-14-dev libgtest-dev libgmock-dev
qt6-base-dev qt6-qpa-plugins fonts-dejavu-core mtools dosfstools nasm qemu-system-x86 procps
coreutils strace librsvg2-bin dpkg-dev lintian desktop-file-utils appstream man-db udev
util-linux nettle-dev pkgconf python3 clang-format g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix
wine64 wine nsis xvfb x11-apps x11-utils xdotool imagemagick libsystemd-dev udisks2 polkitd dbus-daemon python3-dbusmock e2fsprogs passwd
seabios ovmf ipxe-qemu"

missing=""
for p in $PACKAGES; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing="$missing $p"
    fi
done

if [ -z "$missing" ]; then
    exit 0
fi

echo "Installing:$missing"
SUDO=""
if [ "$(id -u)" -ne 0 ]; then
    SUDO="sudo"
fi
$SUDO apt-get update -qq
# shellcheck disable=SC2086
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends $missing
