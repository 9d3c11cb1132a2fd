#!/usr/bin/env bash
# Soak run of the image control against camsim: IMAGES live images on one
# connection, then IMAGES single images with one connection each. The control
# (bench_soak) samples its resident memory and open descriptors after a
# warm-up of 1000 images and at the end; camsim is sampled before and after
# each run the same way. Targets: the control's memory within 1 MiB of the
# warm-up figure, its descriptor count unchanged, no status but 9, 8 and 0.
# Exit status 1 when a target is missed.
#
# usage: bash bench/soak.sh     (after building into build/)
#   BIN=dir      programs (default build/bin)
#   IMAGES=n     images per run (default 100000)
#   SIZE=WxH     image size (default 640x480; at most 1280x1024 is meant)
set -euo pipefail
cd "$(dirname "$0")/.."
source bench/image/common.sh
require camsim bench_soak
IMAGES=${IMAGES:-100000}
SIZE=${SIZE:-640x480}
start_camsim

# rss_kib fds of a process
probe() { echo "$(awk '/^VmRSS:/ { print $2 }' "/proc/$1/status") $(ls "/proc/$1/fd" | wc -l)"; }

status=0
for mode in live single; do
  flag=()
  [[ $mode == single ]] && flag=(--single)
  before=$(probe "$camsim_pid")
  line=$("$BIN/bench_soak" --port "$port" --size "$SIZE" --images "$IMAGES" "${flag[@]}") || status=1
  after=$(probe "$camsim_pid")
  echo "$line"
  echo "camsim $mode: rss_kib ${before% *} ${after% *} fds ${before#* } ${after#* }"
  read -r rss0 rss1 < <(awk '{ for (i = 1; i < NF; i++) if ($i == "rss_kib") print $(i + 1), $(i + 2) }' <<<"$line")
  read -r fd0 fd1 < <(awk '{ for (i = 1; i < NF; i++) if ($i == "fds") print $(i + 1), $(i + 2) }' <<<"$line")
  others=$(awk '{ for (i = 1; i <= NF; i++) if ($i ~ /^[0-9]:/ && $i !~ /^[089]:/) print $i }' <<<"$line")
  if (( rss1 - rss0 > 1024 )); then echo "  $mode: resident memory grew by $((rss1 - rss0)) KiB" >&2; status=1; fi
  if (( fd1 != fd0 )); then echo "  $mode: descriptors $fd0 -> $fd1" >&2; status=1; fi
  if [[ -n $others ]]; then echo "  $mode: other statuses: $others" >&2; status=1; fi
done
exit $status
