#!/bin/busybox sh
# The guest's first process: mounts what the drivers and the program need, loads the drive
# drivers' modules in the order the host wrote in /modules.load (one "file [parameters]" a
# line), then runs the host's commands, one a line, from the second serial line, answering
# each with its output and a last line "@@END <status>".
/bin/busybox --install -s /bin
export PATH=/bin:/usr/bin
mount -t proc proc /proc
mount -t sysfs sys /sys
mount -t devtmpfs dev /dev
mount -t tmpfs tmp /tmp
mkdir -p /tmp/config /tmp/state /mnt
export HOME=/tmp XDG_CONFIG_HOME=/tmp/config XDG_STATE_HOME=/tmp/state

while read -r module parameters; do
    # shellcheck disable=SC2086
    insmod "/lib/modules/$module" $parameters || echo "guest: insmod $module failed"
done </modules.load

# The USB drive's disk appears a moment after its driver is loaded.
tries=0
while [ ! -e /sys/block/sda ] && [ $tries -lt 100 ]; do
    sleep 0.1
    tries=$((tries + 1))
done

line=/dev/ttyS1
stty -F "$line" raw -echo clocal 115200
exec <"$line" >"$line" 2>&1
echo "@@READY $(uname -r)"
while IFS= read -r command; do
    sh -c "$command" </dev/null
    echo "@@END $?"
done
