#!/usr/bin/env bash
# Benchmark of the pulse interrupt handler on the host layer (not a test):
# instructions per timer_irq call for captures in the acceptance window,
# counted by callgrind, and a check that the handler's object code has no
# division instruction and no floating point.
#
#   testbed/bench/timer_irq_callgrind.sh [BUILD_DIR]     (default: build)
#
# "inclusive" counts everything timer_irq executes on the host, including the
# host layer's stand-ins for readl/writel, the clock snapshot, queue_work and
# the LinuxPPS/GPIO recorders (these cost differently in the kernel);
# "handler" counts the instructions of the module's own code in the call
# (timer_irq with the loop update inlined, pps_dac_queue, the inline
# pps_get_ts of the kernel header).
set -euo pipefail

build=${1:-build}
bin="$build/kernel/kx_bench_timer_irq"
[ -x "$bin" ] || bin="$build/bin/kx_bench_timer_irq"
[ -x "$bin" ] || { echo "build kx_bench_timer_irq first (cmake --build $build --target kx_bench_timer_irq)" >&2; exit 1; }
calls=20000
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

for shape in loop full pll; do
	out="$tmp/cg.$shape"
	valgrind --tool=callgrind --callgrind-out-file="$out" \
		--toggle-collect=timer_irq "$bin" "$shape" "$calls" >/dev/null 2>"$tmp/log"
	incl=$(sed -n 's/^summary: *\([0-9]*\).*/\1/p' "$out")
	# the module's own code: its files, and kernel inlines expanded in timer_irq
	self=$(callgrind_annotate --threshold=100 "$out" 2>/dev/null |
		awk '$1 ~ /^[0-9,]+$/ && ($0 ~ /kernel\/pps_[a-z]*\.c:/ || $0 ~ /:timer_irq/) {
			gsub(",", "", $1); s += $1 } END { print s + 0 }')
	case $shape in
	loop) what="loop only (time not known, no GPS second pending)" ;;
	full) what="full pulse (GPS hand-off, LinuxPPS event, LED flash)" ;;
	pll) what="loop only, phase-and-frequency loop (loop_mode=1)" ;;
	esac
	echo "timer_irq, $what:"
	echo "  inclusive: $((incl / (calls + 1))) instructions per call"
	[ -n "$self" ] && echo "  handler:   $((self / (calls + 1))) instructions per call"
done

for name in pps_timer pps_loop; do
	obj=$(find "$build/kernel" -path '*kx_pps_host*' -name "$name.c.o" | head -n1)
	[ -n "$obj" ] || continue
	if objdump -d "$obj" | grep -E '\b(i?div[bwlq]?)\b'; then
		echo "division instruction in $obj" >&2
		exit 1
	fi
	if objdump -d "$obj" | grep -E '\b(cvt|(add|sub|mul|div)s[sd]\b|fld|fst)'; then
		echo "floating point in $obj" >&2
		exit 1
	fi
	echo "$name.c (host object): no division instruction, no floating point"
done
