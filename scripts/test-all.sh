#!/usr/bin/env bash
# Runs every test of kelvor on a Debian 12 machine, installing what is missing:
# the unit tests natively and under AddressSanitizer/UBSan, a short run of every
# fuzz target, both Windows builds (GCC and Clang) with their checks, and the
# real kelvor.exe under Wine (end-to-end and release reproducibility).
set -uo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh || exit 1

failed=()
stage() {
    local preset=$1
    echo "== $preset"
    if cmake --preset "$preset" >/dev/null && cmake --build --preset "$preset" -j 2 &&
        ctest --preset "$preset"; then
        return 0
    fi
    failed+=("$preset")
}

stage native
stage sanitize
stage fuzz
stage clang-mingw-i686
stage mingw-i686

if [ ${#failed[@]} -gt 0 ]; then
    echo "test-all: FAILED in: ${failed[*]}"
    exit 1
fi
echo "test-all: every stage passed"
