#!/usr/bin/env bash
# Builds Lapse and starts it. Until the desktop program is in place this is
# the command-line tool: scripts/run.sh run DIR, scripts/run.sh replace DIR.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/packages.sh
lapse_install_packages "${LAPSE_BUILD_PACKAGES[@]}"

cmake --preset release >/dev/null
cmake --build --preset release >/dev/null
if [ $# -eq 0 ]; then
  set -- --help
fi
exec build/release/src/cli/lapse-cli "$@"
