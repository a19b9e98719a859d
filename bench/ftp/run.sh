#!/bin/sh
# Builds the benchmark driver (release) and runs the FTP client benchmark
# against local servers; writes bench/ftp/RESULTS.md. Extra arguments go to
# ftp_bench_runner.py (e.g. --big-mib 256 --small-count 500 for a quick run).
set -eu
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
build="$root/build/bench-ftp"

for tool in curl lftp /usr/bin/time; do
    command -v "$tool" >/dev/null || { echo "missing $tool: apt-get install $tool" >&2; exit 1; }
done
/usr/bin/python3 -c 'import pyftpdlib' 2>/dev/null \
    || { echo "missing python3-pyftpdlib: apt-get install python3-pyftpdlib" >&2; exit 1; }

cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j2 --target ftpbench
sim=""
if cmake --build "$build" -j2 --target r9-instrument-sim >/dev/null 2>&1; then
    sim="$build/sim/r9-instrument-sim"
else
    echo "r9-instrument-sim does not build; benchmarking against pyftpdlib only" >&2
fi
exec /usr/bin/python3 "$here/ftp_bench_runner.py" --driver "$build/ftpbench" --sim "$sim" "$@"
