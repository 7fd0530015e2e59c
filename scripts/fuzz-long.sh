#!/bin/sh
# Long fuzz runs: one target at a time, one process, each from a scratch copy of
# its seed corpus (the repository is not written).
#
# Usage: scripts/fuzz-long.sh [runs per target] [seconds cap per target] [targets...]
#   defaults: 10000000 runs, 3600 s cap, every target.
# Needs the fuzz build first:
#   cmake --preset fuzz && cmake --build --preset fuzz -j2
# Results: build/fuzz/long/<target>.log and <target>/{corpus,artifacts}/; a summary line
# per target is printed and kept in build/fuzz/long/summary.txt.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
runs=${1:-10000000}
cap=${2:-3600}
[ $# -gt 0 ] && shift
[ $# -gt 0 ] && shift
targets=${*:-"fuzz_reader fuzz_reader_differential fuzz_argument_text fuzz_messages fuzz_launch"}
bin=$root/build/fuzz/fuzz
out=$root/build/fuzz/long
mkdir -p "$out"
status=0
for t in $targets; do
    # The same options as the smoke tests in fuzz/CMakeLists.txt.
    case $t in
        fuzz_messages) options="-max_len=8192 -use_value_profile=1" ;;
        fuzz_argument_text) options="-max_len=4096 -use_value_profile=1" ;;
        *) options="-max_len=4096 -dict=$root/fuzz/reader.dict" ;;
    esac
    start=$(date +%s)
    if "$root/fuzz/run_fuzzer.sh" "$bin/$t" "$root/fuzz/corpus/$t" "$out/$t" \
        -runs="$runs" -max_total_time="$cap" -seed=1 $options \
        >"$out/$t.log" 2>&1; then
        result=ok
    else
        result="FAILED (see $out/$t.log and $out/$t/artifacts)"
        status=1
    fi
    seconds=$(( $(date +%s) - start ))
    execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$out/$t.log")
    cov=$(grep -o 'cov: [0-9]* ft: [0-9]*' "$out/$t.log" | tail -1)
    corpus=$(ls "$out/$t/corpus" | wc -l)
    line="$t: $result, ${execs:-?} executions in ${seconds}s, $cov, corpus $corpus"
    echo "$line"
    echo "$line" >>"$out/summary.txt"
done
exit $status
