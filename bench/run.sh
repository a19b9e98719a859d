#!/bin/sh
# The benchmark of the whole tool against curl and lftp, in one command:
# builds the tool's benchmark driver and the instrument stand-in in release
# mode (CMake preset "bench", build/bench), runs every measurement and writes
# bench/RESULTS.md. `bench/run.sh --quick` is a smoke run with small sizes.
# Other arguments go to bench.py (see bench/bench.py --help).
set -eu
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/.." && pwd)
build="$root/build/bench"

for tool in cmake ninja curl lftp /usr/bin/time /usr/bin/python3; do
    command -v "$tool" >/dev/null || { echo "missing $tool (apt-get install cmake ninja-build curl lftp time python3)" >&2; exit 1; }
done

cd "$root"
cmake --preset bench >/dev/null
cmake --build "$build" -j2 --target r9-bench-tool r9-bench-nofsync r9-instrument-sim
export QT_QPA_PLATFORM=offscreen
exec /usr/bin/python3 "$here/bench.py" --driver "$build/r9-bench-tool" --nofsync "$build/libr9-bench-nofsync.so" --sim "$build/sim/r9-instrument-sim" "$@"
