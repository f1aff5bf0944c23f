#!/usr/bin/env bash
# panelmon's tick across steps of the system clock, in a real kernel: boots
# the Debian amd64 kernel image unpacked by scripts/kernel-headers under
# qemu with a small initramfs (busybox, init.sh, panelmon with its shared
# libraries, panelmon_clockstep; lib/initramfs.sh) and checks that after the clock is set back
# an hour, forward two hours, back 5 s and back a quarter second, panelmon
# rewrites its refresh and clock-chip status files again within 3 s each
# time, and is still running at the end.
#
#   qemu_clock_step.sh PANELMON_BINARY WORKDIR
set -euo pipefail

panelmon=$1
work=$2
here=$(cd "$(dirname "$0")" && pwd)
env="$here/../../../build-kheaders/trees.env"

fail() { echo "qemu_clock_step: $*" >&2; exit 1; }

[ -r "$env" ] || fail "$env missing: run scripts/kernel-headers"
# shellcheck disable=SC1090
. "$env"
kimage=${KIMAGE_6_12_AMD64:-${KIMAGE_6_1_AMD64:-}}
if [ -z "$kimage" ] || [ ! -f "$kimage" ]; then
	fail "no unpacked amd64 kernel image: run scripts/kernel-headers"
fi
for tool in qemu-system-x86_64 cpio gcc readelf; do
	command -v "$tool" >/dev/null || fail "$tool missing: run scripts/setup"
done
[ -x "$panelmon" ] || fail "$panelmon missing"
# shellcheck source=../lib/initramfs.sh
. "$here/../lib/initramfs.sh"

# ---- the initramfs: panelmon and the libraries it loads -------------------
initramfs_begin "$work/root" /bin/busybox "$here/init.sh"
cp "$panelmon" "$root/bin/panelmon"
initramfs_prog gcc "$here/clockstep.c" panelmon_clockstep
initramfs_libs /lib/x86_64-linux-gnu /lib/x86_64-linux-gnu:/usr/lib/x86_64-linux-gnu "$root/bin/panelmon"
initramfs_pack "$work/initrd.cpio"

# ---- boot ----------------------------------------------------------------
console="$work/console.log"
rc=0
timeout 180 qemu-system-x86_64 -M q35 -accel tcg -m 256M -smp 1 \
	-display none -monitor none -no-reboot -nic none -serial stdio \
	-kernel "$kimage" -initrd "$work/initrd.cpio" \
	-append "console=ttyS0 panic=-1 loglevel=1 rdinit=/init" \
	</dev/null >"$console" 2>&1 || rc=$?
tr -d '\r' <"$console" >"$console.txt"
echo "qemu_clock_step: qemu exit $rc, console in $console.txt"
exec python3 "$here/clockstep_checks.py" "$console.txt"
