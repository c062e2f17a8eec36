#!/usr/bin/env bash
# Builds SetUp.exe and every test, then runs all tests under Wine in a fresh
# prefix inside the build folder. Installs what it needs first.
set -euo pipefail
src="$(cd "$(dirname "$0")/.." && pwd)"
build="${BUILD_DIR:-$src/build}"
# What the build makes must be readable by the tests' Wine user.
umask 022

bash "$src/scripts/deps.sh"

. "$src/scripts/env.sh" "$build/wineprefix"

# Run by root, the Wine side runs as nobody (see env.sh), which must reach
# the build's programs and prefix. A clone in root's home (mode 700) is out
# of its reach: the build then goes to a folder of its own under /var/tmp,
# one per clone, which the next run of the same clone builds on.
if [ "$(id -u)" -eq 0 ]; then
    export SETUP_WINE_UID=65534
    if ! reachable_by "$SETUP_WINE_UID" "$build"; then
        if [ -n "${BUILD_DIR:-}" ]; then
            echo "The tests' Wine user (uid $SETUP_WINE_UID) cannot reach BUILD_DIR=$build." >&2
            exit 1
        fi
        build="/var/tmp/tovrel-setup-build-$(printf '%s' "$src" | md5sum | cut -c1-12)"
        export WINEPREFIX="$build/wineprefix"
        echo "Building in $build: the tests' Wine user (nobody) cannot reach $src."
    fi
fi

start=$(date +%s)
setup_build "$src" "$build"

# The pure rules, fuzzed natively: on a full run, or when asked with FUZZ=1.
status=0
if [ $# -eq 0 ] || [ "${FUZZ:-0}" = 1 ]; then
    NATIVE_BUILD_DIR="$build/native" bash "$src/scripts/fuzz.sh" || status=$?
fi

# The build and the fuzzing use every CPU; the Wine tests do not need to. A
# Wine process and the wineserver talk for every window and registry call,
# and a round trip between two CPUs of a small VM costs several times one on
# the same CPU: from here on this shell, Xvfb, the wineserver and every Wine process
# run on one CPU. SETUP_PIN_CPU=no turns it off; a number picks the CPU.
# Measured on 2 vCPUs under other load, 5 runs each, alternated: ctest took
# 16.3 s median (10.6-20.0) pinned, 21.1 s (17.2-29.3) unpinned.
pin="${SETUP_PIN_CPU:-0}"
if [ "$pin" != no ]; then
    taskset -cp "$pin" $$ >/dev/null
    echo "Tests run pinned to CPU $pin (SETUP_PIN_CPU=no to turn off)."
fi

start_headless_session

(cd "$build" && ctest --output-on-failure --no-tests=error "$@") || status=$?
# Tests remove what they copy: a program left in the prefix (a test build
# named SetUp.exe, an uninstaller) is one that someone may later take for
# the program. Wine's own programs are not the tests'.
left="$(cd "$WINEPREFIX" 2>/dev/null && find drive_c drive_d \( -path drive_c/windows -o -path 'drive_c/Program Files/Internet Explorer' \
        -o -path 'drive_c/Program Files/Windows Media Player' -o -path 'drive_c/Program Files/Windows NT' -o -path 'drive_c/Program Files/Common Files' \) -prune \
        -o \( -iname '*.exe' -o -iname '*.dll' \) -print 2>/dev/null || true)"
if [ -n "$left" ]; then
    printf 'Programs the tests left in the prefix:\n%s\n' "$left"
    status=1
fi
# The fault walk's counts; ctest shows a passing test's output to nobody.
grep -h "calls failed\|Crash walk" "$build/Testing/Temporary/LastTest.log" 2>/dev/null || true
echo "Test command took $(( $(date +%s) - start )) s."
exit $status
