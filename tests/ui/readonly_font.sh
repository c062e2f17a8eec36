#!/usr/bin/env bash
# A read-only font in the package installs twice, as an unprivileged user.
# Wine keeps the read-only bit as Unix mode bits, which root ignores: run by
# root, the installs run as nobody (65534) through setpriv, in a prefix and
# HOME of that user's own and with that user's own wineserver. Run by any
# other user, they run as that user. The checks are in
# tests/fixtures/readonly_font_install.cpp.
#   readonly_font.sh <source dir> <folder of SetUp.exe and the fixture>
# Everything the installs need is staged in a new folder under /tmp: the
# clone may sit where that user cannot enter (root's home is mode 700).
set -euo pipefail
src="$1" bin="$2"

runner=()
if [ "$(id -u)" -eq 0 ]; then
    if ! command -v setpriv >/dev/null; then
        echo "SKIP: setpriv is missing, and root under Wine ignores read-only bits"
        exit 77
    fi
    runner=(setpriv --reuid=65534 --regid=65534 --clear-groups)
fi

work="$(mktemp -d /tmp/setup-readonly.XXXXXX)"
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/home" "$work/scripts"
cp "$bin/SetUp.exe" "$bin/readonly_font_install.exe" "$work/"
cp "$src/scripts/env.sh" "$work/scripts/"
[ "$(id -u)" -ne 0 ] || chown -R 65534:65534 "$work"

# No display: Wine's null driver still makes the dialog and its boxes, which
# the fixture drives. The desktop that the prefix's creation started has
# no driver, so the server is started again once the driver is chosen. The
# fixture's output goes to a file: the desktop process it starts inherits
# its output and holds a pipe open until the server stops, however the run
# ends.
status=0
"${runner[@]}" env -i PATH="$PATH" HOME="$work/home" bash -c '
    set -euo pipefail
    . "$1/scripts/env.sh" "$1/prefix"
    mkdir "$WINEPREFIX"
    trap "wineserver -k 2>/dev/null || true; wineserver -w 2>/dev/null || true" EXIT
    wine reg add "HKCU\\Software\\Wine\\Drivers" /v Graphics /t REG_SZ /d null /f >/dev/null 2>&1
    wineserver -k && wineserver -w
    wineserver -p >/dev/null 2>&1 </dev/null
    wine "$1/readonly_font_install.exe" >"$1/output.txt" 2>&1
' run "$work" || status=$?
tr -d '\r' <"$work/output.txt" | iconv -c -f GBK -t UTF-8 || true
exit $status
