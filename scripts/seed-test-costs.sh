#!/usr/bin/env bash
# Gives ctest the typical run time of each slower test before the first run in
# a build directory, so that with -j it starts the longest ones first instead
# of finding them at the end of the queue:
#   seed-test-costs.sh <build dir>            copy tests/test-costs.txt in
#                                             (a directory ctest already ran
#                                             in keeps its own figures);
#   seed-test-costs.sh --refresh <build dir>  rewrite tests/test-costs.txt from
#                                             that directory's figures.
set -euo pipefail
cd "$(dirname "$0")/.."
table=tests/test-costs.txt
if [ "${1:-}" = --refresh ]; then
  data=$2/Testing/Temporary/CTestCostData.txt
  [ -f "$data" ] || { echo "no test times in $2 yet: run ctest there first" >&2; exit 1; }
  head -n 4 "$table" > "$table.new"
  awk 'NF == 3 && $3 >= 1.0 { printf "%s %.1f\n", $1, $3 }' "$data" | sort -k2 -rn >> "$table.new"
  mv "$table.new" "$table"
  exit 0
fi
data=$1/Testing/Temporary/CTestCostData.txt
[ -f "$data" ] && exit 0
mkdir -p "$(dirname "$data")"
# ctest's own format: name, number of runs, average seconds; then "---" and
# the tests that failed last time (none).
awk '!/^#/ && NF == 2 { print $1, 1, $2 }' "$table" > "$data"
echo "---" >> "$data"
