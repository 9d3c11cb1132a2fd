#!/usr/bin/env bash
# Image transfer reference figures, in one run against one camsim:
#  (a) the bare reference client (bench_bare_client) and
#  (b) the reference grey to 32-bit expansion (bench_expand)
# for 640x480, 1280x1024 and 4096x3072 (steps 1), medians of RUNS runs each.
# Checks that camsim reaches at least 80 % of the bare rates measured on this
# kind of machine (7,500 images/s at 640x480, 180 images/s at 4096x3072).
#
# usage: bash bench/image/camsim_bench.sh     (after building into build/)
#   BIN=dir      programs (default build/bin)
#   RUNS=n       runs per figure (default 5)
#   RESULTS=file also write the medians there as key=value lines
set -euo pipefail
cd "$(dirname "$0")/../.."
source bench/image/common.sh
require camsim bench_bare_client bench_expand
start_camsim

[[ -n ${RESULTS:-} ]] && : >"$RESULTS"
status=0
printf '%-10s %14s %10s %12s %12s %16s\n' size "bare images/s" "bare GB/s" "bare ms/img" "expand ms" "1/(a+b) img/s"
for size in "${SIZES[@]}"; do
  ips=() gbs=() ms=() ems=()
  for _ in $(seq "$RUNS"); do
    line=$("$BIN/bench_bare_client" --port "$port" --size "$size")
    ips+=("$(field images/s "$line")") gbs+=("$(field GB/s "$line")") ms+=("$(field ms/image "$line")")
    line=$("$BIN/bench_expand" --size "$size")
    ems+=("$(field ms/image "$line")")
  done
  m_ips=$(printf '%s\n' "${ips[@]}" | median)
  m_gbs=$(printf '%s\n' "${gbs[@]}" | median)
  m_ms=$(printf '%s\n' "${ms[@]}" | median)
  m_ems=$(printf '%s\n' "${ems[@]}" | median)
  bound=$(awk -v a="$m_ms" -v b="$m_ems" 'BEGIN { printf "%.1f", 1000 / (a + b) }')
  printf '%-10s %14s %10s %12s %12s %16s\n' "$size" "$m_ips" "$m_gbs" "$m_ms" "$m_ems" "$bound"
  echo "  runs: bare images/s ${ips[*]}; expand ms ${ems[*]}"
  if [[ -n ${RESULTS:-} ]]; then
    printf 'bare_ips_%s=%s\nbare_gbs_%s=%s\nbare_ms_%s=%s\nexpand_ms_%s=%s\nbound_ips_%s=%s\n' \
      "$size" "$m_ips" "$size" "$m_gbs" "$size" "$m_ms" "$size" "$m_ems" "$size" "$bound" >>"$RESULTS"
  fi
  case $size in
    640x480) want=7500 ;;
    4096x3072) want=180 ;;
    *) continue ;;
  esac
  if awk -v got="$m_ips" -v want="$want" 'BEGIN { exit !(got >= 0.8 * want) }'; then
    echo "  ok: camsim with the bare client reaches >= 80 % of $want images/s at $size"
  else
    echo "  BELOW TARGET: $m_ips images/s at $size, wanted >= 80 % of $want" >&2
    status=1
  fi
done
exit $status
