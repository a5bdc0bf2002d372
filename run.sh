#!/usr/bin/env bash
# Installs what is missing, builds zenfo and starts the window program.
set -euo pipefail
cd "$(dirname "$0")"
source scripts/packages.sh
scripts/deps.sh "${BUILD_PACKAGES[@]}" "${RUN_PACKAGES[@]}"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=OFF
cmake --build build -j 2
if [ -x build/ui/zenfo ]; then
  if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    echo "zenfo: no display to open the window on; run it on a desktop (or under xvfb-run)." >&2
    echo "build/cli/zenfo-make makes albums without a window." >&2
    exit 1
  fi
  exec build/ui/zenfo "$@"
fi
echo "zenfo: the window program is not built yet; build/cli/zenfo-make makes albums from the command line."
