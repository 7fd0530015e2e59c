#!/usr/bin/env bash
# install-deps.sh [<package>...]: installs, without asking, the Debian 12 packages
# that building, running and testing kelvor need, and any named on the command
# line; does nothing when they are all there already. On a machine that cannot
# run 32-bit x86 Linux programs (Wine's 32-bit part is one), it then has them run
# through QEMU's user-mode emulator.
set -euo pipefail

packages=(
    cmake g++ clang libclang-rt-14-dev libgtest-dev libbenchmark-dev python3 zip
    osslsigncode openssl python3-markdown python3-yaml python3-pefile
    mingw-w64 wine wine64 wine32:i386 xvfb python3-pil
    chromium chromium-driver python3-selenium
    "$@"
)
# wine64 is there for its native wineserver: where 32-bit programs run only under
# emulation, that keeps Wine's server out of the emulator.

as_root=()
[ "$(id -u)" -eq 0 ] || as_root=(sudo)

if ! dpkg --print-foreign-architectures | grep -qx i386; then
    "${as_root[@]}" dpkg --add-architecture i386
fi

missing=()
for package in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$package")
    fi
done

if [ ${#missing[@]} -gt 0 ]; then
    echo "install-deps: installing ${missing[*]}"
    "${as_root[@]}" apt-get update -qq
    "${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}" >/dev/null
fi

# 32-bit programs: where the kernel refuses them (exec format error, as in some
# virtual machines), qemu-i386 runs them, registered with binfmt_misc as
# "kelvor-i386" (mounting binfmt_misc needs a privileged container). QEMU before 8
# (bookworm's 7.2) ignores Wine's address hints and fails to place its shared user
# data page, so qemu-i386 comes from bookworm-backports' qemu-user (10.x), fetched
# once with apt-get download into a private apt state (nothing is installed,
# /etc/apt is untouched) and unpacked into ${XDG_CACHE_HOME:-~/.cache}/kelvor/. The
# entry lasts until the next reboot; emulated programs start in a second or two.
binfmt=/proc/sys/fs/binfmt_misc
entry=$binfmt/kelvor-i386

can_run_32bit() { /lib/ld-linux.so.2 --version >/dev/null 2>&1; }

# The major version of the qemu-i386 at $1, or 0.
qemu_major() {
    local line
    line=$("$1" --version 2>/dev/null | head -n 1)
    line=${line#*version }
    echo "${line%%.*}" | grep -E '^[0-9]+$' || echo 0
}

# The path of a qemu-i386 new enough to run Wine, fetched if needed. It runs inside
# $(...), where errexit is off: each step that can fail is checked here.
find_qemu() {
    local candidate
    for candidate in /usr/bin/qemu-i386 /usr/bin/qemu-i386-static; do
        if [ -x "$candidate" ] && [ "$(qemu_major "$candidate")" -ge 8 ]; then
            echo "$candidate"
            return 0
        fi
    done
    local cache=${XDG_CACHE_HOME:-$HOME/.cache}/kelvor/qemu-user
    if [ ! -x "$cache/usr/bin/qemu-i386" ]; then
        echo "install-deps: fetching qemu-user from Debian backports into $cache" >&2
        local apt=$cache.apt mirror codename
        rm -rf "$apt"
        mkdir -p "$apt/lists/partial" "$apt/cache/archives/partial"
        # The backports suite of the Debian mirror this machine already uses.
        mirror=$(grep -hE '^(URIs:|deb )' /etc/apt/sources.list /etc/apt/sources.list.d/*.sources \
            /etc/apt/sources.list.d/*.list 2>/dev/null | grep '/debian' | grep -v -- '-security' |
            head -n 1 | sed -E 's/^URIs: *//; s/^deb (\[[^]]*\] )?//; s/ .*//')
        codename=$(. /etc/os-release && echo "$VERSION_CODENAME")
        [ -n "$mirror" ] && [ -n "$codename" ] || {
            echo "install-deps: no Debian mirror found in the apt sources" >&2
            return 1
        }
        echo "deb $mirror $codename-backports main" >"$apt/sources.list"
        local opts=(-q -o "Dir::Etc::sourcelist=$apt/sources.list" -o "Dir::Etc::sourceparts=-"
            -o "Dir::State::Lists=$apt/lists" -o "Dir::Cache=$apt/cache")
        (apt-get "${opts[@]}" update >"$apt/log" 2>&1 &&
            cd "$apt" && apt-get "${opts[@]}" download "qemu-user/$codename-backports" >>"$apt/log" 2>&1) || {
            echo "install-deps: could not fetch qemu-user (see $apt/log)" >&2
            return 1
        }
        mkdir -p "$cache" && dpkg-deb -x "$apt"/qemu-user_*.deb "$cache" || {
            echo "install-deps: could not unpack qemu-user into $cache (see $apt)" >&2
            return 1
        }
        rm -rf "$apt"
    fi
    echo "$cache/usr/bin/qemu-i386"
}

# An entry with an old emulator is replaced.
if [ -e "$entry" ]; then
    current=$(sed -n 's/^interpreter //p' "$entry")
    if [ -x "$current" ] && [ "$(qemu_major "$current")" -lt 8 ]; then
        echo -1 | "${as_root[@]}" tee "$entry" >/dev/null
    fi
fi
if ! can_run_32bit; then
    qemu=$(find_qemu)
    [ -e "$binfmt/register" ] || "${as_root[@]}" mount -t binfmt_misc binfmt_misc "$binfmt"
    [ -e "$entry" ] && echo -1 | "${as_root[@]}" tee "$entry" >/dev/null
    # 32-bit x86 ELF programs (executables and PIEs); "F" opens the interpreter at
    # registration, so it works in any mount namespace and even if the file goes.
    printf ':kelvor-i386:M::%s:%s:%s:F\n' \
        '\x7f\x45\x4c\x46\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00' \
        '\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff' \
        "$qemu" | "${as_root[@]}" tee "$binfmt/register" >/dev/null
    can_run_32bit || {
        echo "install-deps: 32-bit programs still do not run through $qemu" >&2
        exit 1
    }
    echo "install-deps: 32-bit programs run through $qemu (binfmt_misc entry kelvor-i386)"
fi
