#!/usr/bin/env bash
# Builds Lapse and starts the desktop program. The command-line tool is
# build/release/src/cli/lapse-cli.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/packages.sh
lapse_install_packages "${LAPSE_BUILD_PACKAGES[@]}" "${LAPSE_GUI_PACKAGES[@]}"

cmake --preset release >/dev/null
cmake --build --preset release >/dev/null
program=$PWD/build/release/src/app/lapse
# Run as the desktop's own user when started with sudo, so that the options
# land in that user's settings and the window on that user's display.
if [ "$(id -u)" -eq 0 ] && [ -n "${SUDO_USER:-}" ] && [ "$SUDO_USER" != root ]; then
  exec sudo -u "$SUDO_USER" --preserve-env=DISPLAY,WAYLAND_DISPLAY,XDG_RUNTIME_DIR,XAUTHORITY \
    "$program" "$@"
fi
exec "$program" "$@"
