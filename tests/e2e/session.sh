#!/usr/bin/env bash
# session.sh start <dir> <win32|win64> <box_reader.exe> | stop <dir>: a Wine session of
# the e2e suite (wine_session.sh) as a CTest fixture. "start" replaces a leftover one in
# <dir>, has Wine trace kelvor's MessageBoxA calls for runs that ask for a relay trace, and
# starts the box reader of all the session's runs, which also keeps Wine's desktop process
# alive: its restart makes the next window wait 10 s. "stop" ends both and removes <dir>.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source "$here/wine_session.sh"
action=${1:-}
dir=${2:-}
case $action in
    start)
        if [ -d "$dir" ]; then
            if wine_session_attach "$dir" 2>/dev/null; then wine_session_stop || true; fi
            rm -rf "$dir"
        fi
        trap '[ $? -eq 0 ] || { echo "session.sh: start failed" >&2; wine_session_stop || :; }' EXIT
        # The session's functions run without errexit (they check what they need).
        KELVOR_WINE_ARCH=$3 wine_session_start "$dir" || exit 1
        wine reg add 'HKCU\Software\Wine\Debug' /v RelayInclude /t REG_SZ /d user32.MessageBoxA \
            /f </dev/null >/dev/null 2>&1
        # kelvor's caption and kelvor-cpus's, which carries the same release number.
        captions=$(python3 -c 'import sys; sys.path.insert(0, sys.argv[1]); import textdata
facts = textdata.facts()
sys.stdout.write(facts["caption"].decode() + "|KELVOR-CPUS v" + facts["release"].decode())' \
            "$here/..")
        # Up to 2,000,000,000 boxes within 4,000,000,000 ms (46 days): the session's life.
        wine "$4" "$captions" "$(wine_path "$dir/boxes.txt")" 2000000000 4000000000 \
            </dev/null >/dev/null 2>&1 &
        reader=$!
        echo "$reader" >"$dir/box_reader.pid"
        # The reader is looking once it has written its ready line.
        timeout 30 bash -c 'until grep -qs "^ready" "$1"; do sleep 0.05; done' _ "$dir/boxes.txt"
        echo "Wine session ($3) in $dir on display $DISPLAY, box reader pid $reader"
        ;;
    stop)
        if wine_session_attach "$dir"; then
            # The reader first (only while that pid is still a wine process), then the session.
            reader=$(cat "$dir/box_reader.pid" 2>/dev/null || true)
            if [ -n "$reader" ] && grep -qs wine "/proc/$reader/cmdline"; then
                kill "$reader" 2>/dev/null || true
            fi
            wine_session_stop || true
        fi
        rm -rf "$dir"
        ;;
    *)
        echo "usage: session.sh start <dir> <win32|win64> <box_reader.exe> | stop <dir>" >&2
        exit 2
        ;;
esac
