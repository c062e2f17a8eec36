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

start_xvfb
cleanup() {
    stop_wine
    kill "$XVFB_PID" 2>/dev/null || true
}
trap cleanup EXIT
start_wine

status=0
(cd "$build" && ctest --output-on-failure --no-tests=error "$@") || status=$?
echo "Test command took $(( $(date +%s) - start )) s."
exit $status
