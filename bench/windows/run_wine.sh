#!/usr/bin/env bash
# Runs bench_launch.exe under Wine in a private prefix and display, and leaves
# its results in <out>/launch.tsv.
# Usage: run_wine.sh <mingw build dir> <out dir> <rounds> <delay trials>
set -euo pipefail

build=$(cd "$1" && pwd)
out=$(mkdir -p "$2" && cd "$2" && pwd)
rounds=$3
delay_trials=$4

session=$(mktemp -d "${TMPDIR:-/tmp}/kelvor-bench-wine.XXXXXX")
export WINEPREFIX=$session/prefix
export WINEDEBUG=-all
xvfb_pid=""

teardown() {
    # Only this prefix's server and the display started here.
    wineserver -k > /dev/null 2>&1 || true
    if [[ -n "$xvfb_pid" ]]; then
        kill "$xvfb_pid" 2> /dev/null || true
        wait "$xvfb_pid" 2> /dev/null || true
    fi
    rm -rf "$session"
}
trap teardown EXIT

exec 3> "$session/display"
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp > "$session/xvfb.log" 2>&1 &
xvfb_pid=$!
exec 3>&-
for _ in $(seq 50); do
    [[ -s "$session/display" ]] && break
    sleep 0.1
done
export DISPLAY=":$(cat "$session/display")"
echo "display $DISPLAY, prefix $WINEPREFIX"

# A 64-bit prefix runs 32-bit programs as well; where only 32-bit Wine is
# installed the prefix is a 32-bit one.
if [[ -x /usr/lib/wine/wine64 ]]; then
    boot=(/usr/lib/wine/wine64 wineboot -i)
else
    boot=(wine wineboot -i)
fi
start=$(date +%s)
timeout 300 "${boot[@]}"
wineserver -w
echo "prefix ready in $(($(date +%s) - start)) s"

# Programs and results in a path without spaces, so the harness can put the
# target's path straight into its command lines.
bin=$session/bin
mkdir -p "$bin"
cp "$build/kelvor.exe" "$build/bench/windows/bench_target.exe" \
   "$build/bench/windows/bench_launch.exe" "$bin/"
windows() { winepath -w "$1"; }
rm -f "$out/launch.tsv"
status=0
timeout 540 wine "$bin/bench_launch.exe" "$(windows "$bin/kelvor.exe")" \
    "$(windows "$bin/bench_target.exe")" "$rounds" "$delay_trials" \
    "$(windows "$session/launch.tsv")" || status=$?
cp "$session/launch.tsv" "$out/launch.tsv" 2> /dev/null || true
echo "bench_launch exit status $status"
exit "$status"
