#!/usr/bin/env bash
# Builds SetUp.exe of one commit (default HEAD) twice, from two clones in two
# folders of different path lengths, and compares the bytes: a release can be
# rebuilt by anyone and checked against the one shipped.
#   bash scripts/check-reproducible.sh [commit]
set -euo pipefail
src="$(cd "$(dirname "$0")/.." && pwd)"
commit="$(git -C "$src" rev-parse "${1:-HEAD}")"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

build_in() {
    git clone -q --no-checkout "$src" "$1"
    git -C "$1" checkout -q "$commit"
    cmake -S "$1" -B "$1/build" -DCMAKE_TOOLCHAIN_FILE="$1/cmake/mingw-w64-x86_64.cmake" \
          -DCMAKE_BUILD_TYPE=Release -DSETUP_BUILD_TESTS=OFF >/dev/null
    cmake --build "$1/build" -j "$(nproc)" --target SetUp >/dev/null
}
build_in "$work/a"
build_in "$work/second/clone/of/the/same/commit"
a="$work/a/build/bin/SetUp.exe"
b="$work/second/clone/of/the/same/commit/build/bin/SetUp.exe"
if cmp "$a" "$b"; then
    echo "SetUp.exe of $commit: identical in both builds ($(stat -c %s "$a") bytes, sha256 $(sha256sum "$a" | cut -c1-16)...)"
else
    echo "SetUp.exe of $commit differs between two builds" >&2
    exit 1
fi
