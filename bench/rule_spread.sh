#!/usr/bin/env bash
# In how many source files of src/ each rule appears, by its name
# (Rule::NAME) or its code ("PF101"): the rule table itself (rules.h,
# rules.cpp) counts as one place. Prints the rules by how many files they
# are in, most first, and how many are in at most 3.
# Usage: bench/rule_spread.sh
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
rows=$(tr '\n' ' ' <src/rules/rules.cpp | grep -o 'RuleInfo{ *Rule::[A-Za-z]*, *"PF[0-9]*"' |
  sed 's/RuleInfo{ *Rule::\([A-Za-z]*\), *"\(PF[0-9]*\)"/\1 \2/')
while read -r name code; do
  files=$(grep -rlE "Rule::$name\\b|\"$code\"" src --include='*.cpp' --include='*.h' |
    grep -v '^src/rules/' | sort -u)
  count=$(($(printf '%s\n' "$files" | grep -c . || true) + 1))
  printf '%2d %s %s: %s\n' "$count" "$code" "$name" "$(echo "$files" | tr '\n' ' ')"
done <<<"$rows" | sort -rn | tee "${TMPDIR:-/tmp}/rule_spread.$$"
awk '{ n++; s += $1; if ($1 <= 3) k++ } END {
  printf "%d of %d rules in at most 3 places (the table counts as one); %.1f on average\n", k, n, s / n
}' "${TMPDIR:-/tmp}/rule_spread.$$"
rm -f "${TMPDIR:-/tmp}/rule_spread.$$"
