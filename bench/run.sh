#!/usr/bin/env bash
# Runs the benchmarks against the peer tools. Usage: bench/run.sh BUILD_DIR [options]
# Options are passed on to each benchmark (see bench/extract.sh).
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
build="${1:?usage: bench/run.sh BUILD_DIR [options]}"
shift
build="$(cd "$build" && pwd)"
bash "$here/extract.sh" "$build" "$@"
if [ -f "$here/compress.sh" ]; then
  bash "$here/compress.sh" "$build" "$@"
fi
