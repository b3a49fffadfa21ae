# What the benchmarks share: the project's root, the runs per figure, the
# pakforge and aelfdump to time (PAKFORGE_BIN, else build/default's, built
# first), and a scratch folder. Sourced, with `runs_default` set.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[1]}")/.." && pwd)
runs=${1:-$runs_default}
[ -x /usr/bin/time ] || { echo "$(basename "$0") needs /usr/bin/time (apt-get install time)" >&2; exit 1; }
bin=${PAKFORGE_BIN:-$root/build/default}
if [ -z "${PAKFORGE_BIN:-}" ]; then
  cmake --preset default >/dev/null
  cmake --build --preset default --target pakforge aelfdump >/dev/null
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
