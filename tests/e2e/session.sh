#!/usr/bin/env bash
# session.sh start|stop <dir>: the Wine session of the e2e suite as a CTest fixture.
# "start" creates it in <dir> (replacing a leftover one) and leaves Xvfb and the
# wineserver running for the test cases; "stop" ends exactly those and removes <dir>.
set -u
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source "$here/wine_session.sh"
action=$1
dir=$2
case $action in
    start)
        if [ -d "$dir" ]; then
            wine_session_attach "$dir" 2>/dev/null && wine_session_stop
            rm -rf "$dir"
        fi
        wine_session_start "$dir" || exit 1
        echo "Wine session in $dir on display $DISPLAY"
        ;;
    stop)
        if wine_session_attach "$dir"; then
            wine_session_stop
        fi
        rm -rf "$dir"
        ;;
    *)
        echo "usage: session.sh start|stop <dir>" >&2
        exit 2
        ;;
esac
