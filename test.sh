#!/usr/bin/env bash
# Builds pakforge twice and runs every test in each build:
#  1. GCC, warnings as errors: unit and end-to-end tests, clang-tidy;
#  2. Clang with AddressSanitizer and UndefinedBehaviorSanitizer (halting on
#     the first error): the same tests, plus each fuzz target for
#     PAKFORGE_FUZZ_SECONDS (30 by default) from its seed corpus.
set -euo pipefail
cd "$(dirname "$0")"
cmake --workflow --preset test
cmake --workflow --preset sanitize
