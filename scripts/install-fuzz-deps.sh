#!/usr/bin/env bash
# Installs what `make fuzz` needs on top of the project's own dependencies:
# clang with its libFuzzer and sanitizer runtimes, and llvm-symbolizer for
# readable stack traces. Idempotent, like install-deps.sh.
set -euo pipefail
source "$(dirname "$0")/apt-common.sh"
bash "$(dirname "$0")/install-deps.sh"

packages=(clang libclang-rt-14-dev llvm-14)
mapfile -t missing < <(missing_packages "${packages[@]}")
[ ${#missing[@]} -eq 0 ] && exit 0

echo "install-fuzz-deps: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
as_root apt-get update -qq
as_root apt-get install -y -qq --no-install-recommends "${missing[@]}"
