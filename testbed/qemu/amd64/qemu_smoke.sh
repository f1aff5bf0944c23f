#!/usr/bin/env bash
# Loads kx-pps.ko into a real kernel: boots a Debian 12 amd64 kernel (the
# image unpacked by scripts/kernel-headers, the same ABI as the header tree
# the module was built against: 6.1 or the 6.12 series) under qemu with a small
# initramfs (lib/initramfs.sh: busybox, qemu_init.sh, qemu_devcheck, both
# modules and the kernel's I2C modules), then checks the serial console
# (qemu_smoke_checks.py): load without and with I2C adapter 1, the kernel
# messages and their order, /sys/pps_filter,
# /dev/kx_pps, a GPS receiver streaming NMEA into the serial driver (a
# PRP0001 device of an ACPI table, qemu_gps.asl, on the guest's second
# UART, fed by qemu_gps_feed.py), unload, three more load/unload rounds,
# and a clean kernel log.
#
#   qemu_smoke.sh TREE KBUILD_OUT WORKDIR      TREE: 6.1-amd64 | 6.12-amd64
#
# KBUILD_OUT: kbuild.sh's output for that tree (kx-pps.ko and
# phystub/kxpps-phystub.ko). The guest has 512 MiB: the i.MX93 register
# blocks the module maps (0x424F0000 and up) lie above its RAM, where
# nothing answers.
set -euo pipefail

tree=$1
kbuild=$2
work=$3
here=$(cd "$(dirname "$0")" && pwd)
env="$here/../../../build-kheaders/trees.env"
start=$(date +%s)

fail() { echo "qemu_smoke: $*" >&2; exit 1; }

[ -r "$env" ] || fail "$env missing: run scripts/kernel-headers"
# shellcheck disable=SC1090
. "$env"
case $tree in
6.1-amd64) kimage=${KIMAGE_6_1_AMD64:-} kmods=${KMODULES_6_1_AMD64:-} ;;
6.12-amd64) kimage=${KIMAGE_6_12_AMD64:-} kmods=${KMODULES_6_12_AMD64:-} ;;
*) fail "unknown tree $tree" ;;
esac
[ -n "$kimage" ] && [ -f "$kimage" ] || fail "no unpacked $tree kernel image: run scripts/kernel-headers"
[ -d "$kmods" ] || fail "no unpacked $tree kernel modules: run scripts/kernel-headers"
for tool in qemu-system-x86_64 cpio gcc iasl python3 readelf; do
	command -v "$tool" >/dev/null || fail "$tool missing: run scripts/setup"
done
for ko in "$kbuild/kx-pps.ko" "$kbuild/phystub/kxpps-phystub.ko"; do
	[ -f "$ko" ] || fail "$ko missing: the kbuild test builds it"
done
abi=$(basename "$kmods")
vermagic=$(modinfo -F vermagic "$kbuild/kx-pps.ko")
[ "${vermagic%% *}" = "$abi" ] || fail "kx-pps.ko is for ${vermagic%% *}, the image is $abi"

# ---- the initramfs -------------------------------------------------------
# shellcheck source=../lib/initramfs.sh
. "$here/../lib/initramfs.sh"
initramfs_begin "$work/root" /bin/busybox "$here/qemu_init.sh"
initramfs_prog gcc "$here/qemu_devcheck.c" qemu_devcheck
mkdir -p "$root/lib/modules/kx"
cp "$kbuild/kx-pps.ko" "$kbuild/phystub/kxpps-phystub.ko" "$root/lib/modules/kx/"
# the kernel's own modules, loaded by insmod in dependency order
initramfs_kmod "$kmods" i2c-smbus i2c-i801 i2c-stub
initramfs_pack "$work/initrd.cpio"
# the GPS receiver and the timer device, described to the PC's ACPI
iasl -p "$work/qemu_gps" "$here/qemu_gps.asl" >"$work/iasl.log" 2>&1 ||
	{ cat "$work/iasl.log"; fail "iasl failed"; }

# ---- boot ----------------------------------------------------------------
console="$work/console.log"
# slub_debug: red zones, poisoning and sanity checks on every slab object,
# so a use after free or an overrun by the module is reported as a BUG;
# KFENCE (6.12) guards a sampled allocation every 5 ms as well.
# -M q35: its ICH9 SMBus (i2c-i801) becomes adapter 0, so i2c-stub is 1
# ttyS1 (COM2) is a Unix socket, served by qemu, fed by qemu_gps_feed.py
sockdir=$(mktemp -d /tmp/kxq-gps.XXXXXX)
trap 'rm -rf "$sockdir"' EXIT
rm -f "$console"
"$here/qemu_gps_feed.py" "$sockdir/gps" "$console" 100 "$work/gps_rx.log" >"$work/feed.log" 2>&1 &
feeder=$!
rc=0
timeout 100 qemu-system-x86_64 -M q35 -accel tcg -m 512M -smp 1 \
	-display none -monitor none -no-reboot -nic none \
	-serial stdio \
	-chardev "socket,id=gps,path=$sockdir/gps,server=on,wait=off" -serial chardev:gps \
	-acpitable "file=$work/qemu_gps.aml" \
	-kernel "$kimage" -initrd "$work/initrd.cpio" \
	-append "console=ttyS0 panic=-1 loglevel=1 printk.time=0 slub_debug=FZP kfence.sample_interval=5 rdinit=/init" \
	</dev/null >"$console" 2>&1 || rc=$?
wait "$feeder" || true
cat "$work/feed.log"
# printable text only: the line-noise test puts raw bytes into the kernel log
tr -d '\r' <"$console" | LC_ALL=C tr -c '[:print:]\t\n' '?' >"$console.txt"
booted=$(date +%s)
echo "qemu_smoke: guest ran $((booted - start)) s (qemu exit $rc), console in $console.txt"
rm -rf "$sockdir"
trap - EXIT

exec python3 "$here/qemu_smoke_checks.py" "$work" "$start"
