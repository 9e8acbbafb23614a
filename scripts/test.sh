#!/usr/bin/env bash
# Builds Lapse and runs every test. Usage: scripts/test.sh [dev|asan|release]
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/packages.sh
lapse_install_packages "${LAPSE_BUILD_PACKAGES[@]}" "${LAPSE_GUI_PACKAGES[@]}" \
  "${LAPSE_SCHEDULE_TEST_PACKAGES[@]}"

preset=${1:-dev}
cmake --preset "$preset"
cmake --build --preset "$preset"
ctest --preset "$preset"
