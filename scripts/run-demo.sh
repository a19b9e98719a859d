#!/usr/bin/env bash
# Builds the tool and the instrument stand-in, writes a sample instrument,
# serves it on 127.0.0.1:2121 and starts the tool against it.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/ensure-packages.sh
cmake --preset dev
cmake --build --preset dev -j2 --target r9-update r9-instrument-sim

demo="${R9_DEMO_DIR:-$HOME/r9-demo}"
mkdir -p "$demo/instrument" "$demo/pc"
echo "Sample instrument: $demo/instrument    suggested local folder: $demo/pc"

build/dev/sim/r9-instrument-sim --root "$demo/instrument" --generate --port 2121 &
sim=$!
trap 'kill "$sim" 2>/dev/null || true' EXIT

build/dev/r9-update "$@"
