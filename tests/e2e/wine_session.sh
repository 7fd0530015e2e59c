# wine_session.sh: a private Wine session (own Xvfb display, own prefix, own
# wineserver) for running Windows programs in tests, benchmarks and demos.
#
# Use it from bash:
#
#   source tests/e2e/wine_session.sh
#   wine_session_start            # or: wine_session_start /some/dir
#   trap wine_session_stop EXIT
#   wine "$(wine_path build/mingw-i686/kelvor.exe)" 1 3 0 notepad
#
# wine_session_start [<dir>] makes <dir> (default: a new directory from mktemp -d),
# starts an Xvfb of its own there on a free display number (Xvfb -displayfd picks
# it), creates a fresh prefix <dir>/prefix without any prompt (no Mono or Gecko
# installers), 32-bit unless KELVOR_WINE_ARCH=win64 asks for a 64-bit (WoW64) one,
# where 32-bit programs run beside 64-bit ones as on 64-bit Windows, and starts a
# persistent wineserver for that prefix with DISPLAY set, so that message boxes
# have a display to appear on. It exports:
#
#   KELVOR_WINE_DIR   the session directory (Xvfb log, prefix, scratch files)
#   DISPLAY           the private Xvfb display, e.g. :5
#   WINEPREFIX        <dir>/prefix
#   WINEARCH          win32 or win64 (also written to <dir>/arch)
#   WINEDEBUG=-all  WINEDLLOVERRIDES="mscoree,mshtml="
#   KELVOR_WINE       the wine loader to run programs with ("wine")
#
# wine_session_stop ends only what wine_session_start started: the wineserver of
# this prefix (wineserver -k with this WINEPREFIX) and this Xvfb (by its pid). It
# removes the session directory unless KELVOR_WINE_KEEP=1 or the directory was
# given by the caller.
#
# wine_session_attach <dir> sets the environment of a session that another process
# started in <dir> (its arch too), so that process can use it or stop it.
#
# wine_path <unix path> prints the Windows form of an absolute or relative path on
# Wine's Z: drive (Z:\tmp\x\probe.txt).
#
# Hosts that cannot run 32-bit x86 Linux programs: wine32 is a 32-bit Linux
# program. Where the kernel refuses those (exec format error, as in some virtual
# machines), the session runs them through QEMU's user-mode emulator qemu-i386,
# registered with binfmt_misc as "kelvor-i386" (needs root). QEMU older than 8
# (bookworm's 7.2) cannot start Wine usefully: it ignores Wine's address hints,
# so each Wine process spends a minute reserving memory and then fails to place
# its shared user data page. The session therefore uses qemu-i386 from Debian's
# bookworm-backports qemu-user package (10.x), fetched once with apt-get download
# into a private apt state (nothing is installed, /etc/apt is not touched) and
# unpacked into ${XDG_CACHE_HOME:-~/.cache}/kelvor/. The binfmt entry is
# system-wide and is left in place for later sessions. Emulated programs start in
# a second or two each.
#
# Environment read: KELVOR_WINE_START_TIMEOUT (seconds for prefix creation, default 600),
# KELVOR_WINE_ARCH (win32, the default, or win64).

# The binfmt_misc entry that sends 32-bit x86 ELF programs (executables and PIEs)
# to qemu-i386. "F" opens the interpreter at registration, so it works in any
# mount namespace and even if the file is later removed.
_wine_session_binfmt_name=kelvor-i386
_wine_session_binfmt_magic='\x7f\x45\x4c\x46\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
_wine_session_binfmt_mask='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'

_wine_session_log() {
    echo "wine_session: $*" >&2
}

# True when this machine can execute 32-bit x86 Linux programs (natively or via binfmt).
wine_session_can_run_32bit() {
    local loader=/lib/ld-linux.so.2
    [ -e "$loader" ] && "$loader" --version >/dev/null 2>&1
}

# Prints the major version of the qemu-i386 at $1, or 0.
_wine_session_qemu_major() {
    local line
    line=$("$1" --version 2>/dev/null | head -n 1)
    line=${line#*version }
    echo "${line%%.*}" | grep -E '^[0-9]+$' || echo 0
}

# Prints the path of a qemu-i386 new enough to run Wine, fetching one if needed.
wine_session_find_qemu() {
    local candidate
    for candidate in /usr/bin/qemu-i386 /usr/bin/qemu-i386-static; do
        if [ -x "$candidate" ] && [ "$(_wine_session_qemu_major "$candidate")" -ge 8 ]; then
            echo "$candidate"
            return 0
        fi
    done
    local cache=${XDG_CACHE_HOME:-$HOME/.cache}/kelvor/qemu-user
    if [ -x "$cache/usr/bin/qemu-i386" ]; then
        echo "$cache/usr/bin/qemu-i386"
        return 0
    fi
    _wine_session_log "fetching qemu-user from Debian backports into $cache"
    local apt=$cache.apt
    rm -rf "$apt"
    mkdir -p "$apt/lists/partial" "$apt/cache/archives/partial" || return 1
    # The backports suite of the Debian mirror this machine already uses.
    local mirror codename
    mirror=$(grep -hE '^(URIs:|deb )' /etc/apt/sources.list /etc/apt/sources.list.d/*.sources \
        /etc/apt/sources.list.d/*.list 2>/dev/null | grep '/debian' | grep -v -- '-security' |
        head -n 1 | sed -E 's/^URIs: *//; s/^deb (\[[^]]*\] )?//; s/ .*//')
    codename=$(. /etc/os-release && echo "$VERSION_CODENAME")
    [ -n "$mirror" ] && [ -n "$codename" ] || {
        _wine_session_log "no Debian mirror found in the apt sources"
        return 1
    }
    echo "deb $mirror $codename-backports main" >"$apt/sources.list"
    local opts=(-q -o "Dir::Etc::sourcelist=$apt/sources.list" -o "Dir::Etc::sourceparts=-"
        -o "Dir::State::Lists=$apt/lists" -o "Dir::Cache=$apt/cache")
    (apt-get "${opts[@]}" update >"$apt/log" 2>&1 &&
        cd "$apt" && apt-get "${opts[@]}" download "qemu-user/$codename-backports" >>"$apt/log" 2>&1) || {
        _wine_session_log "could not fetch qemu-user (see $apt/log)"
        return 1
    }
    mkdir -p "$cache" && dpkg-deb -x "$apt"/qemu-user_*.deb "$cache" || return 1
    rm -rf "$apt"
    echo "$cache/usr/bin/qemu-i386"
}

# Makes 32-bit x86 Linux programs runnable through qemu-i386 if they are not.
wine_session_ensure_32bit() {
    local entry=/proc/sys/fs/binfmt_misc/$_wine_session_binfmt_name
    if [ -e "$entry" ]; then
        local current
        current=$(sed -n 's/^interpreter //p' "$entry")
        if [ -x "$current" ] && [ "$(_wine_session_qemu_major "$current")" -lt 8 ]; then
            echo -1 >"$entry"  # an old emulator: replace it below
        fi
    fi
    wine_session_can_run_32bit && return 0
    local qemu
    qemu=$(wine_session_find_qemu) || return 1
    if [ ! -e /proc/sys/fs/binfmt_misc/register ]; then
        mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc || return 1
    fi
    [ -e "$entry" ] && echo -1 >"$entry"
    printf ':%s:M::%s:%s:%s:F\n' "$_wine_session_binfmt_name" "$_wine_session_binfmt_magic" \
        "$_wine_session_binfmt_mask" "$qemu" >/proc/sys/fs/binfmt_misc/register || return 1
    wine_session_can_run_32bit || {
        _wine_session_log "32-bit programs still do not run through $qemu"
        return 1
    }
    _wine_session_log "32-bit programs run through $qemu (binfmt_misc entry $_wine_session_binfmt_name)"
}

wine_path() {
    local path=$1
    case $path in
        /*) ;;
        *) path=$PWD/$path ;;
    esac
    printf 'Z:%s\n' "${path//\//\\}"
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
    _wine_session_own_dir=0
    if [ -z "$dir" ]; then
        dir=$(mktemp -d "${TMPDIR:-/tmp}/kelvor-wine.XXXXXX") || return 1
        _wine_session_own_dir=1
    fi
    mkdir -p "$dir" || return 1
    export KELVOR_WINE_DIR=$dir
    wine_session_ensure_32bit || return 1

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
    export DISPLAY=:$display
    echo "$DISPLAY" >"$dir/display"

    export WINEPREFIX=$dir/prefix
    export WINEARCH=$arch
    echo "$arch" >"$dir/arch"
    export WINEDEBUG=-all
    export WINEDLLOVERRIDES="mscoree,mshtml="
    export KELVOR_WINE=wine
    unset WINELOADER WINESERVER

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
    if ! timeout "${KELVOR_WINE_START_TIMEOUT:-600}" wine wineboot -i </dev/null >"$dir/wineboot.log" 2>&1; then
        _wine_session_log "wineboot failed (see $dir/wineboot.log)"
        wine_session_stop
        return 1
    fi
    _wine_session_log "display $DISPLAY, $arch prefix $WINEPREFIX ready in $((SECONDS - started)) s"
}

# Takes over a session that another process started in <dir> (for test fixtures
# whose set-up and clean-up run as separate processes): sets the same environment.
wine_session_attach() {
    local dir=${1:-}
    [ -f "$dir/display" ] && [ -d "$dir/prefix" ] || {
        _wine_session_log "no Wine session in $dir"
        return 1
    }
    export KELVOR_WINE_DIR=$dir
    DISPLAY=$(cat "$dir/display")
    export DISPLAY
    # Sessions from before the arch file were all 32-bit.
    WINEARCH=$(cat "$dir/arch" 2>/dev/null || echo win32)
    export WINEPREFIX=$dir/prefix WINEARCH WINEDEBUG=-all
    export WINEDLLOVERRIDES="mscoree,mshtml=" KELVOR_WINE=wine
    unset WINELOADER WINESERVER
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
