#!/usr/bin/env bash
# After ctest: adds up the Qt Test totals of every test executable in the
# build folder's last run and lists each skipped case with its reason, so
# that a skip is seen rather than counted as a pass, then each failed case
# with its message and place, last, where a cut-off log still shows them.
set -euo pipefail
log="${1:?build folder}/Testing/Temporary/LastTest.log"
[ -f "$log" ] || exit 0

grep -E '^SKIP   : ' "$log" | sed 's/^SKIP   : /skipped: /' || true
grep -E -A3 '^FAIL!  : ' "$log" | grep -E '^(FAIL!  : |   Loc: |   Actual|   Expected)' \
    | sed 's/^FAIL!  : /failed: /' || true
awk '/^Totals: [0-9]+ passed, [0-9]+ failed, [0-9]+ skipped/ {
       passed += $2; failed += $4; skipped += $6 }
     END { printf "qtest: %d passed, %d failed, %d skipped\n", passed, failed, skipped }' "$log"
