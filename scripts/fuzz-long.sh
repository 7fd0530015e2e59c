#!/usr/bin/env bash
# Long fuzz runs: one target at a time, one process, each from a scratch copy of
# its seed corpus (the repository is not written).
#
# Usage: scripts/fuzz-long.sh [runs per target] [seconds cap per target] [targets...]
#   defaults: 10000000 runs, 3600 s cap, every target.
# Needs the fuzz build first:
#   cmake --preset fuzz && cmake --build --preset fuzz -j2
# (KELVOR_FUZZ_BUILD names another build directory of the fuzz preset.)
# Results: <build>/long/<target>.log and <target>/{corpus,artifacts}/; a summary line
# per target is printed and kept in <build>/long/summary.txt.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
runs=${1:-10000000}
cap=${2:-3600}
shift $(($# < 2 ? $# : 2))
build=${KELVOR_FUZZ_BUILD:-$root/build/fuzz}
out=$build/long
mkdir -p "$out"

# The targets, seed corpora and options are those of the smoke tests that
# fuzz/CMakeLists.txt declares: one TAB-separated line per target, the fuzzer,
# its seed corpus and its options but the smoke time.
tests=$(ctest --test-dir "$build" -N -L fuzz --show-only=json-v1)
list=$(python3 -c '
import json, sys
smoke = {t["name"].removesuffix("_smoke"): t["command"] for t in json.load(sys.stdin)["tests"]}
if not smoke:
    sys.exit("no fuzz tests in " + sys.argv[1] + ": configure and build the fuzz preset first")
for name in sys.argv[2:] or smoke:
    if name not in smoke:
        sys.exit(f"no fuzz target {name}; there are: " + " ".join(smoke))
    _, fuzzer, seeds, _, *options = smoke[name]
    options = [o for o in options if not o.startswith("-max_total_time=")]
    print(name, fuzzer, seeds, *options, sep="\t")
' "$build" "$@" <<<"$tests")

status=0
tab=$(printf '\t')
set -f
while IFS= read -r line; do
    IFS=$tab
    # shellcheck disable=SC2086 # split on TABs into name, fuzzer, seeds, options
    set -- $line
    unset IFS
    t=$1 fuzzer=$2 seeds=$3
    shift 3
    start=$(date +%s)
    if "$root/fuzz/run_fuzzer.sh" "$fuzzer" "$seeds" "$out/$t" \
        -runs="$runs" -max_total_time="$cap" "$@" >"$out/$t.log" 2>&1; then
        result=ok
    else
        result="FAILED (see $out/$t.log and $out/$t/artifacts)"
        status=1
    fi
    seconds=$(( $(date +%s) - start ))
    execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$out/$t.log")
    cov=$(grep -o 'cov: [0-9]* ft: [0-9]*' "$out/$t.log" | tail -1 || true)
    corpus=$(find "$out/$t/corpus" -type f 2>/dev/null | wc -l || true)
    line="$t: $result, ${execs:-?} executions in ${seconds}s, $cov, corpus $corpus"
    echo "$line"
    echo "$line" >>"$out/summary.txt"
done <<EOF
$list
EOF
exit $status
