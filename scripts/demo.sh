#!/usr/bin/env bash
# Installs what is missing, builds, and shows the system at work on its built-in
# defaults: the image control fetching images from the bundled simulated camera,
# then the download tools on inputs this script makes itself.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake --preset default >/dev/null
cmake --build --preset default -j "$(nproc)"
bin=$PWD/build/bin
work=$(mktemp -d)
camsim_pid=
cleanup() {
  [ -n "$camsim_pid" ] && kill "$camsim_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
cd "$work"

echo "== camsim: the simulated camera, on a port the system chooses"
"$bin/camsim" --port 0 > camsim.out &
camsim_pid=$!
for _ in $(seq 100); do grep -q '^listening on' camsim.out && break; sleep 0.05; done
head -n 1 camsim.out
port=$(sed -n '1s/^listening on .*://p' camsim.out)

echo
echo "== the image control: one image, then live mode"
"$bin/zivdemo" --port "$port" --bmp image.bmp
echo "-- image.bmp: $(stat -c %s image.bmp) bytes"

echo
echo "== picload: the saved picture wrapped into a download file"
cp image.bmp BINARY.DAT
"$bin/picload" picture
echo "-- first lines of ADSP.OUT:"
head -n 6 ADSP.OUT | tr -d '\r'

echo
echo "== convert: a camera program of two P blocks and one D block"
printf '@PA\r\n0000\r\n100001\r\n100002\r\nend\r\n@PA\r\n0002\r\n100003\r\nend\r\n@DA\r\n3800\r\n0007\r\n0008\r\nend\r\n\r\n' > ADSP.EXE
"$bin/convert" demo
echo "-- ADSP.OUT:"
tr -d '\r' < ADSP.OUT

echo
echo "== recmake and recraw: the download file as S-records and back"
"$bin/recmake"
tr -d '\r' < ADSP.MSF
cp ADSP.MSF input.msf
"$bin/recraw"
echo "-- out.dat (the download file less its first 21 bytes):"
od -A d -t x1 out.dat
