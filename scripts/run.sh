#!/usr/bin/env bash
# Builds Lapse and starts it.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/packages.sh
lapse_install_packages "${LAPSE_BUILD_PACKAGES[@]}"

cmake --preset release >/dev/null
cmake --build --preset release
echo "The rewriting engine is built; the command-line tool and the desktop program come next."
