#!/usr/bin/env bash
# Runs the whole test suite from a fresh checkout: installs what is missing,
# configures, builds and runs ctest.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/ensure-packages.sh

export QT_QPA_PLATFORM=offscreen
cmake --preset dev
cmake --build --preset dev -j2
ctest --preset dev
