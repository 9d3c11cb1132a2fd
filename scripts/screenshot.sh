#!/usr/bin/env bash
# Makes docs/zivclient.png, the README's picture of zivClient showing an image
# of the simulated camera: the module registered in a registry folder of the
# script's own, camsim on a free port, zivClient on a virtual X server (Xvfb)
# with its fields filled for camsim, Get Image pressed from the keyboard, and
# the dialog's window captured.
#   bash scripts/screenshot.sh [OUT.png]
set -euo pipefail
cd "$(dirname "$0")/.."
out=$(realpath -m "${1:-docs/zivclient.png}")
bash scripts/install-deps.sh screenshot
cmake --preset default >/dev/null
cmake --build --preset default -j "$(nproc)" --target zivClient regsvr camsim ziVControl
bin=$PWD/build/bin
work=$(mktemp -d)
export ZIV_REGISTRY_DIR=$work/registry
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

"$bin/regsvr" "$PWD/build/lib/ziVControl.so" >/dev/null
"$bin/camsim" --port 0 >"$work/camsim.out" &
pids+=($!)
for _ in $(seq 100); do grep -q '^listening on' "$work/camsim.out" && break; sleep 0.05; done
port=$(sed -n '1s/^listening on .*://p' "$work/camsim.out")

# A display number the X server picks itself, written to fd 3 once it is ready.
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
pids+=($!)
for _ in $(seq 100); do [[ -s $work/display ]] && break; sleep 0.05; done
export DISPLAY=:$(cat "$work/display")
unset WAYLAND_DISPLAY QT_QPA_PLATFORM

"$bin/zivClient" --server 127.0.0.1 --port "$port" 2>"$work/client.log" &
pids+=($!)
wid=$(timeout 20 xdotool search --sync --onlyvisible --name '^zivClient$' | head -n 1)
xdotool windowfocus --sync "$wid"
# The focus starts on Server IP; Get Image is the tenth item in tab order.
xdotool key --delay 30 Tab Tab Tab Tab Tab Tab Tab Tab Tab space
sleep 2  # the image arrives, the dialog fits itself to it and repaints
mkdir -p "$(dirname "$out")"
import -window "$wid" "$out"
echo "screenshot: $out ($(identify -format '%wx%h' "$out"))"
