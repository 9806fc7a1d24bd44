#!/usr/bin/env bash
# Fails when a file includes what belongs inside another target: the zip
# writer's private pipeline, or an archive library's headers outside the
# engine folder that wraps it. Prints each offending line.
set -uo pipefail
cd "$(dirname "$0")/.."

# pattern|folders allowed to include it (extended regular expression on the path)
rules=(
  '#include "engine/zipwrite/private/|^engine/zipwrite/'
  '#include <zip\.h>|^engine/(extract|zipwrite)/'
  '#include <unrar/|^engine/extract/'
  '#include <archive(_entry)?\.h>|^engine/(extract|zipwrite)/'
  '#include <uchardet/|^engine/extract/'
  '#include <openssl/|^(engine/(crypto|extract|zipwrite)|tests/engine)/'
)

status=0
for rule in "${rules[@]}"; do
  pattern=${rule%%|*}
  allowed=${rule#*|}
  while IFS= read -r hit; do
    file=${hit%%:*}
    if ! [[ $file =~ $allowed ]]; then
      echo "check-includes: $hit"
      status=1
    fi
  done < <(git ls-files -- '*.cpp' '*.h' | xargs grep -HnE "$pattern" 2>/dev/null)
done
[ $status -eq 0 ] && echo "check-includes: every include stays inside its target"
exit $status
