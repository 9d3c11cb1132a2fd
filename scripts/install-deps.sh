#!/usr/bin/env bash
# Installs the Debian 12 packages this project needs to build, test and benchmark.
# Runs apt-get only for what is missing; uses sudo when not root.
#   bash scripts/install-deps.sh              build, test, benchmark
#   bash scripts/install-deps.sh screenshot   also a virtual X server and the tools
#                                             that drive and capture it (screenshot.sh)
set -euo pipefail

packages=(
  # toolchain
  g++ cmake ninja-build pkgconf
  # tests and benchmarks
  googletest libgtest-dev libgmock-dev libbenchmark-dev xxd time binutils
  # Qt 6 base: Core, Gui, Widgets, Test (image control, client, simulated camera)
  qt6-base-dev qt6-base-dev-tools libgl-dev
  # Qt image writers beyond the built-in ones (zivgrab --out a.tif)
  qt6-image-formats-plugins
  # independent S-record implementation used as an oracle in tests and benchmarks
  srecord
  # GStreamer: the zivsrc plugin's headers and libraries (core, base, video,
  # app for its tests), gst-launch-1.0 and gst-inspect-1.0, the base elements
  # (videoconvert) and the good ones (pngenc, multifilesink, vp8enc, webmmux)
  # that save and record its images
  libgstreamer1.0-dev libgstreamer-plugins-base1.0-dev gstreamer1.0-tools
  gstreamer1.0-plugins-base gstreamer1.0-plugins-good
  # the Python module ziv on zivcam, and its tests
  python3-dev pybind11-dev python3-numpy python3-pytest
  # the fuzz preset: clang with the libFuzzer and sanitizer runtimes
  clang libclang-rt-14-dev
  # man pages (scdoc to roff, checked with groff and man), the Debian packages
  # and their checks (package-check.sh): debhelper, lintian, the desktop entry
  # and AppStream validators
  scdoc groff-base man-db debhelper dh-python dpkg-dev fakeroot lintian desktop-file-utils appstream
)
if [[ ${1:-} == screenshot ]]; then
  packages+=(xvfb xdotool imagemagick)
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q '^install ok installed$'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "install-deps: all packages present"
  exit 0
fi

sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then sudo_cmd=(sudo); fi

echo "install-deps: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update
"${sudo_cmd[@]}" apt-get install -y --no-install-recommends "${missing[@]}"
