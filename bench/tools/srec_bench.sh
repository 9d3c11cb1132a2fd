#!/usr/bin/env bash
# Times recmake, recraw and recjoin against srec_cat and objcopy doing the same
# work, on a download file that binload makes from 16,000,000 random bytes:
#   make  recmake ADSP.OUT -> ADSP.MSF | objcopy, srec_cat: payload -> S2 records of 20 bytes
#   raw   recraw input.msf -> out.dat  | objcopy, srec_cat: the same S-records -> binary
#   join  recjoin of the S-records of the two halves | srec_cat with -offset for the second
# Each output is removed before each run, outside the timing. Medians of RUNS
# runs (default 5), taken in turns so that a busy spell hits every contender.
# Peak memory from GNU time on the full input and on a tenth of it.
#
#   bash bench/tools/srec_bench.sh [build/bin]
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
bin=${1:-$root/build/bin}
runs=${RUNS:-5}
size=16000000
half=$((size / 2))
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

quiet() { "$@" >/dev/null 2>&1; }

# Inputs: the whole payload, its two halves, and a tenth for the memory check.
head -c $size /dev/urandom > payload.bin
head -c $half payload.bin > half1.bin
tail -c +$((half + 1)) payload.bin > half2.bin
head -c $((size / 10)) payload.bin > tenth.bin
for part in payload half1 half2 tenth; do
  mkdir "$part"
  cp "$part.bin" "$part/BINARY.DAT"
  (cd "$part" && quiet "$bin/binload" bench && quiet "$bin/recmake" && cp ADSP.MSF input.msf)
done
cp payload/ADSP.OUT ADSP.OUT
cp payload/ADSP.MSF input.msf
cp half1/ADSP.MSF A.MSF
cp half2/ADSP.MSF B.MSF
offset=$((half + 22))  # the first half's download stream

# name | output removed before each run | command
contenders=(
  "recmake|ADSP.MSF|$bin/recmake"
  "objcopy-make|objcopy.srec|objcopy -I binary -O srec --srec-len=20 payload.bin objcopy.srec"
  "srec_cat-make|srec_cat.srec|srec_cat payload.bin -binary -o srec_cat.srec -address-length=3 -obs=20"
  "recraw|out.dat|$bin/recraw"
  "objcopy-raw|objcopy.bin|objcopy -I srec -O binary input.msf objcopy.bin"
  "srec_cat-raw|srec_cat.bin|srec_cat input.msf -o srec_cat.bin -binary"
  "recjoin|J.MSF|$bin/recjoin A.MSF B.MSF J.MSF"
  "srec_cat-join|joined.srec|srec_cat A.MSF B.MSF -offset $offset -o joined.srec -address-length=3 -obs=20"
)

ms() { local t0 t1; t0=$(date +%s%N); quiet "$@"; t1=$(date +%s%N); echo $(((t1 - t0) / 1000)); }
declare -A times
for _ in $(seq "$runs"); do
  for c in "${contenders[@]}"; do
    IFS='|' read -r name out cmd <<<"$c"
    rm -f "$out"
    # shellcheck disable=SC2086  # the command is split into its words on purpose
    times[$name]+="$(ms $cmd) "
  done
done
median() { tr ' ' '\n' | grep . | sort -n | awk '{ a[NR] = $1 } END { printf "%.1f", a[int((NR + 1) / 2)] / 1000 }'; }
declare -A med
for c in "${contenders[@]}"; do
  name=${c%%|*}
  med[$name]=$(median <<<"${times[$name]}")
done

# What was timed must also be right.
printf 'U' | cat payload.bin - | cmp -s - out.dat || { echo "recraw: out.dat is not the payload and its end mark"; exit 1; }
quiet srec_cmp ADSP.MSF payload/ADSP.MSF || { echo "recmake: ADSP.MSF changed between runs"; exit 1; }
quiet srec_cmp J.MSF joined.srec || { echo "recjoin and srec_cat do not agree on the join"; exit 1; }

peak_kib() { (cd "$1" && /usr/bin/time -f %M "${@:2}" 2>&1 >/dev/null | tail -n 1); }
cp half1/ADSP.MSF payload/A.MSF
cp half2/ADSP.MSF payload/B.MSF
cp tenth/ADSP.MSF tenth/A.MSF
cp tenth/ADSP.MSF tenth/B.MSF

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.1f", a / b }'; }
check() {  # what, a, b, awk condition on a and b
  if awk -v a="$2" -v b="$3" "BEGIN { exit !($4) }"; then echo "ok $1"; else echo "MISSED $1"; fi
}

report=$(
  printf '%-8s %9s %11s %12s %9s %9s %11s %11s  %s\n' tool "tool ms" "objcopy ms" "srec_cat ms" "obj/tool" \
    "cat/tool" "peak 16 MB" "peak 1.6 MB" "targets"
  row() {  # tool, objcopy contender or -, srec_cat contender, targets, arguments
    local tool=$1 obj=$2 cat=$3 targets=$4 t o s p16 p1
    shift 4
    t=${med[$tool]}
    s=${med[$cat]}
    o=-
    [ "$obj" = - ] || o=${med[$obj]}
    p16=$(peak_kib payload "$bin/$tool" "$@")
    p1=$(peak_kib tenth "$bin/$tool" "$@")
    printf '%-8s %9s %11s %12s %9s %9s %11s %11s  %s; %s\n' "$tool" "$t" "$o" "$s" \
      "$([ "$o" = - ] && echo - || ratio "$o" "$t")" "$(ratio "$s" "$t")" "$p16" "$p1" "$targets" \
      "$(check "peak flat" "$p16" "$p1" "a <= b + 512")"
  }
  row recmake objcopy-make srec_cat-make \
    "$(check "<= objcopy" "${med[recmake]}" "${med[objcopy-make]}" "a <= b"), $(check "8 x srec_cat" "${med[srec_cat-make]}" "${med[recmake]}" "a >= 8 * b")"
  row recraw objcopy-raw srec_cat-raw "$(check "<= objcopy" "${med[recraw]}" "${med[objcopy-raw]}" "a <= b")"
  row recjoin - srec_cat-join "$(check "10 x srec_cat" "${med[srec_cat-join]}" "${med[recjoin]}" "a >= 10 * b")" \
    A.MSF B.MSF J.MSF
)
echo "$report"
echo "ADSP.OUT $(stat -c %s ADSP.OUT) bytes, its S-records $(stat -c %s input.msf) bytes, halves $(stat -c %s A.MSF) + $(stat -c %s B.MSF) bytes; medians of $runs runs; peak memory in KiB"
case $report in *MISSED*) exit 1 ;; esac
