#!/usr/bin/env bash
# Runs bench_launch.exe under Wine in a private session (own prefix, display and
# wineserver) and leaves its results in <out>/launch.tsv.
# Usage: run_wine.sh <mingw build dir> <out dir> <rounds> <delay trials>
#
# The session comes from tests/e2e/wine_session.sh, which also makes 32-bit
# programs runnable on hosts whose kernel refuses them. Without that script a
# minimal session of our own is set up here.
set -euo pipefail

root=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "$1" && pwd)
out=$(mkdir -p "$2" && cd "$2" && pwd)
rounds=$3
delay_trials=$4

session_script=$root/tests/e2e/wine_session.sh
if [[ -f "$session_script" ]]; then
    # The session functions read optional arguments that may be unset.
    set +u
    # shellcheck source=/dev/null
    source "$session_script"
    start=$(date +%s)
    wine_session_start
    trap wine_session_stop EXIT
    session=$KELVOR_WINE_DIR
    to_windows() { wine_path "$1"; }
else
    session=$(mktemp -d "${TMPDIR:-/tmp}/kelvor-bench-wine.XXXXXX")
    export WINEPREFIX=$session/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
    xvfb_pid=""
    own_session_stop() {
        # Only this prefix's server and the display started here.
        wineserver -k > /dev/null 2>&1 || true
        if [[ -n "$xvfb_pid" ]]; then
            kill "$xvfb_pid" 2> /dev/null || true
            wait "$xvfb_pid" 2> /dev/null || true
        fi
        rm -rf "$session"
    }
    trap own_session_stop EXIT
    exec 3> "$session/display"
    Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp > "$session/xvfb.log" 2>&1 &
    xvfb_pid=$!
    exec 3>&-
    for _ in $(seq 50); do
        [[ -s "$session/display" ]] && break
        sleep 0.1
    done
    export DISPLAY=":$(cat "$session/display")"
    start=$(date +%s)
    timeout 600 wine wineboot -i
    wineserver -w
    to_windows() { winepath -w "$1"; }
fi
echo "session $session, display $DISPLAY, prefix ready in $(($(date +%s) - start)) s"

# Programs and results in a path without spaces, so the harness can put the
# target's path straight into its command lines.
bin=$session/bench
mkdir -p "$bin"
cp "$build/kelvor.exe" "$build/bench/windows/bench_target.exe" \
   "$build/bench/windows/bench_launch.exe" "$bin/"
rm -f "$out/launch.tsv"
status=0
timeout 540 wine "$bin/bench_launch.exe" "$(to_windows "$bin/kelvor.exe")" \
    "$(to_windows "$bin/bench_target.exe")" "$rounds" "$delay_trials" \
    "$(to_windows "$bin/launch.tsv")" || status=$?
cp "$bin/launch.tsv" "$out/launch.tsv" 2> /dev/null || true
echo "bench_launch exit status $status"
exit "$status"
