#!/usr/bin/env bash
# zivcam's live stream into a reused buffer against the bare reference
# client, in one run against one camsim: the two take turns, RUNS times per
# size (640x480, 1280x1024, 4096x3072); medians are compared. Target: zivcam
# at least 95 % of the reference's images/s at every size. Exit status 1
# when it is missed.
#
# usage: bash bench/camera/camera_bench.sh     (after building into build/)
#   BIN=dir  programs (default build/bin); RUNS=n runs per figure (default 5)
#   SIZE=WxH one size only
set -euo pipefail
cd "$(dirname "$0")/../.."
source bench/image/common.sh
if [[ -n ${SIZE:-} ]]; then SIZES=("$SIZE"); fi  # one size only
require camsim bench_bare_client bench_zivcam_stream
start_camsim

status=0
printf '%-10s | %9s %7s | %9s %7s | %6s\n' size "bare img/s" "GB/s" "zivcam img/s" "GB/s" "z/bare"
for size in "${SIZES[@]}"; do
  a_ips=() a_gbs=() z_ips=() z_gbs=()
  for _ in $(seq "$RUNS"); do
    line=$("$BIN/bench_bare_client" --port "$port" --size "$size")
    a_ips+=("$(field images/s "$line")") a_gbs+=("$(field GB/s "$line")")
    line=$("$BIN/bench_zivcam_stream" --port "$port" --size "$size")
    z_ips+=("$(field images/s "$line")") z_gbs+=("$(field GB/s "$line")")
  done
  m() { printf '%s\n' "$@" | median; }
  ma=$(m "${a_ips[@]}") mag=$(m "${a_gbs[@]}") mz=$(m "${z_ips[@]}") mzg=$(m "${z_gbs[@]}")
  ratio=$(awk -v z="$mz" -v a="$ma" 'BEGIN { printf "%.0f", 100 * z / a }')
  printf '%-10s | %10s %7s | %12s %7s | %5s%%\n' "$size" "$ma" "$mag" "$mz" "$mzg" "$ratio"
  echo "  runs: bare ${a_ips[*]}; zivcam ${z_ips[*]}"
  if (( ratio < 95 )); then
    echo "  BELOW TARGET at $size: zivcam reaches $ratio % of the reference, wanted >= 95 %" >&2
    status=1
  fi
done
exit $status
