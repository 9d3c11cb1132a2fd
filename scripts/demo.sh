#!/usr/bin/env bash
# Installs what is missing, builds, and shows the system at work on its built-in
# defaults: the image control, registered in a registry folder of the demo's
# own, showing images of the bundled simulated camera in zivClient (on a
# desktop; without a display zivgrab fetches them instead), then the download
# tools on inputs this script makes itself.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake --preset default >/dev/null
cmake --build --preset default -j "$(nproc)"
bin=$PWD/build/bin
module=$PWD/build/lib/ziVControl.so
work=$(mktemp -d)
# The demo's own registry: the user's (~/.config/ziv/registry) is left untouched.
export ZIV_REGISTRY_DIR=$work/registry
camsim_pid=
cleanup() {
  [ -n "$camsim_pid" ] && kill "$camsim_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
cd "$work"

echo "== regsvr: the image control registered in the demo's own registry folder"
echo "   ($ZIV_REGISTRY_DIR, removed at the end; your own registry is not touched)"
"$bin/regsvr" "$module"

echo
echo "== camsim: the simulated camera, on a port the system chooses"
"$bin/camsim" --port 0 > camsim.out &
camsim_pid=$!
for _ in $(seq 100); do grep -q '^listening on' camsim.out && break; sleep 0.05; done
head -n 1 camsim.out
port=$(sed -n '1s/^listening on .*://p' camsim.out)

if [[ -n ${DISPLAY:-}${WAYLAND_DISPLAY:-} ]]; then
  echo
  echo "== zivClient: the desktop client, its Server IP and Server Port filled for camsim"
  echo "   Press Get Image (or check Live mode first); right-click the dialog for its About box."
  echo "   Close the window to go on."
  "$bin/zivClient" --server 127.0.0.1 --port "$port" || echo "-- zivClient ended with status $?"
  echo
  echo "== zivgrab: the picture for the download tools below, through the same control"
  "$bin/zivgrab" --port "$port" --window 0,0,640,480,2,2 --out image.bmp | tail -n 1
else
  echo
  echo "== no display (DISPLAY and WAYLAND_DISPLAY are not set): zivClient cannot open its window,"
  echo "   so zivgrab fetches the images through the same control instead"
  echo "== zivgrab: one image through the control (640 x 480 sensor pixels, every second one)"
  "$bin/zivgrab" --port "$port" --window 0,0,640,480,2,2 --out image.bmp --preview
  echo "-- image.bmp: $(stat -c %s image.bmp) bytes"

  echo
  echo "== zivgrab: 200 live images of the whole 1280 x 1024 sensor, the last one saved as PNG"
  "$bin/zivgrab" --port "$port" --window 0,0,1280,1024,1,1 --live 200 --out live.png
  echo "-- live.png: $(stat -c %s live.png) bytes"
fi

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
