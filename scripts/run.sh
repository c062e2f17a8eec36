#!/usr/bin/env bash
# Builds SetUp.exe and runs it beside its sample package against a simulated
# CAD 2025 install, in a demo Wine prefix of its own (never ~/.wine).
#
#   scripts/run.sh              on a display: you install by hand
#   scripts/run.sh --headless   (or no DISPLAY): Xvfb, the install is driven
#                               automatically, screenshots and a summary are
#                               written to out/ (OUT_DIR to change)
#   scripts/run.sh --docs       as --headless, and the two screenshots are
#                               copied to docs/ for the README
#
# Installs what it needs first.
set -euo pipefail
src="$(cd "$(dirname "$0")/.." && pwd)"
build="${BUILD_DIR:-$src/build}"
out="${OUT_DIR:-$src/out}"

headless=0
docs=0
[ "${1:-}" != "--docs" ] || docs=1
if [ "${1:-}" = "--headless" ] || [ "$docs" = 1 ] || [ -z "${DISPLAY:-}" ]; then
    headless=1
fi

bash "$src/scripts/deps.sh"
. "$src/scripts/env.sh" "$build/demo-prefix"
setup_build "$src" "$build"

XVFB_PID=""
trap stop_session EXIT
if [ "$headless" = 1 ]; then
    start_xvfb
else
    export SETUP_MANAGED_WINDOWS=1
fi
start_wine

# The simulated CAD 2025: its folder with Fonts, the stand-in as its
# program, and two profiles that name the folder.
cad_win='C:\Program Files\Gstarsoft\GstarCAD2025'
cad_dir="$WINEPREFIX/drive_c/Program Files/Gstarsoft/GstarCAD2025"
mkdir -p "$cad_dir/Fonts"
cp "$build/bin/cad/gcad.exe" "$cad_dir/gcad.exe"
profiles=('SOFTWARE\Gstarsoft\GstarCAD\R25\zh-CN\Profiles\<<Unnamed Profile>>'
          'SOFTWARE\Gstarsoft\GstarCAD\R25\zh-CN\Profiles\Plot')
for p in "${profiles[@]}"; do
    wine reg add "HKCU\\$p" /v Location /t REG_SZ /d "$cad_win\\" /f >/dev/null 2>&1
done

mkdir -p "$out"
rm -f "$out"/setup-*.png "$out/summary.txt"
package="$build/package"
echo "Starting $package/SetUp.exe (package in $package/Data)"
(cd "$package" && wine SetUp.exe) &
setup_pid=$!

driver() { wine "$build/bin/demo_driver.exe" "$@" | tr -d '\r'; }
shoot() {  # shoot NAME "x y w h"
    local x y w h
    read -r x y w h <<<"$2"
    import -window root -crop "${w}x${h}+${x}+${y}" +repage "$out/$1"
    echo "Screenshot: $out/$1"
}

if [ "$headless" = 1 ]; then
    rect=$(driver wait)
    shoot setup-1-dialog.png "$rect"
    rect=$(driver install)
    shoot setup-2-installed.png "$rect"
    driver finish >/dev/null
fi
wait "$setup_pid" || true

{
    echo "== Install folder C:\\Tovrel\\T-VazivIvir"
    ls -l "$WINEPREFIX/drive_c/Tovrel/T-VazivIvir" 2>&1 | tail -n +2
    echo
    echo "== Settings file (%APPDATA%\\Tovrel)"
    ls -l "$WINEPREFIX"/drive_c/users/*/AppData/Roaming/Tovrel 2>&1 | tail -n +2
    echo
    echo "== Registry"
    for p in "${profiles[@]}"; do
        wine reg query "HKCU\\$p\\Applications" /s 2>/dev/null | tr -d '\r' | iconv -f GBK -t UTF-8 | sed '/^$/d'
    done
    echo
    echo "== CAD folder $cad_win"
    (cd "$cad_dir" && ls -l itextsharp.dll GCAD*.dll Fonts/* 2>&1)
    echo
    echo "== What the CAD loads at its next start"
    for p in "${profiles[@]}"; do
        echo "-- profile $p"
        wine "$cad_dir/gcad.exe" "$p" 2>&1 | tr -d '\r' | iconv -f GBK -t UTF-8 || true
    done
    echo
    echo "== Uninstaller and its record (%ProgramFiles%\\Tovrel)"
    ls -l "$WINEPREFIX/drive_c/Program Files/Tovrel" 2>&1 | tail -n +2
    iconv -f GBK -t UTF-8 "$WINEPREFIX/drive_c/Program Files/Tovrel/Uninstall.lst" 2>&1 | tr -d '\r'
    echo
    echo "== Entry in Programs and Features"
    wine reg query 'HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\Tovrel_T-VazivIvir' /reg:64 2>&1 |
        tr -d '\r' | iconv -f GBK -t UTF-8 | sed '/^$/d'
} | tee "$out/summary.txt"
echo "Summary: $out/summary.txt"
if [ "$docs" = 1 ]; then
    mkdir -p "$src/docs"
    cp "$out/setup-1-dialog.png" "$src/docs/setup-dialog.png"
    cp "$out/setup-2-installed.png" "$src/docs/setup-installed.png"
    echo "README images: $src/docs/setup-dialog.png, $src/docs/setup-installed.png"
fi
