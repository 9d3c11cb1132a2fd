#!/usr/bin/env bash
# zivClient's dialog in live mode against zivgrab --live, in one run against
# one camsim, at 640x480 and 1280x1024 (steps 1), both through the control
# module registered in a scratch registry:
#  (d) zivgrab --live N        the headless container
#  (e) bench_client_live       the client's dialog under the offscreen platform:
#                              the Live mode box and Get Image clicked, every
#                              image through OnPictureReady (timing lines,
#                              fitting, items rewritten), painted at the
#                              screen's pace
# The two run in turn, RUNS times per size; medians are compared. Target: (e)
# at least 90 % of (d). Exit status 1 when it is missed.
#
# usage: bash bench/client/client_bench.sh     (after building into build/)
#   BIN=dir      programs (default build/bin)
#   MODULE=file  the control's module (default build/lib/ziVControl.so)
#   RUNS=n       runs per figure (default 5)
#   IMAGES=n     images per run and size (default: about 3 GB of pixels)
set -euo pipefail
cd "$(dirname "$0")/../.."
source bench/image/common.sh
SIZES=(640x480 1280x1024)
require camsim zivgrab regsvr bench_client_live
MODULE=${MODULE:-build/lib/ziVControl.so}
start_camsim
scratch=$(mktemp -d)
trap 'kill "$camsim_pid" 2>/dev/null; wait "$camsim_pid" 2>/dev/null; rm -rf "$camsim_out" "$scratch"' EXIT
export ZIV_REGISTRY_DIR=$scratch/registry  # the user's registry stays as it is
export QT_QPA_PLATFORM=offscreen
"$BIN/regsvr" "$MODULE" >/dev/null

status=0
printf '%-10s | %9s | %9s | %5s\n' size "(d) img/s" "(e) img/s" "e/d"
for size in "${SIZES[@]}"; do
  n=${IMAGES:-$(images "$size")}
  d_ips=() e_ips=()
  for _ in $(seq "$RUNS"); do
    line=$("$BIN/zivgrab" --port "$port" --window "0,0,${size/x/,},1,1" --live "$n" --out "$scratch/last.bmp" |
      grep '^live:')
    d_ips+=("$(before images/s "$line")")
    line=$("$BIN/bench_client_live" --port "$port" --size "$size" --images "$n" 2>/dev/null)
    e_ips+=("$(field images/s "$line")")
  done
  m() { printf '%s\n' "$@" | median; }
  md=$(m "${d_ips[@]}") me=$(m "${e_ips[@]}")
  ratio=$(awk -v e="$me" -v d="$md" 'BEGIN { printf "%.0f", 100 * e / d }')
  printf '%-10s | %9s | %9s | %4s%%\n' "$size" "$md" "$me" "$ratio"
  echo "  runs: (d) ${d_ips[*]}; (e) ${e_ips[*]}"
  if ((ratio < 90)); then
    echo "  BELOW TARGET at $size: the client reaches $ratio % of zivgrab, wanted >= 90 %" >&2
    status=1
  fi
done
exit "$status"
