#!/usr/bin/env bash
# screenshots.sh: regenerates docs/box-*.png, each message box of kelvor as Wine draws it:
# in a private Wine session, for each box it runs kelvor while the box reader holds the box
# open, and photographs the box's window rectangle on the Xvfb screen. It builds in
# $KELVOR_SCREENSHOTS_BUILD (default build/screenshots), installs what it needs when
# missing, and ends with a message at any step that fails.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
out_dir=$root/docs
build=${KELVOR_SCREENSHOTS_BUILD:-$root/build/screenshots}
cd "$root"

scripts/install-deps.sh fonts-wine xdotool x11-utils imagemagick
# Wine draws the close cross as the letter "r" of its Marlett font and lays
# dialogs out in its Tahoma; without them the boxes get a stand-in font.
die() {
    echo "screenshots.sh: $*" >&2
    exit 1
}
for wine_fonts in /usr/share/wine/fonts /usr/local/share/wine/fonts ""; do
    [ -f "$wine_fonts/marlett.ttf" ] && [ -f "$wine_fonts/tahoma.ttf" ] && break
done
[ -n "$wine_fonts" ] || die "Wine's fonts are missing (apt-get install fonts-wine)"

caption=$(python3 -c 'import sys; sys.path.insert(0, "tests"); import textdata
sys.stdout.write(textdata.facts()["caption"].decode())')

cmake --preset mingw-i686 -B "$build" >/dev/null
cmake --build "$build" -j2 --target kelvor kelvor_no_system_mask box_reader >/dev/null
kelvor=$build/kelvor.exe
kelvor_no_mask=$build/tests/e2e/kelvor_no_system_mask.exe
box_reader=$build/tests/e2e/box_reader.exe

# shellcheck source=../tests/e2e/wine_session.sh
source "$root/tests/e2e/wine_session.sh"
# 32-bit, so system32 holds the 32-bit user32.dll that is changed below.
KELVOR_WINE_ARCH=win32 wine_session_start
trap wine_session_stop EXIT
work=$KELVOR_WINE_DIR/shots
mkdir -p "$work"

# Debian's Wine 8 looks for its own fonts at "<data dir>\../fonts", a path it
# cannot open, so it never loads them; in the prefix's Fonts folder it does.
cp "$wine_fonts"/* "$WINEPREFIX/drive_c/windows/Fonts/"
# Wine's message box wraps its text at 176 dialog units, the width of the text
# control in its MSGBOX dialog template; on Windows the box grows with its text.
# kelvor runs with this prefix's copy of Wine's user32.dll, whose templates (one
# a language) get a text control of 416 units (624 pixels here), loaded as a
# native DLL: without the builtin mark in its DOS stub.
python3 - "$WINEPREFIX/drive_c/windows/system32/user32.dll" <<'PY'
import sys

path = sys.argv[1]
data = open(path, "rb").read()
# Style, extended style, x 32, y 4, width 176, height 48, id 0xffff, class Static.
text_control = bytes.fromhex("80000250" "00000000" "2000" "0400" "b000" "3000" "ffff" "ffff8200")
wider = text_control.replace(bytes.fromhex("b000"), bytes.fromhex("a001"), 1)
if text_control not in data or data[0x40:0x50] != b"Wine builtin DLL":
    sys.exit(f"screenshots.sh: {path} is not the Wine user32.dll this script knows")
data = data.replace(text_control, wider)
open(path, "wb").write(data[:0x40] + bytes(16) + data[0x50:])
PY
kelvor_env=(env "WINEDLLOVERRIDES=$WINEDLLOVERRIDES;user32=n")

# Wine draws caption and frame itself (there is no window manager on Xvfb; the
# session has Wine manage its windows), and takes the X keyboard focus as
# activation, which no window manager offers here.
x11='HKCU\Software\Wine\X11 Driver'
wine reg add "$x11" /v Decorated /t REG_SZ /d N /f >/dev/null 2>&1
wine reg add "$x11" /v UseTakeFocus /t REG_SZ /d N /f >/dev/null 2>&1
root_window=$(xwininfo -root | awk '/Window id/ { print $4 }')

# poll <error> <command>...: the first output of the command, tried every 0.05 s
# for up to 60 s (Wine may start slowly); the error when there is none by then.
poll() {
    local error=$1 out
    shift
    for _ in $(seq 1 1200); do
        out=$("$@" 2>/dev/null || true)
        [ -n "$out" ] && { printf '%s\n' "$out"; return 0; }
        sleep 0.05
    done
    die "$error"
}
box_window() { xdotool search --onlyvisible --name "^${caption//./\\.}\$" | tail -n 1; }

# shot <png name> <boxes shown by the run> <exe> <argument>...
# Photographs the first box of the run.
shot() {
    local name=$1 count=$2 exe=$3
    shift 3
    local boxes=$work/${name%.png}.txt line window
    rm -f "$boxes"
    wine "$box_reader" "$caption" "$(wine_path "$boxes")" "$count" 120000 4000 \
        </dev/null >/dev/null 2>&1 &
    local reader=$!
    poll "the box reader did not start for $name" grep -m1 '^ready' "$boxes" >/dev/null
    "${kelvor_env[@]}" wine "$exe" "$@" </dev/null >/dev/null 2>&1 &
    local kelvor_pid=$!
    line=$(poll "no box appeared for $name" grep -m1 '^box 1 ' "$boxes")
    # The box as Windows shows it, active. Wine activates a new box before it is
    # the foreground window and draws its caption inactive; the focus leaving
    # and coming back makes it the foreground window and redraws the caption.
    window=$(poll "no visible window captioned $caption for $name" box_window)
    timeout 5 xdotool windowfocus --sync "$root_window" || true
    timeout 5 xdotool windowfocus --sync "$window" || true
    # The reader holds the box for 4 s after it has recorded it: photograph it until
    # two pictures in a row agree, so the redraw has landed.
    local rect left top right bottom previous="" picture=""
    rect=$(sed -E 's/.* rect=([-0-9,]+) .*/\1/' <<<"$line")
    IFS=, read -r left top right bottom <<<"$rect"
    for _ in $(seq 1 12); do
        sleep 0.25
        import -window root -crop "$((right - left))x$((bottom - top))+$left+$top" +repage \
            "$out_dir/$name"
        picture=$(md5sum <"$out_dir/$name")
        [ "$picture" = "$previous" ] && break
        previous=$picture
    done
    [ "$picture" = "$previous" ] || die "the box for $name did not settle in 3 s"
    wait "$reader" || die "the box reader did not see $count box(es) for $name (see $boxes)"
    wait "$kelvor_pid" || die "kelvor did not end with exit code 0 for $name"
    echo "$out_dir/$name: $((right - left))x$((bottom - top)) at $left,$top"
}

# The refusals as the launch runs table (tests/data/launch_runs.def) has them: its
# first e2e row that shows each box first. Its words stand as kelvor's arguments.
refusals=$(python3 - "$root/tests" <<'PY'
import sys
sys.path[:0] = [sys.argv[1], sys.argv[1] + "/e2e"]
from e2e import RUNS
for box in ("usage", "no_system_mask", "bad_affinity", "bad_priority", "bad_delay"):
    row = next(r for r in RUNS if r["group"] != "unit" and r["boxes"][0] == box)
    print(box, len(row["boxes"]), row["mask"], row["arg"].decode())
PY
)
while read -r box count mask words; do
    exe=$kelvor
    [ "$mask" = unknown ] && exe=$kelvor_no_mask
    # shellcheck disable=SC2086  # the argument text's words
    shot "box-${box//_/-}.png" "$count" "$exe" $words
done <<<"$refusals"
shot box-launch-failed.png 2 "$kelvor" 1 3 0 'C:\Łódź\missing.exe' /fast
