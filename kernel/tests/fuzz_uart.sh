#!/bin/sh
# Bounded run of the serial link fuzz target: seeds are whole seconds of the
# recorded receiver session; at most RUNS inputs, CAP seconds as a safety
# cap (testbed/fuzz_bounded.sh: fails only on a finding).
#   fuzz_uart.sh FUZZER DICT SESSION WORK_DIR RUNS CAP
set -eu
fuzzer=$1 dict=$2 session=$3 work=$4 runs=$5 cap=$6
rm -rf "$work"
mkdir -p "$work/seed" "$work/corpus"
for i in 1 2 3 4 5 6 7 8 9 10; do
	head -n $((12 * i)) "$session" | tail -n 12 > "$work/seed/second$i"
done
head -n 120 "$session" > "$work/seed/ten_seconds"
exec "$(dirname "$0")/../../testbed/fuzz_bounded.sh" kernel.uart_fuzz "$work/log" "$runs" "$cap" \
	"$fuzzer" -max_len=512 -dict="$dict" -timeout=10 -rss_limit_mb=2048 \
	"$work/corpus" "$work/seed"
