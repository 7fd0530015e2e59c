# wine_session.sh: a private Wine session (own Xvfb display, own prefix, own
# wineserver) for running Windows programs in tests, benchmarks and demos. From bash:
#
#   source tests/e2e/wine_session.sh
#   wine_session_start            # or: wine_session_start /some/dir
#   trap wine_session_stop EXIT
#   wine "$(wine_path build/mingw-i686/kelvor.exe)" 1 3 0 notepad
#
# wine_session_start [<dir>] (default: a new one from mktemp -d) starts an Xvfb on a free
# display, a fresh prefix <dir>/prefix (32-bit unless KELVOR_WINE_ARCH=win64 asks for
# WoW64; KELVOR_WINE_START_TIMEOUT seconds to make it, default 600) and a persistent
# wineserver with that DISPLAY; it writes its environment to <dir>/env and exports it.
# wine_session_stop ends only what wine_session_start started and removes the directory
# unless KELVOR_WINE_KEEP=1 or the caller gave it. wine_session_attach <dir> takes over a
# session another process started. wine_path <path> prints a path's Windows form on Z:.

_wine_session_log() {
    echo "wine_session: $*" >&2
}

wine_path() {
    local path=$1
    case $path in
        /*) ;;
        *) path=$PWD/$path ;;
    esac
    printf 'Z:%s\n' "${path//\//\\}"
}

# Exports the session environment that <dir>/env holds.
_wine_session_load() {
    local line
    while IFS= read -r line; do
        export "${line?}"
    done <"$1/env"
    export KELVOR_WINE_DIR=$1
    unset WINELOADER WINESERVER
}

wine_session_start() {
    local dir=${1:-}
    local arch=${KELVOR_WINE_ARCH:-win32}
    case $arch in
        win32 | win64) ;;
        *)
            _wine_session_log "KELVOR_WINE_ARCH must be win32 or win64, not $arch"
            return 1
            ;;
    esac
    if ! /lib/ld-linux.so.2 --version >/dev/null 2>&1; then
        _wine_session_log "32-bit programs do not run here: run scripts/install-deps.sh first"
        return 1
    fi
    _wine_session_own_dir=0
    if [ -z "$dir" ]; then
        dir=$(mktemp -d "${TMPDIR:-/tmp}/kelvor-wine.XXXXXX") || return 1
        _wine_session_own_dir=1
    fi
    mkdir -p "$dir" || return 1
    export KELVOR_WINE_DIR=$dir

    # Xvfb writes its display number to the descriptor given by -displayfd once it
    # is ready to take clients; a FIFO lets us wait for that without polling.
    local fifo=$dir/displayfd
    rm -f "$fifo"
    mkfifo "$fifo" || return 1
    Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$fifo" \
        </dev/null >"$dir/xvfb.log" 2>&1 &
    _wine_session_xvfb_pid=$!
    echo "$_wine_session_xvfb_pid" >"$dir/xvfb.pid"
    local display=""
    read -r -t 30 display <"$fifo"
    rm -f "$fifo"
    if [ -z "$display" ]; then
        _wine_session_log "Xvfb did not start (see $dir/xvfb.log)"
        wine_session_stop
        return 1
    fi
    printf '%s\n' "DISPLAY=:$display" "WINEPREFIX=$dir/prefix" "WINEARCH=$arch" WINEDEBUG=-all \
        "WINEDLLOVERRIDES=mscoree,mshtml=" >"$dir/env"
    _wine_session_load "$dir"

    # The server needs the prefix directory; wineboot fills it in.
    mkdir -p "$WINEPREFIX" || return 1
    # A persistent server first, so every later wine call of this session joins it
    # and it keeps the DISPLAY it was started with.
    # Its output goes to a file: a server holding the caller's stdout open would
    # keep a pipe reader (a test runner, `| tail`) waiting until the session ends.
    wineserver -p </dev/null >"$dir/wineserver.log" 2>&1 || {
        _wine_session_log "wineserver did not start"
        wine_session_stop
        return 1
    }
    local started=$SECONDS
    # Wine manages its windows itself: with no window manager, hiding one would wait 2 s.
    if ! timeout "${KELVOR_WINE_START_TIMEOUT:-600}" wine wineboot -i </dev/null >"$dir/wineboot.log" 2>&1 ||
        ! wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f \
            </dev/null >>"$dir/wineboot.log" 2>&1; then
        _wine_session_log "wineboot failed (see $dir/wineboot.log)"
        wine_session_stop
        return 1
    fi
    _wine_session_log "display $DISPLAY, $arch prefix $WINEPREFIX ready in $((SECONDS - started)) s"
}

# Takes over a session that another process started in <dir> (for test fixtures
# whose set-up and clean-up run as separate processes).
wine_session_attach() {
    local dir=${1:-}
    [ -f "$dir/env" ] && [ -d "$dir/prefix" ] || {
        _wine_session_log "no Wine session in $dir"
        return 1
    }
    _wine_session_load "$dir"
    _wine_session_xvfb_pid=$(cat "$dir/xvfb.pid" 2>/dev/null)
    _wine_session_own_dir=0
}

wine_session_stop() {
    if [ -n "${WINEPREFIX:-}" ] && [ -d "$WINEPREFIX" ]; then
        WINEPREFIX=$WINEPREFIX timeout 60 wineserver -k >/dev/null 2>&1
        WINEPREFIX=$WINEPREFIX timeout 30 wineserver -w >/dev/null 2>&1
    fi
    # Only our own Xvfb: the pid must still belong to an Xvfb process.
    if [ -n "${_wine_session_xvfb_pid:-}" ] &&
        tr '\0' ' ' <"/proc/$_wine_session_xvfb_pid/cmdline" 2>/dev/null | grep -q '^Xvfb '; then
        kill "$_wine_session_xvfb_pid" 2>/dev/null
        wait "$_wine_session_xvfb_pid" 2>/dev/null
        _wine_session_xvfb_pid=""
    fi
    if [ "${_wine_session_own_dir:-0}" = 1 ] && [ "${KELVOR_WINE_KEEP:-0}" != 1 ] &&
        [ -n "${KELVOR_WINE_DIR:-}" ]; then
        rm -rf "$KELVOR_WINE_DIR"
    fi
    return 0
}
