#!/usr/bin/env bash
# The functions longer than a limit (80 lines unless given) in the fix, the
# link diagnosis, the script reader and aelfdump, longest first, as
# clang-tidy's readability-function-size counts them (the body, blank lines
# and comments included), and how many there are.
# Needs a configured build/default (compile_commands.json) and clang-tidy.
# Usage: function_lengths.sh [LIMIT]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
limit=${1:-80}
clang-tidy -p "$root/build/default" --quiet -checks='-*,readability-function-size' \
  -config="{CheckOptions: [{key: readability-function-size.LineThreshold, value: $limit}]}" \
  "$root"/src/{fix,linkdiag,ldscript,aelfdump}/*.cpp 2>/dev/null |
  awk -v root="$root/" '
    / warning: function / { split($0, q, "\x27"); where = $1; sub(root, "", where); name = q[2] }
    / note: [0-9]+ lines including/ { for (i = 1; i <= NF; ++i) if ($(i + 1) == "lines") print $i, name, where }' |
  sort -rn | awk -v limit="$limit" '{ print } END { print NR " functions over " limit " lines" }'
