#!/usr/bin/env bash
# Installs what is missing, builds the normal and the sanitizer configuration,
# runs every test of both through CTest, then each fuzz target for a short
# while on its seed corpus, then builds, installs, checks and purges the
# Debian packages (without their tests: those ran above).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
jobs=$(nproc)
for preset in default asan; do
  echo "== $preset: configure and build"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
  echo "== $preset: tests"
  ctest --preset "$preset" -j "$jobs"
done
# 15 s a target: twelve targets and the packages still leave CI well under half an hour.
echo "== fuzz: every target, 15 s each"
bash scripts/fuzz.sh all 15
echo "== packages: build, install, check, purge"
bash scripts/package-check.sh
