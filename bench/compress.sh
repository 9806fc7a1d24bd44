#!/usr/bin/env bash
# Compression benchmark: zavrin-cli against zip and 7zz on one generated corpus.
#
#   bash bench/compress.sh [BUILD_DIR]
#
# Environment:
#   BENCH_MB       corpus size in MB (default 300; e.g. 30 for a quick check)
#   BENCH_BIG_MB   size of the single large file for the memory check
#                  (default 1024; 0 skips it)
#   BENCH_DIR      where to build the corpus (default bench/out, kept between runs)
#   ZAVRIN_CLI     the program to time (default BUILD_DIR/bin/zavrin-cli)
#
# Prints wall time, ratio to `zip -r` at the same level, archive size (and its
# difference from zip's) and peak memory of every run.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
build_dir=$(cd "${1:-$here/../build}" && pwd)
cli=${ZAVRIN_CLI:-$build_dir/bin/zavrin-cli}
total_mb=${BENCH_MB:-300}
big_mb=${BENCH_BIG_MB:-1024}
work=${BENCH_DIR:-$here/out}
corpus=$work/corpus-$total_mb
python=/usr/bin/python3
[ -x "$python" ] || python=python3

for tool in "$cli" zip 7zz /usr/bin/time; do
  command -v "$tool" >/dev/null || { echo "compress.sh: $tool not found" >&2; exit 1; }
done

# --- Corpus ----------------------------------------------------------------
# About a third text, a quarter binaries, a fifth incompressible data and the
# rest 20 000 small files (fewer for a smaller corpus), all from fixed seeds.
make_corpus() {
  rm -rf "$corpus.tmp" && mkdir -p "$corpus.tmp"
  "$python" - "$corpus.tmp" "$total_mb" <<'PY'
import os, random, sys
root, total = sys.argv[1], int(sys.argv[2]) * 1024 * 1024
rng = random.Random(20240601)
vocabulary = [''.join(rng.choice('etaoinshrdlucmfwypvbgkjqxz') for _ in range(rng.randint(2, 11)))
              for _ in range(20000)]
weights = [1.0 / (rank + 1) for rank in range(len(vocabulary))]

def text(size):
    out, length = [], 0
    while length < size:
        words = rng.choices(vocabulary, weights, k=2000)
        line = ' '.join(words) + '.\n'
        out.append(line)
        length += len(line)
    return ''.join(out).encode()[:size]

def write(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, 'wb') as f:
        f.write(data)

# Text: a few large documents made of the system's C and C++ headers (real
# source text), topped up with generated text where there are too few.
text_total = total * 33 // 100
headers = sorted(os.path.join(d, f) for d, _, fs in os.walk('/usr/include') for f in fs if f.endswith('.h'))
def header_text(size):
    out, length = [], 0
    while headers and length < size:
        with open(headers.pop(0), 'rb') as f:
            data = f.read()
        out.append(data)
        length += len(data)
    data = b''.join(out)
    return data[:size] if len(data) >= size else data + text(size - len(data))
for i in range(max(1, text_total // (8 << 20))):
    write(f'{root}/text/doc{i:02}.txt', header_text(min(8 << 20, text_total)))

# Binaries: the system's shared libraries, as found.
binary_total, done = total * 25 // 100, 0
libs = sorted(os.path.join(d, f) for d in ('/usr/lib/x86_64-linux-gnu', '/usr/lib') if os.path.isdir(d)
              for f in os.listdir(d) if '.so' in f and os.path.isfile(os.path.join(d, f)))
for lib in libs:
    if done >= binary_total:
        break
    with open(lib, 'rb') as f:
        data = f.read(binary_total - done)
    write(f'{root}/bin/{done:012}-{os.path.basename(lib)}', data)
    done += len(data)

# Incompressible data.
noise_total = total * 20 // 100
for i in range(4):
    write(f'{root}/noise/blob{i}.bin', rng.randbytes(noise_total // 4))

# Small files, 100 to a folder.
count = min(20000, max(100, 20000 * int(sys.argv[2]) // 300))
small_total = total - text_total - binary_total - noise_total
for i in range(count):
    size = max(16, int(rng.expovariate(count / small_total)))
    data = text(size) if i % 4 else rng.randbytes(size)
    write(f'{root}/small/d{i // 100:03}/f{i:05}.dat', data)
PY
  mv "$corpus.tmp" "$corpus"
}

[ -d "$corpus" ] || { echo "generating a ${total_mb} MB corpus in $corpus" >&2; make_corpus; }
items=(text bin noise small)

# --- Runs --------------------------------------------------------------------
results=$work/results
rm -rf "$results" && mkdir -p "$results"
# Read the corpus once so that no tool pays for the first read.
cat $(find "$corpus" -type f) >/dev/null

declare -A seconds size memory
# run NAME ARCHIVE STDIN COMMAND...: runs in the corpus folder, records time, size, peak memory.
run() {
  local name=$1 archive=$2 input=$3
  shift 3
  rm -f "$archive"
  (cd "$corpus" && /usr/bin/time -v -o "$results/$name.time" "$@" <"$input" >/dev/null 2>"$results/$name.err") || {
    echo "compress.sh: $name failed:" >&2
    cat "$results/$name.err" >&2
    exit 1
  }
  seconds[$name]=$(awk -F': ' '/Elapsed \(wall clock\)/ {n = split($2, t, ":"); s = 0; for (i = 1; i <= n; i++) s = s * 60 + t[i]; print s}' "$results/$name.time")
  memory[$name]=$(awk -F': ' '/Maximum resident/ {printf "%.0f", $2 / 1024}' "$results/$name.time")
  size[$name]=$(stat -c %s "$archive")
}

nopass=/dev/null
printf 'secret-password\n' >"$results/password"
for level in 1 9; do
  run "zavrin-$level" "$results/zavrin-$level.zip" $nopass "$cli" compress -o "$results/zavrin-$level.zip" --level $level "${items[@]}"
  run "zip-$level" "$results/zip-$level.zip" $nopass zip -r -q -$level "$results/zip-$level.zip" "${items[@]}"
  run "7zz-$level" "$results/7zz-$level.zip" $nopass 7zz a -tzip -mx$level -bd "$results/7zz-$level.zip" "${items[@]}"
done
# Encryption on large files only: the text and the incompressible data. The
# two runs are short, so each is timed three times, alternately, and the
# best time counts.
best_plain= best_aes=
for round in 1 2 3; do
  run plain-large "$results/plain-large.zip" $nopass "$cli" compress -o "$results/plain-large.zip" text noise
  run aes-large "$results/aes-large.zip" "$results/password" "$cli" compress -o "$results/aes-large.zip" --password-stdin text noise
  best_plain=$(awk -v a="${best_plain:-${seconds[plain-large]}}" -v b="${seconds[plain-large]}" 'BEGIN {print (a < b ? a : b)}')
  best_aes=$(awk -v a="${best_aes:-${seconds[aes-large]}}" -v b="${seconds[aes-large]}" 'BEGIN {print (a < b ? a : b)}')
done
seconds[plain-large]=$best_plain
seconds[aes-large]=$best_aes

if [ "$big_mb" -gt 0 ]; then
  big=$work/big-$big_mb
  if [ ! -f "$big/large.bin" ]; then
    mkdir -p "$big"
    # Half text, half noise, so both deflate paths run.
    "$python" -c "
import random, sys
rng = random.Random(5); mb = $big_mb
with open('$big/large.bin', 'wb') as f:
    for i in range(mb):
        f.write(rng.randbytes(1 << 20) if i % 2 else (b'the quick brown fox %d jumps over the lazy dog\n' % i) * 22000)
"
  fi
  (cd "$big" && /usr/bin/time -v -o "$results/big.time" "$cli" compress -o "$results/big.zip" large.bin >/dev/null 2>&1)
  seconds[big]=$(awk -F': ' '/Elapsed \(wall clock\)/ {n = split($2, t, ":"); s = 0; for (i = 1; i <= n; i++) s = s * 60 + t[i]; print s}' "$results/big.time")
  memory[big]=$(awk -F': ' '/Maximum resident/ {printf "%.0f", $2 / 1024}' "$results/big.time")
  size[big]=$(stat -c %s "$results/big.zip")
fi

# --- Report ------------------------------------------------------------------
corpus_bytes=$(du -sb "$corpus" | cut -f1)
files=$(find "$corpus" -type f | wc -l)
printf '\ncorpus: %d MB in %d files; %s cores\n\n' $((corpus_bytes / 1048576)) "$files" "$(nproc)"
printf '%-14s %9s %9s %14s %9s %9s\n' run seconds "vs zip" bytes "vs zip" "peak MB"
for level in 1 9; do
  for tool in zavrin zip 7zz; do
    name=$tool-$level
    awk -v n="$name" -v s="${seconds[$name]}" -v z="${seconds[zip-$level]}" -v b="${size[$name]}" \
        -v zb="${size[zip-$level]}" -v m="${memory[$name]}" \
        'BEGIN {printf "%-14s %9.2f %9.2f %14d %+8.2f%% %9d\n", n, s, s / z, b, (b - zb) * 100 / zb, m}'
  done
done
awk -v p="${seconds[plain-large]}" -v a="${seconds[aes-large]}" -v pm="${memory[plain-large]}" -v am="${memory[aes-large]}" \
    'BEGIN {printf "\nlarge files, level 1, best of 3: plain %.2f s (%d MB), AES-256 %.2f s (%d MB): AES costs %+.1f%%\n", p, pm, a, am, (a - p) * 100 / p}'
if [ -n "${seconds[big]:-}" ]; then
  printf 'one %d MB file, level 1: %.2f s, %d bytes, peak memory %d MB\n' "$big_mb" "${seconds[big]}" "${size[big]}" "${memory[big]}"
fi
printf '\ntargets: level 1 and 9 no slower than zip (ratio <= 1), sizes within 2%% of zip,\n'
printf 'AES within 10%% of plain, peak memory under 100 MB for the large file.\n'
