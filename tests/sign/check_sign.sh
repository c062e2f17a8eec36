#!/usr/bin/env bash
# The sign step as a release runs it, with a throwaway code-signing
# certificate: a signed copy of SetUp.exe verifies against that certificate,
# the unsigned program does not, and the program itself is left as it was.
#   check_sign.sh <source dir> <SetUp.exe>
set -euo pipefail
src="$1" exe="$2"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

openssl req -x509 -newkey rsa:2048 -nodes -days 1 -subj "/CN=Tovrel test signer" \
    -addext "extendedKeyUsage=codeSigning" -keyout "$work/key.pem" -out "$work/cert.pem" 2>/dev/null
cp "$exe" "$work/SetUp.exe"
SETUP_SIGN_CERT="$work/cert.pem" SETUP_SIGN_KEY="$work/key.pem" \
    cmake -DINPUT="$work/SetUp.exe" -DOUTPUT="$work/signed/SetUp.exe" -P "$src/cmake/SignExe.cmake"

cmp -s "$exe" "$work/SetUp.exe" || { echo "FAIL: signing changed its input"; exit 1; }
osslsigncode verify -CAfile "$work/cert.pem" -in "$work/signed/SetUp.exe" >"$work/verify.txt" 2>&1 ||
    { cat "$work/verify.txt"; echo "FAIL: the signed copy does not verify"; exit 1; }
if osslsigncode verify -CAfile "$work/cert.pem" -in "$exe" >/dev/null 2>&1; then
    echo "FAIL: the unsigned program verifies"; exit 1
fi
# Without a certificate the step refuses instead of copying unsigned.
if env -u SETUP_SIGN_CERT -u SETUP_SIGN_KEY cmake -DINPUT="$work/SetUp.exe" -DOUTPUT="$work/none/SetUp.exe" \
    -P "$src/cmake/SignExe.cmake" >/dev/null 2>&1 || [ -e "$work/none/SetUp.exe" ]; then
    echo "FAIL: signed without a certificate"; exit 1
fi
echo "signed copy verifies"
