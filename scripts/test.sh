#!/usr/bin/env bash
# Builds SetUp.exe and every test, then runs all tests under Wine in a fresh
# prefix inside the build folder. Installs what it needs first.
set -euo pipefail
src="$(cd "$(dirname "$0")/.." && pwd)"
build="${BUILD_DIR:-$src/build}"

bash "$src/scripts/deps.sh"
. "$src/scripts/env.sh" "$build/wineprefix"

start=$(date +%s)
setup_build "$src" "$build"

# The pure rules, fuzzed natively: on a full run, or when asked with FUZZ=1.
status=0
if [ $# -eq 0 ] || [ "${FUZZ:-0}" = 1 ]; then
    NATIVE_BUILD_DIR="$build/native" bash "$src/scripts/fuzz.sh" || status=$?
fi

start_xvfb
cleanup() {
    stop_wine
    kill "$XVFB_PID" 2>/dev/null || true
}
trap cleanup EXIT
start_wine

(cd "$build" && ctest --output-on-failure --no-tests=error "$@") || status=$?
# The fault walk's counts; ctest shows a passing test's output to nobody.
grep -h "calls failed" "$build/Testing/Temporary/LastTest.log" 2>/dev/null || true
echo "Test command took $(( $(date +%s) - start )) s."
exit $status
