#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, when they are missing.
# Generating the constant tables in data/ needs more (see tools/README.md); the
# build itself only compiles the committed tables.
set -euo pipefail
# gemmi-dev reads CIF files, with tao-pegtl-dev (its parser) and libstb-dev (its number
# formatting); python3 loads the exported CSV and JSON files in the tests.
packages=(g++ cmake make libgtest-dev libbenchmark-dev gemmi-dev tao-pegtl-dev libstb-dev python3)
# Ceres solves the least-squares fit of a simulated scan to a measured one.
packages+=(libceres-dev)
# The desktop program kaven-gui: Qt 6 Widgets and SVG, a font to draw its texts with,
# xdg-open for the desktop's text editor.
packages+=(qt6-base-dev qt6-svg-dev fonts-dejavu-core xdg-utils)
# ghostscript and librsvg2-bin render the plot in its tests (libpng-dev reads the
# pictures back).
packages+=(ghostscript librsvg2-bin libpng-dev)
# The Python module kaven (pybind11) with NumPy arrays, its tests (pytest) and the
# example that draws a scan with matplotlib.
packages+=(pybind11-dev python3-dev python3-numpy python3-pytest python3-matplotlib)
# clang with its sanitizer and libFuzzer run-time libraries: make sanitize, make fuzz.
packages+=(clang libclang-rt-14-dev)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi
echo "installing: ${missing[*]}"
if [ "$(id -u)" -ne 0 ]; then
  SUDO=sudo
else
  SUDO=
fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
