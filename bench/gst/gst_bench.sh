#!/usr/bin/env bash
# zivsrc ! fakesink against the bare reference client, in one run against one
# camsim, at 640x480 and 1280x1024 (steps 1):
#  (a) bench_bare_client   recv of 65536 bytes and one memcpy per read
#  (z) bench_zivsrc        zivsrc ! fakesink in-process, images counted at the sink
# The two take turns, RUNS times per size; medians are compared. Target: (z)
# reaches at least 90 % of (a)'s images/s. Exit status 1 when it is missed.
# Also shown: each program's CPU time per image (user + system, from GNU time,
# start-up included), steadier than the rates while other work shares the
# machine.
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
# run PROGRAM ARGS...: its output line, then " cpu_ms_per_image X"
run() {
  local out line cpu
  out=$(/usr/bin/time -f 'cpu %U %S' "$@" 2>&1)
  line=$(grep images/s <<<"$out")
  cpu=$(awk -v n="$(field images "$line")" '/^cpu / { printf "%.4f", ($2 + $3) * 1000 / n }' <<<"$out")
  echo "$line cpu_ms/image $cpu"
}
printf '%-10s | %9s %7s %8s %8s | %9s %7s %8s %8s | %6s %6s | %6s\n' size "(a) img/s" "GB/s" "ms/img" "cpu ms" \
  "(z) img/s" "GB/s" "ms/img" "cpu ms" "z/a" target "cpu z/a"
for size in 640x480 1280x1024; do
  a_ips=() a_gbs=() a_ms=() a_cpu=() z_ips=() z_gbs=() z_ms=() z_cpu=()
  for _ in $(seq "$RUNS"); do
    line=$(run "$BIN/bench_bare_client" --port "$port" --size "$size")
    a_ips+=("$(field images/s "$line")") a_gbs+=("$(field GB/s "$line")") a_ms+=("$(field ms/image "$line")")
    a_cpu+=("$(field cpu_ms/image "$line")")
    line=$(run "$BIN/bench_zivsrc" --port "$port" --size "$size")
    z_ips+=("$(field images/s "$line")") z_gbs+=("$(field GB/s "$line")") z_ms+=("$(field ms/image "$line")")
    z_cpu+=("$(field cpu_ms/image "$line")")
  done
  m() { printf '%s\n' "$@" | median; }
  ma_ips=$(m "${a_ips[@]}") ma_gbs=$(m "${a_gbs[@]}") ma_ms=$(m "${a_ms[@]}")
  mz_ips=$(m "${z_ips[@]}") mz_gbs=$(m "${z_gbs[@]}") mz_ms=$(m "${z_ms[@]}")
  ma_cpu=$(m "${a_cpu[@]}") mz_cpu=$(m "${z_cpu[@]}")
  ratio=$(awk -v z="$mz_ips" -v a="$ma_ips" 'BEGIN { printf "%.0f", 100 * z / a }')
  cpu_ratio=$(awk -v z="$mz_cpu" -v a="$ma_cpu" 'BEGIN { printf "%.0f", 100 * z / a }')
  printf '%-10s | %9s %7s %8s %8s | %9s %7s %8s %8s | %5s%% %5s%% | %5s%%\n' "$size" "$ma_ips" "$ma_gbs" "$ma_ms" \
    "$ma_cpu" "$mz_ips" "$mz_gbs" "$mz_ms" "$mz_cpu" "$ratio" 90 "$cpu_ratio"
  echo "  runs: (a) images/s ${a_ips[*]}; (z) images/s ${z_ips[*]}"
  if (( ratio < 90 )); then
    echo "  BELOW TARGET at $size: zivsrc reaches $ratio % of the bare client, wanted >= 90 %" >&2
    status=1
  fi
done
exit $status
