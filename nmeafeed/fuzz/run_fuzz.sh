#!/bin/sh
# Bounded fuzz run: seeds from the recorded session, then at most RUNS
# inputs with CAP seconds as a safety cap (testbed/fuzz_bounded.sh: any crash,
# leak or sanitizer report fails the run, reaching the cap does not).
#   run_fuzz.sh FUZZER SESSION_FILE WORK_DIR RUNS CAP [stream]
# "stream": seeds are whole seconds of the session (the daemon target);
# otherwise single sentences and format/sentence pairs (the library target).
set -eu
fuzzer=$1 session=$2 work=$3 runs=$4 cap=$5 kind=${6:-sentence}
bounded="$(dirname "$0")/../../testbed/fuzz_bounded.sh"
name=$(basename "$fuzzer")
rm -rf "$work"
mkdir -p "$work/seed" "$work/corpus"
if [ "$kind" = stream ]; then
	for i in 0 1 2 3 4; do
		head -n $((12 * (i + 1))) "$session" > "$work/seed/seconds$((i + 1))"
	done
	exec "$bounded" "$name" "$work/log" "$runs" "$cap" "$fuzzer" -close_fd_mask=1 \
		-timeout=10 -rss_limit_mb=2048 "$work/corpus" "$work/seed"
fi
# One seed per sentence of the first seconds of the session, plus scanner
# seeds pairing each parser format with a sentence.
head -n 48 "$session" | tr -d '\r' | awk -v dir="$work/seed" '
	{ f = sprintf("%s/line%03d", dir, NR); printf "%s", $0 > f; close(f) }'
i=0
for fmt in tTcfdfdffDfd tTfdfdiiffcfci_ tciiiiiiiiiiiiifff 'tfdfdTc;c' tTfffffff \
           'tiii;iiiiiiiiiiiiiiii' tiff 'tTDsc_;fid'; do
	i=$((i + 1))
	line=$(sed -n "$((i * 5))p" "$session" | tr -d '\r')
	printf '%s\n%s' "$fmt" "$line" > "$work/seed/scan$i"
done
# -close_fd_mask=1: the library's diagnostics on standard output would only
# slow the run down.
exec "$bounded" "$name" "$work/log" "$runs" "$cap" "$fuzzer" -close_fd_mask=1 \
	-timeout=10 -rss_limit_mb=2048 "$work/corpus" "$work/seed"
