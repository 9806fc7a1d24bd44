#!/usr/bin/env bash
# Runs the fuzz targets of a fuzz build (make fuzz): each first over its
# committed regression inputs (fuzz/regressions/<target>/), then for SECONDS
# seconds, starting from the seeds that fuzz/make-seeds.py makes from the
# test fixtures and from what earlier runs kept in BUILD/fuzz-corpus/<target>.
# A crash, a failed check, a leak or a hang fails the run; the input is
# left in BUILD/fuzz-artifacts/<target>/.
# Usage: run-fuzz.sh BUILD [SECONDS] [TARGET...]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$(cd "$1" && pwd)"
seconds="${2:-30}"
shift $(($# > 1 ? 2 : 1))
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(name_decoder safe_destination rar_structure zip_extract tar_extract command_line)

export ASAN_OPTIONS="${ASAN_OPTIONS:-abort_on_error=0:detect_leaks=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"
export LC_ALL=C.UTF-8 TZ=UTC
# The targets make and remove folders on every run: ten times faster in memory.
if [ -z "${TMPDIR:-}" ] && [ -w /dev/shm ]; then
  export TMPDIR=/dev/shm
fi

seeds="$build/fuzz-seeds"
rm -rf "$seeds"
python3 "$root/fuzz/make-seeds.py" "$seeds"

declare -A max_len=([name_decoder]=4096 [safe_destination]=4096 [rar_structure]=16384 [zip_extract]=16384
                    [tar_extract]=16384 [command_line]=1024)
failed=()
for target in "${targets[@]}"; do
  binary="$build/bin/fuzz_$target"
  corpus="$build/fuzz-corpus/$target"
  artifacts="$build/fuzz-artifacts/$target/"
  regressions="$root/fuzz/regressions/$target"
  mkdir -p "$corpus" "$artifacts" "$seeds/$target"
  options=(-timeout=20 -rss_limit_mb=4096 -max_len="${max_len[$target]:-4096}" -artifact_prefix="$artifacts"
           -print_final_stats=0)
  [ -f "$root/fuzz/dict/$target.dict" ] && options+=(-dict="$root/fuzz/dict/$target.dict")

  if compgen -G "$regressions/*" >/dev/null; then
    echo "run-fuzz: $target: $(ls "$regressions" | wc -l) regression inputs"
    if ! nice "$binary" "${options[@]}" "$regressions"/* >"$build/fuzz-$target-regressions.log" 2>&1; then
      tail -n 60 "$build/fuzz-$target-regressions.log"
      failed+=("$target (regressions)")
      continue
    fi
  fi
  echo "run-fuzz: $target: fuzzing for ${seconds}s"
  if ! nice "$binary" "${options[@]}" -max_total_time="$seconds" "$corpus" "$seeds/$target" \
      >"$build/fuzz-$target.log" 2>&1; then
    tail -n 60 "$build/fuzz-$target.log"
    failed+=("$target")
    continue
  fi
  grep -E '^#[0-9]+[[:space:]]+DONE' "$build/fuzz-$target.log" | tail -n 1 | sed "s/^/run-fuzz: $target: /" || true
done

if [ ${#failed[@]} -gt 0 ]; then
  echo "run-fuzz: failed: ${failed[*]}; inputs in $build/fuzz-artifacts/"
  exit 1
fi
echo "run-fuzz: ${#targets[@]} passed, 0 failed"
