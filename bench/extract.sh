#!/usr/bin/env bash
# Times `zavrin-cli extract` against unzip, `unrar x` and `7zz x` on the same
# archives, in one run, and prints time ratios and peak memory.
#
# Usage: bench/extract.sh BUILD_DIR [--large] [--size MB] [--many N] [--repeat N]
#   --size MB   size of the one big file in the corpus (default 200)
#   --large     the same with a 1 GB file (peak memory target: < 100 MB)
#   --many N    also an archive of N tiny files (default 20000; 0 to skip)
#   --repeat N  runs per tool, the fastest counts (default 3)
#   --scratch D extract into D (default bench/out/extract/scratch; a tmpfs
#               such as /dev/shm takes the shared disk's noise out)
# Data is made at run time under bench/out/ (kept between runs, git-ignored).
set -euo pipefail
export LC_ALL=C.UTF-8 LANGUAGE=en

here="$(cd "$(dirname "$0")" && pwd)"
build="$(cd "${1:?usage: bench/extract.sh BUILD_DIR [options]}" && pwd)"
shift
size=200
many=20000
repeat=3
scratch=""
while [ $# -gt 0 ]; do
  case "$1" in
    --large) size=1024 ;;
    --size) size="$2"; shift ;;
    --many) many="$2"; shift ;;
    --repeat) repeat="$2"; shift ;;
    --scratch) scratch="$2/zavrin-bench-$$"; shift ;;
    *) echo "extract.sh: unknown option $1" >&2; exit 2 ;;
  esac
  shift
done

cli="$build/bin/zavrin-cli"
[ -x "$cli" ] || { echo "extract.sh: $cli not built" >&2; exit 2; }
for tool in unzip unrar 7zz zip rar python3 /usr/bin/time; do
  command -v "$tool" >/dev/null || { echo "extract.sh: $tool is missing (scripts/install-deps.sh)" >&2; exit 2; }
done

out="$here/out/extract"
data="$out/data-$size"
mkdir -p "$out"

# --- Corpus and archives (made once per size) ----------------------------------
# One big file, half text-like and half incompressible, and 5000 small text files.
if [ ! -f "$data/.done" ]; then
  echo "making a corpus with a ${size} MB file in $data ..."
  rm -rf "$data" && mkdir -p "$data/tree/small"
  python3 - "$data/tree" "$size" <<'PY'
import os, random, sys
root, size = sys.argv[1], int(sys.argv[2]) << 20
rng = random.Random(1)
words = [''.join(rng.choice('abcdefghijklmnopqrstuvwxyz') for _ in range(rng.randint(2, 10))) for _ in range(5000)]
text = ' '.join(rng.choice(words) for _ in range(800000)).encode()
while len(text) < (4 << 20):
    text += text
with open(os.path.join(root, 'big.bin'), 'wb') as f:
    written, chunk = 0, 4 << 20
    while written < size:
        n = min(chunk, size - written)
        f.write(text[:n] if (written // chunk) % 2 == 0 else os.urandom(n))
        written += n
for i in range(5000):
    with open(os.path.join(root, 'small', f'file{i:05}.txt'), 'wb') as f:
        start = rng.randrange(len(text) - 9000)
        f.write(text[start:start + rng.randint(200, 8000)])
PY
  (cd "$data/tree" && zip -q -r -6 "$data/corpus.zip" .)
  (cd "$data/tree" && rar a -idq -r -m3 "$data/corpus.rar" .)
  (cd "$data/tree" && 7zz a -bd -bso0 -mx1 "$data/corpus.7z" . >/dev/null)
  rm -rf "$data/tree"
  touch "$data/.done"
fi
if [ "$many" -gt 0 ] && [ ! -f "$out/many-$many.zip" ]; then
  echo "making an archive of $many tiny files ..."
  python3 - "$out/many-$many.zip" "$many" <<'PY'
import sys, zipfile
with zipfile.ZipFile(sys.argv[1], 'w', zipfile.ZIP_DEFLATED) as z:
    for i in range(int(sys.argv[2])):
        z.writestr(f'd{i // 1000:03}/f{i:06}.txt', f'entry {i}\n')
PY
fi

# --- Timing ----------------------------------------------------------------------
scratch="${scratch:-$out/scratch}"
# Runs "$@" into a fresh $scratch/x; prints "seconds maxKB".
once() {
  rm -rf "$scratch" && mkdir -p "$scratch/x"
  sync
  /usr/bin/time -f '%e %M' -o "$out/time.txt" "$@" >/dev/null 2>"$out/stderr.txt" </dev/null || {
    echo "extract.sh: failed: $*" >&2; cat "$out/stderr.txt" >&2; exit 1; }
  cat "$out/time.txt"
}
# The fastest of `repeat` runs of the peer and of ours, taken in turns so
# that both see the same load.
measure() {
  local archive="$1"
  shift
  local pbest="" pkb=0 obest="" okb=0 secs kb
  for _ in $(seq "$repeat"); do
    read -r secs kb < <(once "$@")
    if [ -z "$pbest" ] || awk -v a="$secs" -v b="$pbest" 'BEGIN { exit !(a < b) }'; then pbest="$secs"; pkb="$kb"; fi
    read -r secs kb < <(once "$cli" extract "$archive" -o "$scratch/x")
    if [ -z "$obest" ] || awk -v a="$secs" -v b="$obest" 'BEGIN { exit !(a < b) }'; then obest="$secs"; okb="$kb"; fi
  done
  rm -rf "$scratch"
  echo "$pbest $pkb $obest $okb"
}

row() {
  local name="$1" target="$2" archive="$3"
  shift 3
  cat "$archive" >/dev/null # the same warm cache for both
  read -r ptime pkb otime okb < <(measure "$archive" "$@")
  awk -v n="$name" -v p="$ptime" -v o="$otime" -v t="$target" -v pk="$pkb" -v ok="$okb" 'BEGIN {
    r = (p > 0) ? o / p : 0
    v = (r <= t + 1e-9) ? "ok" : "SLOWER"
    if (ok / 1024 >= 100) v = v " (memory!)"
    printf "%-14s %8.2fs %8.2fs %6.3fx %7.2fx %10.1f %10.1f  %s\n", n, p, o, r, t, pk / 1024, ok / 1024, v }'
}

echo "extracting into $scratch (best of $repeat runs each)"
printf '\n%-14s %9s %9s %7s %8s %10s %10s  %s\n' archive peer ours ratio target "peer MB" "ours MB" verdict
row "zip ${size}MB" 1.00 "$data/corpus.zip" unzip -q -o "$data/corpus.zip" -d "$scratch/x"
row "rar ${size}MB" 1.05 "$data/corpus.rar" unrar x -idq -o+ "$data/corpus.rar" "$scratch/x/"
row "7z ${size}MB" 1.05 "$data/corpus.7z" 7zz x -y -bso0 -bsp0 "$data/corpus.7z" "-o$scratch/x"
if [ "$many" -gt 0 ]; then
  row "zip ${many} files" 1.00 "$out/many-$many.zip" unzip -q -o "$out/many-$many.zip" -d "$scratch/x"
fi
