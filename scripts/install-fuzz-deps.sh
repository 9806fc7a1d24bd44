#!/usr/bin/env bash
# Installs what `make fuzz` needs on top of the project's own dependencies:
# clang with its libFuzzer and sanitizer runtimes, and llvm-symbolizer for
# readable stack traces. Idempotent, like install-deps.sh.
set -euo pipefail
bash "$(dirname "$0")/install-deps.sh"

packages=(clang libclang-rt-14-dev llvm-14)
sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then
  sudo_cmd=(sudo)
fi
missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "install-fuzz-deps: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -qq
"${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
