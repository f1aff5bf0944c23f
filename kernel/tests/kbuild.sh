#!/usr/bin/env bash
# Builds kx-pps.ko (and the PHY stub module) with W=1 and -Werror against one
# of the Debian header trees fetched by scripts/kernel-headers, in a build
# directory of its own, then checks what modinfo and modpost say.
#
#   kbuild.sh TREE OUTDIR      TREE: 6.1-amd64 | 6.12-amd64 | 6.12-arm64
#
# The sources are mirrored into OUTDIR as symbolic links, so the checkout
# stays clean and a second run only rebuilds what changed.
set -euo pipefail

tree=$1
out=$2
src=$(cd "$(dirname "$0")/.." && pwd)
env="$src/../build-kheaders/trees.env"
[ -r "$env" ] || { echo "kbuild: $env missing: run scripts/kernel-headers" >&2; exit 1; }
# shellcheck disable=SC1090
. "$env"

case $tree in
6.1-amd64) kdir=$KDIR_6_1_AMD64 objdump=objdump div='\b(i?div[bwlq]?)\b' ;;
6.12-amd64) kdir=$KDIR_6_12_AMD64 objdump=objdump div='\b(i?div[bwlq]?)\b' ;;
6.12-arm64) kdir=$KDIR_6_12_ARM64 objdump=aarch64-linux-gnu-objdump div='\b([su]div)\b' ;;
*) echo "kbuild: unknown tree $tree" >&2; exit 2 ;;
esac
[ -n "$kdir" ] && [ -f "$kdir/Makefile" ] || { echo "kbuild: no header tree for $tree" >&2; exit 1; }

# mirror the module sources (not the host layer or the tests)
mkdir -p "$out"
find "$out" -maxdepth 2 -type l -delete
for f in "$src"/Kbuild "$src"/*.c "$src"/*.h; do
	ln -s "$f" "$out/$(basename "$f")"
done
mkdir -p "$out/phystub"
for f in "$src"/phystub/*; do
	ln -s "$f" "$out/phystub/$(basename "$f")"
done

log="$out/build.log"
if ! nice -n 10 make -C "$kdir" M="$out" W=1 KCFLAGS=-Werror KXPPS_PHYSTUB=m -j2 modules >"$log" 2>&1; then
	cat "$log"
	echo "kbuild: $tree: build failed" >&2
	exit 1
fi
# modpost reports undefined or mismatched symbols as warnings on some trees
if grep -E 'WARNING|warning:|undefined' "$log"; then
	echo "kbuild: $tree: warnings in the build" >&2
	exit 1
fi

fail=0
info=$(modinfo "$out/kx-pps.ko")
for want in 'license: *GPL$' 'alias: *of:N\*T\*Cgtop,ppstimer$' 'alias: *of:N\*T\*Cgtop,ppstimerC\*$'; do
	if ! grep -qE "^$want" <<<"$info"; then
		echo "kbuild: $tree: modinfo lacks /$want/" >&2
		fail=1
	fi
done
modinfo "$out/phystub/kxpps-phystub.ko" | grep -qE '^license: *GPL$' || { echo "kbuild: stub licence" >&2; fail=1; }

# the pulse interrupt's files (the handler, the phase-and-frequency loop
# and the integrity guard it calls): no division instruction (only shifts
# for 2^n)
for o in pps_timer.o pps_loop.o pps_guard.o; do
	if "$objdump" -d "$out/$o" | grep -E "$div"; then
		echo "kbuild: $tree: division instruction in $o" >&2
		fail=1
	fi
done

[ $fail -eq 0 ] && echo "kbuild: $tree: kx-pps.ko built warning-free, modinfo as expected"
exit $fail
