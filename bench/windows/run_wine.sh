#!/usr/bin/env bash
# Runs bench_launch.exe under Wine in a private session (own prefix, display and
# wineserver, from tests/e2e/wine_session.sh) and leaves its results in
# <out>/launch.tsv.
# Usage: run_wine.sh <mingw build dir> <out dir> <rounds> <delay trials>
set -euo pipefail

root=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "$1" && pwd)
out=$(mkdir -p "$2" && cd "$2" && pwd)
rounds=$3
delay_trials=$4

# shellcheck source-path=SCRIPTDIR/../.. source=tests/e2e/wine_session.sh
source "$root/tests/e2e/wine_session.sh"
# shellcheck disable=SC2119  # no directory given: the session makes its own
wine_session_start || {
    echo "no Wine session could be started here"
    exit 1
}
trap wine_session_stop EXIT

# Programs and results in a path without spaces, so the harness can put the
# target's path straight into its command lines.
bin=$KELVOR_WINE_DIR/bench
mkdir -p "$bin"
cp "$build/kelvor.exe" "$build/bench/windows/bench_target.exe" \
    "$build/bench/windows/bench_launch.exe" "$bin/"
rm -f "$out/launch.tsv"
status=0
timeout 540 "$KELVOR_WINE" "$bin/bench_launch.exe" "$(wine_path "$bin/kelvor.exe")" \
    "$(wine_path "$bin/bench_target.exe")" "$rounds" "$delay_trials" \
    "$(wine_path "$bin/launch.tsv")" || status=$?
cp "$bin/launch.tsv" "$out/launch.tsv" 2> /dev/null || true
echo "bench_launch exit status $status"
exit "$status"
