#!/usr/bin/env bash
# Lays or removes C:\ReadOnlyPackage of a test prefix: SetUp.exe beside a
# package handed out read-only, as on a CD, a mounted image or a share with
# read permission only. Run by root, the folder is root's, modes 0555 and
# 0444, and the tests' Wine user (see scripts/env.sh) may only read it; run
# by another user, it is that user's own with the same modes.
#   readonly_package.sh stage|remove <prefix> <SetUp.exe>
set -euo pipefail
action="$1" prefix="$2" exe="$3"
folder="$prefix/drive_c/ReadOnlyPackage"

if [ -e "$folder" ]; then
    chmod -R u+w "$folder"
    rm -rf "$folder"
fi
[ "$action" = stage ] || exit 0

mkdir -p "$folder/Data"
cp "$exe" "$folder/SetUp.exe"
for name in TR_VazivIvir2023.GRX Tovrel.Ini Tovrel_EN.shx Tovrel_HZ.shx Tovrel.prt5 itextsharp.dll \
            GCAD2024P.dll Tovrel.lsp readme.txt; do
    printf 'content of %s' "$name" >"$folder/Data/$name"
done
# A downloaded file's mark, as a volume without streams (Wine's) shows it.
printf '[ZoneTransfer]\r\nZoneId=3\r\n' >"$folder/Data/readme.txt:Zone.Identifier"
# Dated a day back, as a package unpacked earlier is.
touch -d '1 day ago' "$folder/Data/"*
find "$folder" -type f -exec chmod 0444 {} +
find "$folder" -type d -exec chmod 0555 {} +
