# Shared by the image benchmark scripts (sourced, from the project's root):
# checks the programs, starts one camsim with a 4096x3072 sensor on a free
# port (stopped on exit), and offers median and field.
#   require PROGRAM...   exits with 2 when one is not built
BIN=${BIN:-build/bin}
RUNS=${RUNS:-5}
SIZES=(640x480 1280x1024 4096x3072)

require() {
  for p in "$@"; do
    [[ -x $BIN/$p ]] || { echo "missing $BIN/$p: build first (cmake --build build -j2)" >&2; exit 2; }
  done
}

start_camsim() {
  camsim_out=$(mktemp)
  "$BIN/camsim" --port 0 --sensor 4096x3072 >"$camsim_out" &
  camsim_pid=$!
  trap 'kill "$camsim_pid" 2>/dev/null; wait "$camsim_pid" 2>/dev/null; rm -f "$camsim_out"' EXIT
  for _ in $(seq 100); do
    [[ -s $camsim_out ]] && break
    sleep 0.05
  done
  port=$(sed -n '1s/^listening on .*://p' "$camsim_out")
  [[ -n $port ]] || { echo "camsim did not start" >&2; exit 2; }
}

median() { sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
# field NAME LINE: the value after the word NAME in LINE
field() { awk -v k="$1" '{ for (i = 1; i < NF; i++) if ($i == k) print $(i + 1) }' <<<"$2"; }
# before NAME LINE: the value before the word NAME in LINE ("1527.3 images/s,")
before() { awk -v k="$1" '{ for (i = 2; i <= NF; i++) { w = $i; sub(/,$/, "", w); if (w == k) print $(i - 1) } }' <<<"$2"; }
# images SIZE: about 3 GB of pixels' worth, at least 20 (as the benchmark clients take without --images)
images() { awk -v s="$1" 'BEGIN { split(s, d, "x"); n = int(3e9 / (d[1] * d[2])); print (n < 20 ? 20 : n) }'; }
