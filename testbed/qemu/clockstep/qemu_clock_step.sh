#!/usr/bin/env bash
# panelmon's tick across steps of the system clock, in a real kernel: boots
# the Debian amd64 kernel image unpacked by scripts/kernel-headers under
# qemu with a small initramfs (busybox, init.sh, panelmon with its shared
# libraries, panelmon_clockstep) and checks that after the clock is set back
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
for tool in qemu-system-x86_64 cpio gcc ldd; do
	command -v "$tool" >/dev/null || fail "$tool missing: run scripts/setup"
done
busybox=/bin/busybox
readelf -l "$busybox" | grep -q INTERP && fail "$busybox is dynamically linked: install busybox-static"
[ -x "$panelmon" ] || fail "$panelmon missing"

# ---- the initramfs: panelmon and the libraries it loads -------------------
root="$work/root"
rm -rf "$root"
mkdir -p "$root"/{bin,proc,sys,dev,tmp}
cp "$busybox" "$root/bin/busybox"
install -m 0755 "$here/init.sh" "$root/init"
cp "$panelmon" "$root/bin/panelmon"
gcc -static -O2 -Wall -Wextra -Werror -o "$root/bin/panelmon_clockstep" "$here/clockstep.c"
for lib in $(ldd "$panelmon" | grep -o '/[^ ]*'); do
	mkdir -p "$root$(dirname "$lib")"
	cp -L "$lib" "$root$lib"
done
(cd "$root" && find . | cpio -o -H newc --quiet) >"$work/initrd.cpio"

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
grep '^PMQ' "$console.txt" || true

# ---- checks --------------------------------------------------------------
errors=0
bad() { echo "qemu_clock_step: FAIL: $*" >&2; errors=$((errors + 1)); }
grep -q '^PMQ end$' "$console.txt" || bad "the guest did not run to its end"
grep -q '^PMQ alive 1$' "$console.txt" || bad "panelmon did not survive the steps"
steps=$(grep -c '^PMQ step ' "$console.txt" || true)
[ "$steps" -eq 6 ] || bad "$steps of 6 steps reported"
check() { # step file latency limit
	if [ "$3" -lt 0 ] || [ "$3" -gt "$4" ]; then
		bad "after a step of $1 ms, $2 was not rewritten within $4 ms ($3)"
	fi
}
while read -r _ _ step f1 l1 f2 l2; do
	limit=3000
	[ "$step" -eq 0 ] && limit=20000 # the first: panelmon's start-up
	check "$step" "$f1" "$l1" "$limit"
	check "$step" "$f2" "$l2" "$limit"
done < <(grep '^PMQ step ' "$console.txt")
[ "$errors" -eq 0 ] || exit 1
echo "qemu_clock_step: ok"
