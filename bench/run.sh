#!/usr/bin/env bash
# Runs the benchmarks against the peer tools. Usage: bench/run.sh BUILD_DIR [options]
# Options go to bench/bench.py (--quick for a 30 MB corpus, --rounds N,
# --scratch DIR, --only compress,aes,extract); see its header.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
build="${1:?usage: bench/run.sh BUILD_DIR [options]}"
shift
export LC_ALL=C.UTF-8 LANGUAGE=en
exec python3 "$here/bench.py" "$build" "$@"
