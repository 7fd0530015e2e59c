#!/usr/bin/env bash
# demo.sh: kelvor in action under Wine, start to finish, without questions.
#
# Installs what is missing (Debian 12: mingw-w64, Wine with its 32-bit part, Xvfb,
# CMake), builds kelvor.exe and a small target program (the probe), starts a
# private Wine session, runs
#
#     kelvor.exe 1 5 3000 probe.exe
#
# and tells what the probe saw: its affinity mask and priority class before and
# after, and how long after its start the change came. Exits 0 when kelvor did
# what it should (exit code 0, mask 1 AND the system mask, high priority class).
#
# Environment: DEMO_AFFINITY, DEMO_PRIORITY, DEMO_DELAY change the three numbers.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
affinity=${DEMO_AFFINITY:-1}
priority=${DEMO_PRIORITY:-5}
# 3 s: where Wine runs under emulation a program takes a second or two to start,
# and the probe should see its state before the change too.
delay=${DEMO_DELAY:-3000}

say() { printf '%s\n' "$*"; }

# --- 1. Packages, only when missing -------------------------------------------
"$root/scripts/install-deps.sh"

# --- 2. Build ---------------------------------------------------------------------
# In a build directory of its own, so it never shares one with the test builds.
say "Building kelvor.exe and the probe..."
cd "$root"
cmake --preset mingw-i686 -B build/demo >/dev/null
cmake --build build/demo -j2 --target kelvor probe >/dev/null
kelvor=$root/build/demo/kelvor.exe
probe_exe=$root/build/demo/tests/e2e/probe.exe

# --- 3. A private Wine session ----------------------------------------------------
# shellcheck source=../tests/e2e/wine_session.sh
source "$root/tests/e2e/wine_session.sh"
say "Starting a private Wine session (Xvfb display, fresh prefix)..."
wine_session_start 2>/dev/null || {
    say "Could not start Wine; run again with the session log:"
    say "  KELVOR_WINE_KEEP=1 bash scripts/demo.sh   (logs in ${TMPDIR:-/tmp}/kelvor-wine.*)"
    exit 1
}
trap wine_session_stop EXIT

work=$KELVOR_WINE_DIR/demo
mkdir -p "$work"
cp "$probe_exe" "$work/probe.exe"
probe_out=$work/probe.txt

# --- 4. Run kelvor on the probe ---------------------------------------------------
target=$(wine_path "$work/probe.exe")
say ""
say "Running: kelvor.exe $affinity $priority $delay $target"
export KELVOR_PROBE_OUT
KELVOR_PROBE_OUT=$(wine_path "$probe_out")
set +e
wine "$(wine_path "$kelvor")" "$affinity" "$priority" "$delay" "$target" </dev/null >/dev/null 2>&1
kelvor_exit=$?
set -e

# The probe keeps watching for a moment after kelvor has ended, then writes "end".
for _ in $(seq 1 600); do
    grep -q '^end ' "$probe_out" 2>/dev/null && break
    sleep 0.05
done
if ! grep -q '^end ' "$probe_out" 2>/dev/null; then
    say "The target did not report back (no $probe_out)."
    exit 1
fi

# --- 5. Tell what the target saw --------------------------------------------------
# "<level> <class>" lines for the priority levels 1 to 6, from the tests' facts file.
levels=$(python3 -c 'import sys; sys.path.insert(0, sys.argv[1]); import textdata
for level, value in sorted(textdata.priority_classes().items()): print(level, hex(value))' \
    "$root/tests")
class_of() { awk -v level="$1" '$1 == level { print $2 }' <<<"$levels"; }
class_name() {
    case $(awk -v class="$1" '$2 == class { print $1 }' <<<"$levels") in
        1) echo "idle" ;;
        2) echo "below normal" ;;
        3) echo "normal" ;;
        4) echo "above normal" ;;
        5) echo "high" ;;
        6) echo "realtime" ;;
        *) echo "unknown" ;;
    esac
}
field() { awk -v key="$1" -v n="$2" '$1 == key { print $n; exit }' "$probe_out"; }

system_mask=$(field system_mask 2)
first_mask=$(field initial 2)
first_class=$(field initial 3)
last_change=$(awk '$1 == "change" { line = $0 } END { print line }' "$probe_out")
first_change_us=$(field change 2)

say ""
say "kelvor exited with code $kelvor_exit."
say "Windows (Wine) reports the system affinity mask $system_mask."
say "The target started with affinity mask $first_mask and priority class $first_class ($(class_name "$first_class"))."
if [ -z "$last_change" ]; then
    # kelvor had already made the change before the target's first look.
    say "Nothing changed while it watched: the target took longer to start than the"
    say "$delay ms delay (slow Wine start), so it saw only the final state."
    last_mask=$first_mask
    last_class=$first_class
else
    read -r _ _ _ last_mask last_class <<<"$last_change"
    change_ms=$((first_change_us / 1000))
    say "$change_ms ms after its start, its affinity mask became $last_mask and its priority class $last_class ($(class_name "$last_class"))."
    if [ "$change_ms" -lt "$delay" ]; then
        say "(Less than $delay ms: kelvor's wait began when it started the target, and the"
        say " target took a while to get going under Wine before it first looked.)"
    fi
fi

# --- 6. Did kelvor do what was asked? ----------------------------------------------
want_mask=$(printf '0x%08x' $((affinity & system_mask)))
want_class=$(class_of "$priority")
say ""
say "Asked for: affinity $affinity AND system mask = $want_mask, priority $priority = class $want_class, after $delay ms."
ok=1
[ "$kelvor_exit" -eq 0 ] || ok=0
[ "$last_mask" = "$want_mask" ] || ok=0
[ "$last_class" = "$want_class" ] || ok=0
# The exact not-before-the-delay check is in the e2e suite (tests/e2e, group timing),
# which times the change against kelvor's own launch.
if [ "$ok" -eq 1 ]; then
    say "Result: as asked."
    exit 0
fi
say "Result: NOT as asked."
exit 1
