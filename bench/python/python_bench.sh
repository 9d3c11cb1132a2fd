#!/usr/bin/env bash
# ziv's stream() against the bare reference client, in one run against one
# camsim: the two take turns, RUNS times per size; medians are compared.
# Target: Python at least 85 % of the reference at 1280x1024 (shown for the
# other sizes). Then, unless RSS=0, resident memory over RSS_IMAGES images
# (default 100,000) of RSS_SIZE (default 640x480): within 1 MiB.
# Exit status 1 when a target is missed.
#
# usage: bash bench/python/python_bench.sh     (after building into build/)
#   BIN=dir  programs (default build/bin); RUNS=n runs per figure (default 5)
#   SIZE=WxH one size only
#   PYTHON=python3 (default /usr/bin/python3); the module from build/python
set -euo pipefail
cd "$(dirname "$0")/../.."
source bench/image/common.sh
if [[ -n ${SIZE:-} ]]; then SIZES=("$SIZE"); fi  # one size only
require camsim bench_bare_client
PYTHON=${PYTHON:-/usr/bin/python3}
export PYTHONPATH=${PYTHONPATH:-build/python}
start_camsim

status=0
printf '%-10s | %9s %7s | %9s %7s | %6s\n' size "bare img/s" "GB/s" "python img/s" "GB/s" "py/bare"
for size in "${SIZES[@]}"; do
  a_ips=() a_gbs=() p_ips=() p_gbs=()
  for _ in $(seq "$RUNS"); do
    line=$("$BIN/bench_bare_client" --port "$port" --size "$size")
    a_ips+=("$(field images/s "$line")") a_gbs+=("$(field GB/s "$line")")
    line=$("$PYTHON" bench/python/bench_stream.py --port "$port" --size "$size")
    p_ips+=("$(field images/s "$line")") p_gbs+=("$(field GB/s "$line")")
  done
  m() { printf '%s\n' "$@" | median; }
  ma=$(m "${a_ips[@]}") mag=$(m "${a_gbs[@]}") mp=$(m "${p_ips[@]}") mpg=$(m "${p_gbs[@]}")
  ratio=$(awk -v p="$mp" -v a="$ma" 'BEGIN { printf "%.0f", 100 * p / a }')
  printf '%-10s | %10s %7s | %12s %7s | %6s%%\n' "$size" "$ma" "$mag" "$mp" "$mpg" "$ratio"
  echo "  runs: bare ${a_ips[*]}; python ${p_ips[*]}"
  if [[ $size == 1280x1024 ]] && (( ratio < 85 )); then
    echo "  BELOW TARGET at $size: python reaches $ratio % of the reference, wanted >= 85 %" >&2
    status=1
  fi
done

if [[ ${RSS:-1} != 0 ]]; then
  line=$("$PYTHON" bench/python/bench_stream.py --port "$port" --size "${RSS_SIZE:-640x480}" \
    --images "${RSS_IMAGES:-100000}" --rss)
  echo "$line"
  growth=$(field max-growth "$(grep '^rss' <<<"$line")")
  if (( growth > 1024 )); then
    echo "  BELOW TARGET: resident memory grew by $growth KiB, wanted <= 1024" >&2
    status=1
  fi
fi
exit $status
