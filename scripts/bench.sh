#!/usr/bin/env bash
# Runs every benchmark and writes docs/BENCHMARKS.md from that one run:
#   size    kelvor.exe against the same launcher linked with mingw-w64's C runtime;
#   reader  ReadNumber against strtold and std::from_chars (Google Benchmark, native);
#   launch  kelvor, `cmd /c start` and a direct start under Wine, and the delay
#           fidelity of kelvor, each trial started and timed (QueryPerformanceCounter)
#           by the e2e suite's raw_runner.exe (bench/windows/launch_trials.py).
# Builds (native/, mingw/) and raw results go to $KELVOR_BENCH_BUILD (default
# build/bench), never to a test build. KELVOR_BENCH_ROUNDS (default 25) launch rounds;
# KELVOR_BENCH_DELAY_TRIALS (default 8) trials per delay; KELVOR_BENCH_SKIP_WINE=1: no Wine.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
out=$(realpath -m "${KELVOR_BENCH_BUILD:-$root/build/bench}")
native=$out/native mingw=$out/mingw
cd "$root"
rounds=${KELVOR_BENCH_ROUNDS:-25}
delay_trials=${KELVOR_BENCH_DELAY_TRIALS:-8}
mkdir -p "$out"
load=$(cut -d' ' -f1-3 /proc/loadavg)
log() { echo "bench: $*" >&2; }

# --- builds -------------------------------------------------------------------
log "building the native reader benchmark"
cmake -S . -B "$native" -DCMAKE_BUILD_TYPE=Release -DKELVOR_BENCH=ON > "$out/native-configure.log"
cmake --build "$native" --target reader_bench -j2 > "$out/native-build.log"
log "building kelvor.exe, the ordinary CRT build, the runner and the target"
cmake --preset mingw-i686 -B "$mingw" -DKELVOR_BENCH=ON > "$out/mingw-configure.log"
cmake --build "$mingw" -j2 --target kelvor kelvor_crt raw_runner bench_target \
    > "$out/mingw-build.log"

# --- reader -------------------------------------------------------------------
log "number reader"
"$native"/bench/native/reader_bench \
    --benchmark_repetitions=7 --benchmark_enable_random_interleaving=true \
    --benchmark_min_time=0.2 --benchmark_report_aggregates_only=true \
    --benchmark_out="$out/reader.json" --benchmark_out_format=json > "$out/reader.txt"

# --- launch and delay under Wine ----------------------------------------------
# 32-bit Wine needs the kernel to run 32-bit programs, natively or through an
# emulator registered with binfmt_misc; say which in the report.
ia32="native"
for entry in /proc/sys/fs/binfmt_misc/*; do
    if grep -qs "^magic 7f454c4601010100000000000000000002000300" "$entry" &&
        grep -qx enabled "$entry"; then
        ia32="through $(sed -n 's/^interpreter //p' "$entry") (user-mode emulation: Wine's own code runs emulated, so absolute times are inflated)"
    fi
done
wine_version=$(timeout 120 wine --version 2>/dev/null || echo "not runnable here")

# The trials in a private Wine session, its programs and results in a path without
# spaces (the target's path goes straight into command lines); the results end in
# $out/launch.json, even those of a run that failed part way.
run_wine() {
    # shellcheck source=../tests/e2e/wine_session.sh
    source tests/e2e/wine_session.sh
    # shellcheck disable=SC2119  # no directory given: the session makes its own
    wine_session_start || { echo "no Wine session could be started here"; exit 1; }
    trap wine_session_stop EXIT
    local bin=$KELVOR_WINE_DIR/bench status=0
    mkdir -p "$bin"
    cp "$mingw/kelvor.exe" "$mingw/bench/windows/bench_target.exe" \
        "$mingw/tests/e2e/raw_runner.exe" "$bin/"
    rm -f "$out/launch.json"
    timeout 900 python3 bench/windows/launch_trials.py "$bin" "$rounds" "$delay_trials" \
        "$out/launch.json" || status=$?
    echo "launch_trials.py exit status $status"
    exit "$status"
}

launch_args=(--launch-skipped "Wine was not run (KELVOR_BENCH_SKIP_WINE=1).")
if [[ "${KELVOR_BENCH_SKIP_WINE:-0}" != 1 ]]; then
    log "launch and delay under Wine ($rounds rounds, $delay_trials trials per delay)"
    if (run_wine) > "$out/wine.log" 2>&1; then
        launch_args=(--launch "$out/launch.json")
    elif [[ -s "$out/launch.json" ]]; then
        launch_args=(--launch "$out/launch.json")
        log "some Wine trials failed; see $out/wine.log"
    else
        reason=$(tail -n 3 "$out/wine.log" | tr '\n' ' ' | sed 's/|/\\|/g')
        launch_args=(--launch-skipped "the Wine session could not run the trials here: $reason")
        log "Wine trials did not run; see $out/wine.log"
    fi
fi

# --- report (sizes read from the exes with pefile, which /usr/bin/python3 sees) -
cpu=$(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -1)
/usr/bin/python3 bench/report.py --exe "$mingw/kelvor.exe" --crt-exe "$mingw/bench/windows/kelvor_crt.exe" \
    --reader "$out/reader.json" "${launch_args[@]}" --out docs/BENCHMARKS.md --machine \
    "nproc=$(nproc)" "cpu=${cpu:-unknown}" "kernel=$(uname -srm)" "wine=$wine_version" \
    "ia32=$ia32" "load=$load" \
    "compilers=$(g++ --version | head -1); $(i686-w64-mingw32-g++ --version | head -1)"
log "wrote docs/BENCHMARKS.md"
