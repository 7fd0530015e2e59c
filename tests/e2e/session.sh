#!/usr/bin/env bash
# session.sh start <dir> [win32|win64] | stop <dir>: a Wine session of the e2e suite
# as a CTest fixture. "start" creates it in <dir> (replacing a leftover one), with a
# 32-bit prefix or, given win64, a 64-bit (WoW64) one, and leaves Xvfb and the
# wineserver running for the test cases; "stop" ends exactly those and removes <dir>.
set -u
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source "$here/wine_session.sh"
action=$1
dir=$2
arch=${3:-win32}
case $action in
    start)
        if [ -d "$dir" ]; then
            wine_session_attach "$dir" 2>/dev/null && wine_session_stop
            rm -rf "$dir"
        fi
        KELVOR_WINE_ARCH=$arch wine_session_start "$dir" || exit 1
        echo "Wine session ($arch) in $dir on display $DISPLAY"
        ;;
    stop)
        if wine_session_attach "$dir"; then
            wine_session_stop
        fi
        rm -rf "$dir"
        ;;
    *)
        echo "usage: session.sh start <dir> [win32|win64] | stop <dir>" >&2
        exit 2
        ;;
esac
