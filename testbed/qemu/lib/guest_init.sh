# shellcheck shell=dash
# The opening of every qemu rig's /init, sourced by it first (the
# initramfs holds it as /lib/kxq/guest_init.sh). The rig's steps run in a
# child shell: whatever ends it, init goes on to power the machine off
# instead of panicking (a hang is cut by the host's timeout). Then
# busybox's applets, proc, sys, dev and debugfs, the kernel log on the
# console only through log(), and the shell side of the console protocol
# (lib/README.md).
if [ "$1" != steps ]; then
	/bin/busybox sh /init steps
	echo "KXQ steps exit $?"
	/bin/busybox poweroff -f
fi
/bin/busybox --install -s /bin
export PATH=/bin
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev
mount -t debugfs debugfs /sys/kernel/debug
echo 1 >/proc/sys/kernel/printk

# the kernel's modules the host put in, and their load order
K=/lib/modules/kernel

# a result: KXQ <key> <value...>
say() { echo "KXQ $*"; }
# the kernel log since the last call, as phase $1's
log() { dmesg -c | sed "s/^/KXQLOG $1 /"; }
exists() { [ -e "$1" ] && echo 1 || echo 0; }
loaded() { grep -q "^$1 " /proc/modules && echo 1 || echo 0; }
# a command's exit status and message ("0 no-message": a quiet success)
result() {
	out=$("$@" 2>&1)
	rc=$?
	echo "$rc ${out:-no-message}"
}
ins() { result insmod "$@"; }
rmm() { result rmmod "$@"; }
