#!/usr/bin/env bash
# Installs what is missing, builds, and shows the download tools at work on
# inputs this script makes itself.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake --preset default >/dev/null
cmake --build --preset default -j "$(nproc)"
bin=$PWD/build/bin
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

echo "== picload: a small generated picture wrapped into ADSP.OUT"
# A 4 x 4 grey ramp as a binary PGM file stands in for the picture data.
{ printf 'P5\n4 4\n255\n'; for i in $(seq 0 15); do printf "\\$(printf '%03o' $((i * 16)))"; done; } > BINARY.DAT
"$bin/picload" ramp
echo "-- first lines of ADSP.OUT:"
head -n 8 ADSP.OUT | tr -d '\r'

echo
echo "== convert: a camera program of two P blocks and one D block"
printf '@PA\r\n0000\r\n100001\r\n100002\r\nend\r\n@PA\r\n0002\r\n100003\r\nend\r\n@DA\r\n3800\r\n0007\r\n0008\r\nend\r\n\r\n' > ADSP.EXE
"$bin/convert" demo
echo "-- ADSP.OUT:"
tr -d '\r' < ADSP.OUT
