#!/bin/sh
# Bounded run of the serial link fuzz target: seeds are whole seconds of the
# recorded receiver session; the run stops after RUNS inputs or SECONDS
# seconds and fails on any finding or when fewer than MIN_RUNS inputs ran.
#   fuzz_uart.sh FUZZER DICT SESSION WORK_DIR SECONDS RUNS MIN_RUNS
set -eu
fuzzer=$1 dict=$2 session=$3 work=$4 seconds=$5 runs=$6 min=$7
rm -rf "$work"
mkdir -p "$work/seed" "$work/corpus"
for i in 1 2 3 4 5 6 7 8 9 10; do
	head -n $((12 * i)) "$session" | tail -n 12 > "$work/seed/second$i"
done
head -n 120 "$session" > "$work/seed/ten_seconds"
status=0
"$fuzzer" -runs="$runs" -max_total_time="$seconds" -max_len=512 -dict="$dict" \
	-print_final_stats=1 -timeout=10 -rss_limit_mb=2048 \
	"$work/corpus" "$work/seed" > "$work/log" 2>&1 || status=$?
tail -n 20 "$work/log"
if [ $status -ne 0 ]; then
	echo "fuzz_uart: the fuzzer reported a finding (exit $status)" >&2
	exit 1
fi
execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$work/log" | tail -n 1)
echo "fuzz_uart: $execs executions"
if [ -z "$execs" ] || [ "$execs" -lt "$min" ]; then
	echo "fuzz_uart: fewer than $min executions" >&2
	exit 1
fi
