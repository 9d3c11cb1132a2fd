#!/usr/bin/env bash
# The image control in live mode against the reference figures, in one run
# against one camsim, for 640x480, 1280x1024 and 4096x3072 (steps 1):
#  (a) bench_bare_client   the bare reference client (recv + one memcpy)
#  (b) bench_expand        the reference grey to 32-bit expansion
#  (c) bench_control_live  CZiVControlCtrl, windowless, live mode
#  (d) zivgrab --live N     the same control as a module, created by class id
#                           and driven by dispatch id, events through its
#                           connection point (registered in a scratch registry)
# The four run in turn, RUNS times per size; medians are compared. Targets:
# (c) reaches at least 90 % of 1 / (t_a + t_b) at 1280x1024 and 4096x3072,
# at least 80 % at 640x480; (d) at least 95 % of (c). Shown, not enforced:
# (d) over (a), with at least 85 % at the two larger sizes as the stretch.
# Exit status 1 when a target is missed.
#
# usage: bash bench/image/image_bench.sh     (after building into build/)
#   BIN=dir      programs (default build/bin)
#   MODULE=file  the control's module (default build/lib/ziVControl.so)
#   RUNS=n       runs per figure (default 5)
set -euo pipefail
cd "$(dirname "$0")/../.."
source bench/image/common.sh
require camsim bench_bare_client bench_expand bench_control_live zivgrab regsvr
MODULE=${MODULE:-build/lib/ziVControl.so}
start_camsim
scratch=$(mktemp -d)
trap 'kill "$camsim_pid" 2>/dev/null; wait "$camsim_pid" 2>/dev/null; rm -rf "$camsim_out" "$scratch"' EXIT
export ZIV_REGISTRY_DIR=$scratch/registry  # the user's registry stays as it is
"$BIN/regsvr" "$MODULE" >/dev/null

status=0
printf '%-10s | %9s %7s %8s | %8s | %9s | %9s %7s %8s | %6s %6s | %9s %6s %6s\n' size "(a) img/s" "GB/s" \
  "ms/img" "(b) ms" "1/(a+b)" "(c) img/s" "GB/s" "ms/img" "c/bnd" target "(d) img/s" "d/c" "d/a"
for size in "${SIZES[@]}"; do
  a_ips=() a_ms=() a_gbs=() b_ms=() c_ips=() c_gbs=() c_ms=() d_ips=()
  for _ in $(seq "$RUNS"); do
    line=$("$BIN/bench_bare_client" --port "$port" --size "$size")
    a_ips+=("$(field images/s "$line")") a_gbs+=("$(field GB/s "$line")") a_ms+=("$(field ms/image "$line")")
    line=$("$BIN/bench_expand" --size "$size")
    b_ms+=("$(field ms/image "$line")")
    line=$("$BIN/bench_control_live" --port "$port" --size "$size")
    c_ips+=("$(field images/s "$line")") c_gbs+=("$(field GB/s "$line")") c_ms+=("$(field ms/image "$line")")
    line=$("$BIN/zivgrab" --port "$port" --window "0,0,${size/x/,},1,1" --live "$(images "$size")" \
      --out "$scratch/last.bmp" | grep '^live:')
    d_ips+=("$(before images/s "$line")")
  done
  m() { printf '%s\n' "$@" | median; }
  ma_ips=$(m "${a_ips[@]}") ma_gbs=$(m "${a_gbs[@]}") ma_ms=$(m "${a_ms[@]}") mb_ms=$(m "${b_ms[@]}")
  mc_ips=$(m "${c_ips[@]}") mc_gbs=$(m "${c_gbs[@]}") mc_ms=$(m "${c_ms[@]}") md_ips=$(m "${d_ips[@]}")
  bound=$(awk -v a="$ma_ms" -v b="$mb_ms" 'BEGIN { printf "%.1f", 1000 / (a + b) }')
  ratio=$(awk -v c="$mc_ips" -v n="$bound" 'BEGIN { printf "%.0f", 100 * c / n }')
  d_c=$(awk -v d="$md_ips" -v c="$mc_ips" 'BEGIN { printf "%.0f", 100 * d / c }')
  d_a=$(awk -v d="$md_ips" -v a="$ma_ips" 'BEGIN { printf "%.0f", 100 * d / a }')
  want=90
  [[ $size == 640x480 ]] && want=80
  printf '%-10s | %9s %7s %8s | %8s | %9s | %9s %7s %8s | %5s%% %5s%% | %9s %5s%% %5s%%\n' "$size" "$ma_ips" \
    "$ma_gbs" "$ma_ms" "$mb_ms" "$bound" "$mc_ips" "$mc_gbs" "$mc_ms" "$ratio" "$want" "$md_ips" "$d_c" "$d_a"
  echo "  runs: (c) images/s ${c_ips[*]}; (d) images/s ${d_ips[*]}"
  if (( ratio < want )); then
    echo "  BELOW TARGET at $size: the control reaches $ratio % of 1/(t_a + t_b), wanted >= $want %" >&2
    status=1
  fi
  if (( d_c < 95 )); then
    echo "  BELOW TARGET at $size: zivgrab reaches $d_c % of the control driven directly, wanted >= 95 %" >&2
    status=1
  fi
  if [[ $size != 640x480 ]] && (( d_a < 85 )); then
    echo "  (stretch missed at $size: zivgrab reaches $d_a % of the bare client, hoped for >= 85 %)"
  fi
done
exit $status
