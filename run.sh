#!/usr/bin/env bash
# Installs what is missing, builds zenfo and starts the window program.
set -euo pipefail
cd "$(dirname "$0")"
source scripts/packages.sh
scripts/deps.sh "${BUILD_PACKAGES[@]}" "${RUN_PACKAGES[@]}"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=OFF
cmake --build build -j 2
if [ -x build/ui/zenfo ]; then
  exec build/ui/zenfo "$@"
fi
echo "zenfo: the window program is not built yet; build/cli/zenfo-make makes albums from the command line."
