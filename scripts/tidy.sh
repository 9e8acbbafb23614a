#!/usr/bin/env bash
# Runs clang-tidy with the checks of the root .clang-tidy over the libraries,
# the programs and the fuzzers, using the compile databases the presets export.
# Fails on any finding. The code only Windows builds (src/win32 and the
# Windows halves of the platform) is checked by scripts/test-windows.sh,
# which has the MinGW build's compile database.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/packages.sh
lapse_install_packages "${LAPSE_BUILD_PACKAGES[@]}" "${LAPSE_GUI_PACKAGES[@]}" \
  "${LAPSE_FUZZ_PACKAGES[@]}" "${LAPSE_TIDY_PACKAGES[@]}"

cmake --preset dev >/dev/null
cmake --preset fuzz >/dev/null
run-clang-tidy-14 -quiet -j 2 -p build/dev "$PWD/src/(text|pages|platform|state|batch|schedule|messages|front|cli|ui|app)/"
run-clang-tidy-14 -quiet -j 2 -p build/fuzz "$PWD/fuzz/"
echo "clang-tidy: no findings"
