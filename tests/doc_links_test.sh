#!/usr/bin/env bash
# Every relative link of the README and of the manual in doc/ points at a
# file that exists, and every anchor at a heading of that file (as GitHub
# makes anchors: lower case, punctuation but '-' and '_' dropped, spaces
# turned into '-'). Links to the web are not followed.
# Usage: doc_links_test.sh SOURCE_DIR
set -euo pipefail
source=$(cd "$1" && pwd)
failures=0
checked=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

# anchors FILE: the anchors of FILE's headings, one per line.
anchors() {
  sed -n 's/^#\{1,6\} \(.*\)$/\1/p' "$1" | tr '[:upper:]' '[:lower:]' |
    sed 's/[^a-z0-9 _-]//g; s/ /-/g'
}

for page in "$source/README.md" "$source"/doc/*.md; do
  folder=$(dirname "$page")
  # The targets of [text](target) links, outside code blocks.
  while IFS= read -r target; do
    case $target in
      http://* | https://* | mailto:*) continue ;;
    esac
    checked=$((checked + 1))
    file=${target%%#*}
    anchor=
    [[ "$target" == *"#"* ]] && anchor=${target#*#}
    path=$page
    if [ -n "$file" ]; then
      path=$folder/$file
      [ -e "$path" ] || { fail "${page#"$source"/}: '$target': no file $file"; continue; }
    fi
    if [ -n "$anchor" ]; then
      anchors "$path" | grep -qxF "$anchor" ||
        fail "${page#"$source"/}: '$target': no heading with the anchor #$anchor"
    fi
  done < <(awk '/^    / { next } { print }' "$page" | grep -o '\](\([^)]*\))' | sed 's/^](//; s/)$//')
done
[ "$checked" -gt 0 ] || fail "no link was checked"
[ "$failures" -eq 0 ] || exit 1
echo "documentation links: $checked checked, OK"
