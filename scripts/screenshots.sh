#!/usr/bin/env bash
# screenshots.sh: regenerates docs/box-*.png, each message box of kelvor as Wine
# draws it.
#
# Builds kelvor.exe, the test build whose system-mask query fails, and the box
# reader; starts a private Wine session (tests/e2e/wine_session.sh) with Wine
# drawing its own window frames; then for each box runs kelvor so that the box
# appears, lets the box reader hold it open, photographs the Xvfb screen with
# ImageMagick's import and crops the picture to the box's window rectangle (Wine
# reports screen coordinates, which are the X root window's here).
#
# Needs: the mingw-w64 and Wine set-up of scripts/demo.sh, and imagemagick.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
out_dir=$root/docs
cd "$root"

command -v import >/dev/null || {
    echo "screenshots.sh needs ImageMagick's import (apt-get install imagemagick)" >&2
    exit 1
}
cmake --preset mingw-i686 >/dev/null
cmake --build --preset mingw-i686 -j2 --target kelvor kelvor_no_system_mask box_reader >/dev/null
build=$root/build/mingw-i686
kelvor=$build/kelvor.exe
kelvor_no_mask=$build/tests/e2e/kelvor_no_system_mask.exe
box_reader=$build/tests/e2e/box_reader.exe

# shellcheck source=../tests/e2e/wine_session.sh
source "$root/tests/e2e/wine_session.sh"
wine_session_start
trap wine_session_stop EXIT
work=$KELVOR_WINE_DIR/shots
mkdir -p "$work"

# Wine draws caption and frame itself (there is no window manager on Xvfb).
wine reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /t REG_SZ /d N /f >/dev/null 2>&1
wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null 2>&1

# shot <png name> <boxes shown by the run> <exe> <argument>...
# Photographs the first box of the run.
shot() {
    local name=$1 count=$2 exe=$3
    shift 3
    local boxes=$work/${name%.png}.txt
    rm -f "$boxes"
    wine "$box_reader" "$(wine_path "$boxes")" "$count" 120000 2500 </dev/null >/dev/null 2>&1 &
    local reader=$!
    for _ in $(seq 1 1200); do
        grep -q '^ready' "$boxes" 2>/dev/null && break
        sleep 0.05
    done
    wine "$exe" "$@" </dev/null >/dev/null 2>&1 &
    local kelvor_pid=$!
    local line=""
    for _ in $(seq 1 1200); do
        line=$(grep -m1 '^box 1 ' "$boxes" 2>/dev/null || true)
        [ -n "$line" ] && break
        sleep 0.05
    done
    if [ -z "$line" ]; then
        echo "no box appeared for $name" >&2
        return 1
    fi
    # The reader holds the box for 2.5 s after it has recorded it; it is drawn by now.
    sleep 0.7
    local rect left top right bottom
    rect=$(sed -E 's/.* rect=([-0-9,]+) .*/\1/' <<<"$line")
    IFS=, read -r left top right bottom <<<"$rect"
    import -window root -crop "$((right - left))x$((bottom - top))+$left+$top" +repage \
        "$out_dir/$name"
    wait "$kelvor_pid" "$reader"
    echo "$out_dir/$name: $((right - left))x$((bottom - top)) at $left,$top"
}

shot box-usage.png 1 "$kelvor"
shot box-no-system-mask.png 3 "$kelvor_no_mask" 1073741824 3 0 app.exe
shot box-bad-affinity.png 2 "$kelvor" 0 3 0 app.exe
shot box-bad-priority.png 2 "$kelvor" 1 7 0 app.exe
shot box-bad-delay.png 2 "$kelvor" 1 3 60001 app.exe
shot box-launch-failed.png 2 "$kelvor" 1 3 0 'C:\Łódź\missing.exe' /fast
