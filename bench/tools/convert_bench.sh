#!/usr/bin/env bash
# Times the six converters on large inputs against `xxd -p -c1` (one hex pair
# per line, the nearest standard tool) and against `cat` copying a file as large
# as the ADSP.OUT produced. Medians of RUNS runs; peak memory from GNU time.
#
#   bash bench/tools/convert_bench.sh [build/bin]
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
bin=${1:-$root/build/bin}
runs=${RUNS:-5}
size=16000000
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

# Inputs: random binary data, text of CR LF lines, and a program of about
# 1,000,000 words in 1,000 blocks (joined into 8 modules, P and D).
head -c $size /dev/urandom > BINARY.DAT
cp BINARY.DAT EXEC.OUT
head -c $((size * 3 / 4)) /dev/urandom | base64 -w 78 | sed 's/$/\r/' > ascii.tmp
head -c $size ascii.tmp > ASCII.INP && rm ascii.tmp
awk 'BEGIN {
  srand(7); addr = 0
  for (b = 0; b < 1000; b++) {
    m = int(b / 125); type = (m % 2) ? "D" : "P"
    if (b % 125 == 0) addr = m * 1048576
    printf "@%sA\r\n%04x\r\n", type, addr
    for (w = 0; w < 1000; w++) printf (type == "P" ? "%06x\r\n" : "%04x\r\n"), int(rand() * 65536)
    printf "end\r\n"; addr += 1000
  }
  printf "\r\n" }' > ADSP.EXE

ms() { local t0 t1; t0=$(date +%s%N); "$@" >/dev/null 2>&1; t1=$(date +%s%N); echo $(( (t1 - t0) / 1000 )); }
median() { sort -n | awk '{ a[NR] = $1 } END { printf "%.1f", a[int((NR + 1) / 2)] / 1000 }'; }
time_runs() { for _ in $(seq "$runs"); do ms "$@"; done | median; }
peak_kib() { /usr/bin/time -f %M "$@" 2>&1 >/dev/null | tail -n 1; }

printf '%-9s %-10s %9s %9s %9s %8s %8s %10s %s\n' tool input "tool ms" "xxd ms" "cat ms" "xxd/tool" "tool/cat" "peak KiB" verdict
fail=0
for entry in exewrap:EXEC.OUT packwrap:BINARY.DAT binload:BINARY.DAT txtload:ASCII.INP picload:BINARY.DAT convert:ADSP.EXE; do
  tool=${entry%%:*}; input=${entry#*:}
  t_tool=$(time_runs "$bin/$tool" bench)
  peak=$(peak_kib "$bin/$tool" bench)
  out_size=$(stat -c %s ADSP.OUT)
  cp ADSP.OUT copy.src
  t_cat=$(time_runs sh -c 'cat copy.src > copy.dst')
  if [ "$tool" = convert ]; then
    t_xxd=-; ratio_xxd=-
    verdict=$(awk -v t="$t_tool" -v c="$t_cat" 'BEGIN { print (t <= 4 * c) ? "ok (<= 4 x cat)" : "SLOW (> 4 x cat)" }')
  else
    t_xxd=$(time_runs sh -c "xxd -p -c1 $input > xxd.out")
    ratio_xxd=$(awk -v x="$t_xxd" -v t="$t_tool" 'BEGIN { printf "%.1f", x / t }')
    verdict=$(awk -v t="$t_tool" -v c="$t_cat" -v x="$t_xxd" 'BEGIN { print (x >= 5 * t && t <= 2 * c) ? "ok (>= 5 x xxd, <= 2 x cat)" : "SLOW" }')
  fi
  ratio_cat=$(awk -v t="$t_tool" -v c="$t_cat" 'BEGIN { printf "%.2f", t / c }')
  case $verdict in SLOW*) fail=1 ;; esac
  printf '%-9s %-10s %9s %9s %9s %8s %8s %10s %s (ADSP.OUT %d bytes)\n' "$tool" "$input" "$t_tool" "$t_xxd" "$t_cat" \
    "$ratio_xxd" "$ratio_cat" "$peak" "$verdict" "$out_size"
done
exit $fail
