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

# The tool is built for 127.0.0.1:2121 and must meet the stand-in there,
# not whatever else may hold the port: it starts only once the stand-in
# says it listens. A stand-in that cannot listen says why on standard error
# and ends, which closes its standard output.
fifo=$(mktemp -d)
mkfifo "$fifo/out"
build/dev/sim/r9-instrument-sim --root "$demo/instrument" --generate --port 2121 >"$fifo/out" &
sim=$!
trap 'kill "$sim" 2>/dev/null || true' EXIT
exec 3<"$fifo/out"
rm -rf "$fifo"
if ! read -r -t 60 line <&3 || [[ "$line" != *"listening on 127.0.0.1:2121"* ]]; then
    kill "$sim" 2>/dev/null || true
    status=0
    wait "$sim" || status=$?
    echo "run-demo.sh: the instrument stand-in is not serving on 127.0.0.1:2121; the tool was not started." >&2
    exit $((status ? status : 1))
fi
echo "$line"

build/dev/r9-update "$@" 3<&-
