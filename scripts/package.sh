#!/usr/bin/env bash
# Builds the Debian packages from a clean copy of the tree (the files git
# tracks or would track, without any build output) with Debian's own tooling
# (dpkg-buildpackage, debhelper over CMake), then checks them with lintian.
#   bash scripts/package.sh [OUTDIR]     packages into OUTDIR (default build-deb/)
# The test suite is not built into the packages: CI runs it on its own.
set -euo pipefail
cd "$(dirname "$0")/.."
out=$(realpath -m "${1:-build-deb}")
src="$out/ziv"

rm -rf "$out"
mkdir -p "$src"
git ls-files -z --cached --others --exclude-standard |
  tar --null --ignore-failed-read -T - -cf - 2>/dev/null | tar -xf - -C "$src"

# Repeated package builds reuse the compiler's cache when there is one.
if command -v ccache >/dev/null && [ -z "${CMAKE_CXX_COMPILER_LAUNCHER:-}" ]; then
  export CMAKE_CXX_COMPILER_LAUNCHER=ccache CMAKE_C_COMPILER_LAUNCHER=ccache
fi
if [ -n "${CMAKE_CXX_COMPILER_LAUNCHER:-}" ]; then
  export CCACHE_BASEDIR="$src"
fi

echo "== package: dpkg-buildpackage in $src"
# More options may come from the caller's DEB_BUILD_OPTIONS (CI: noddebs).
(cd "$src" && DEB_BUILD_OPTIONS="nocheck parallel=$(nproc) ${DEB_BUILD_OPTIONS:-}" dpkg-buildpackage -b -us -uc)

echo "== package: lintian"
lintian --fail-on error --info "$out"/*.changes
ls "$out"/*.deb
