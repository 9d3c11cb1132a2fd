#!/usr/bin/env bash
# zivsrc ! fakesink against the bare reference client, in one run against one
# camsim, at 640x480 and 1280x1024 (steps 1):
#  (a) bench_bare_client   recv of 65536 bytes and one memcpy per read
#  (z) bench_zivsrc        zivsrc ! fakesink in-process, images counted at the sink
# The two take turns, RUNS times per size; medians are compared. Target: (z)
# reaches at least 90 % of (a)'s images/s. Exit status 1 when it is missed.
#
# usage: bash bench/gst/gst_bench.sh     (after building into build/)
#   BIN=dir      programs (default build/bin)
#   RUNS=n       runs per figure (default 5)
set -euo pipefail
cd "$(dirname "$0")/../.."
source bench/image/common.sh
require camsim bench_bare_client bench_zivsrc
start_camsim
scratch=$(mktemp -d)
trap 'kill "$camsim_pid" 2>/dev/null; wait "$camsim_pid" 2>/dev/null; rm -rf "$camsim_out" "$scratch"' EXIT
export GST_PLUGIN_PATH=${GST_PLUGIN_PATH:-$(dirname "$BIN")/lib/gstreamer-1.0}
export GST_REGISTRY=$scratch/registry.bin  # the user's registry stays as it is

status=0
printf '%-10s | %9s %7s %8s | %9s %7s %8s | %6s %6s\n' size "(a) img/s" "GB/s" "ms/img" "(z) img/s" "GB/s" \
  "ms/img" "z/a" target
for size in 640x480 1280x1024; do
  a_ips=() a_gbs=() a_ms=() z_ips=() z_gbs=() z_ms=()
  for _ in $(seq "$RUNS"); do
    line=$("$BIN/bench_bare_client" --port "$port" --size "$size")
    a_ips+=("$(field images/s "$line")") a_gbs+=("$(field GB/s "$line")") a_ms+=("$(field ms/image "$line")")
    line=$("$BIN/bench_zivsrc" --port "$port" --size "$size")
    z_ips+=("$(field images/s "$line")") z_gbs+=("$(field GB/s "$line")") z_ms+=("$(field ms/image "$line")")
  done
  m() { printf '%s\n' "$@" | median; }
  ma_ips=$(m "${a_ips[@]}") ma_gbs=$(m "${a_gbs[@]}") ma_ms=$(m "${a_ms[@]}")
  mz_ips=$(m "${z_ips[@]}") mz_gbs=$(m "${z_gbs[@]}") mz_ms=$(m "${z_ms[@]}")
  ratio=$(awk -v z="$mz_ips" -v a="$ma_ips" 'BEGIN { printf "%.0f", 100 * z / a }')
  printf '%-10s | %9s %7s %8s | %9s %7s %8s | %5s%% %5s%%\n' "$size" "$ma_ips" "$ma_gbs" "$ma_ms" "$mz_ips" \
    "$mz_gbs" "$mz_ms" "$ratio" 90
  echo "  runs: (a) images/s ${a_ips[*]}; (z) images/s ${z_ips[*]}"
  if (( ratio < 90 )); then
    echo "  BELOW TARGET at $size: zivsrc reaches $ratio % of the bare client, wanted >= 90 %" >&2
    status=1
  fi
done
exit $status
