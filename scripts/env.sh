# Sourced by the scripts: the Wine environment of one prefix.
# Usage: . scripts/env.sh PREFIX_DIR
export WINEPREFIX="$1"
export WINEARCH=win64
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="mscoree,mshtml="
export LC_ALL=zh_CN.UTF-8

# Root under Wine ignores read-only bits and folder rights, which bind every
# Windows administrator; the tests' Wine side runs as an unprivileged user
# instead. test.sh sets SETUP_WINE_UID (nobody, 65534) when run as root, and
# start_wine gives the new prefix to that user. From then on every Wine
# command of the prefix runs as the prefix's owner: as_prefix_owner here,
# wine-run.sh for ctest.
prefix_owner_runner() {
    local owner
    owner="$(stat -c %u "$WINEPREFIX" 2>/dev/null || echo 0)"
    RUN_AS=()
    if [ "$(id -u)" -eq 0 ] && [ "$owner" -ne 0 ]; then
        RUN_AS=(setpriv --reuid="$owner" --regid="$(stat -c %g "$WINEPREFIX")" --clear-groups
                env HOME="$WINEPREFIX.home" USER="$(id -nu "$owner" 2>/dev/null || echo "$owner")")
    fi
}
as_prefix_owner() {
    prefix_owner_runner
    "${RUN_AS[@]}" "$@"
}

# Whether user uid can reach path: every existing folder on the way must
# let it pass (a clone in root's home, mode 700, does not).
reachable_by() {
    local uid="$1" path="$2"
    while [ ! -e "$path" ]; do path="$(dirname "$path")"; done
    setpriv --reuid="$uid" --regid="$uid" --clear-groups test -x "$path" 2>/dev/null
}

# Builds SetUp.exe and the tests into $BUILD_DIR.
setup_build() {
    local src="$1" build="$2"
    cmake -S "$src" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$src/cmake/mingw-w64-x86_64.cmake" \
          -DCMAKE_BUILD_TYPE=Release -DSETUP_WINEPREFIX="$WINEPREFIX" >/dev/null
    cmake --build "$build" -j "$(nproc)"
}

# Starts Xvfb on a free display and exports DISPLAY; sets XVFB_PID.
start_xvfb() {
    local n
    for n in $(seq 90 140); do
        [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] || break
    done
    Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
    XVFB_PID=$!
    export DISPLAY=":$n"
    for _ in $(seq 50); do
        [ -e "/tmp/.X11-unix/X$n" ] && return 0
        sleep 0.1
    done
    echo "Xvfb did not start" >&2
    return 1
}

# Wine's folder browser finds the folder it is asked to select by comparing
# item ids byte for byte, and an id holds the folder's last-access time. A
# listing that moves an access time between two looks (relatime does, once
# after each change of a folder) makes the browser select nothing. With the
# no-access-time attribute on the empty prefix folder, ext4 passes it on to
# everything created inside, and access times stand still.
keep_access_times() {
    if ! chattr +A "$1" 2>/dev/null; then
        echo "Note: $(stat -f -c %T "$1") at $1 cannot keep access times still (chattr +A);" \
             "the folder browser tests settle them before each browse instead." >&2
    fi
}

# Makes a fresh prefix and keeps one wineserver for it until stop_wine. With
# SETUP_WINE_UID, the prefix (and a home beside it) belongs to that user.
start_wine() {
    rm -rf "$WINEPREFIX" "$WINEPREFIX.home"
    mkdir -p "$WINEPREFIX"
    keep_access_times "$WINEPREFIX"
    if [ -n "${SETUP_WINE_UID:-}" ] && [ "$(id -u)" -eq 0 ]; then
        mkdir -p "$WINEPREFIX.home"
        chown "$SETUP_WINE_UID:$SETUP_WINE_UID" "$WINEPREFIX" "$WINEPREFIX.home"
    fi
    as_prefix_owner wineserver -p
    as_prefix_owner wine wineboot --init >/dev/null 2>&1
    # Wine draws the caption buttons with Marlett, which this Wine build does
    # not find in its own data folder: without it they show as "0 1 r".
    if [ -f /usr/share/wine/fonts/marlett.ttf ]; then
        as_prefix_owner cp /usr/share/wine/fonts/marlett.ttf "$WINEPREFIX/drive_c/windows/Fonts/"
    fi
    # A second drive, D:, for tests that install into a drive root.
    as_prefix_owner mkdir -p "$WINEPREFIX/drive_d"
    as_prefix_owner ln -sfn ../drive_d "$WINEPREFIX/dosdevices/d:"
    # Unmanaged windows under Xvfb: without this every dialog close waits
    # about 2 s. On a user's own display the window manager keeps them.
    if [ "${SETUP_MANAGED_WINDOWS:-0}" != 1 ]; then
        as_prefix_owner wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null 2>&1
    fi
    as_prefix_owner wine reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /t REG_SZ /d Y /f >/dev/null 2>&1
}

stop_wine() {
    as_prefix_owner wineserver -k 2>/dev/null || true
    as_prefix_owner wineserver -w 2>/dev/null || true
}

# Stops the prefix's wineserver and the Xvfb of start_xvfb, if any.
stop_session() {
    stop_wine
    [ -z "${XVFB_PID:-}" ] || kill "$XVFB_PID" 2>/dev/null || true
}

# A headless session: Xvfb, a fresh prefix with its wineserver, both
# stopped when the script exits.
start_headless_session() {
    trap stop_session EXIT
    start_xvfb
    start_wine
}
