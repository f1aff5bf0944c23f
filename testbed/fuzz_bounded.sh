#!/bin/sh
# Bounded libFuzzer run shared by the fuzz tests: at most RUNS inputs, with
# CAP seconds as a safety cap only. Reaching the cap on a slow or busy
# machine ends the run early and is no failure; the run fails only when the
# fuzzer reports a finding (crash, leak, sanitizer report, time-out of one
# input). The inputs run and the executions per second are printed as
# figures.
#   fuzz_bounded.sh NAME LOG RUNS CAP FUZZER [FUZZER_ARGS... CORPUS_DIRS...]
set -eu
name=$1 log=$2 runs=$3 cap=$4
shift 4
start=$(date +%s.%N)
status=0
"$@" -runs="$runs" -max_total_time="$cap" -print_final_stats=1 > "$log" 2>&1 || status=$?
end=$(date +%s.%N)
tail -n 20 "$log"
if [ "$status" -ne 0 ]; then
	echo "$name: the fuzzer reported a finding (exit $status), see $log" >&2
	exit 1
fi
execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
awk -v n="${execs:-0}" -v runs="$runs" -v s="$start" -v e="$end" -v name="$name" -v cap="$cap" 'BEGIN {
	t = e - s
	rate = t > 0 ? n / t : 0
	printf "%s: %d inputs in %.1f s, %.0f executions/s\n", name, n, t, rate
	if (n < runs)
		printf "%s: stopped by the %d s cap before %d inputs (a figure, not a failure)\n", name, cap, runs
}'
