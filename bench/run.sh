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
cmake --build "$build" -j2 --target r9-bench-tool r9-bench-nofsync r9-instrument-sim r9-update
export QT_QPA_PLATFORM=offscreen
set -- /usr/bin/python3 "$here/bench.py" --driver "$build/r9-bench-tool" --nofsync "$build/libr9-bench-nofsync.so" \
    --sim "$build/sim/r9-instrument-sim" --r9-update "$build/r9-update" "$@"

# Every file opens a data connection, and each closed one holds its port in
# TIME-WAIT for a minute: thousands of them slow down the next run's connects,
# and outside, the benchmark must wait for them to go. In a network namespace
# of its own (as root, or with user namespaces) it keeps only a few and need
# not wait; only its loopback exists there.
tw_limit=64
if command -v unshare >/dev/null && command -v ip >/dev/null; then
    for user in "" --map-root-user; do
        if unshare --net $user true 2>/dev/null; then
            exec unshare --net $user sh -c '
                ip link set lo up || exit 1
                if echo "$0" > /proc/sys/net/ipv4/tcp_max_tw_buckets 2>/dev/null; then
                    export R9_BENCH_TIME_WAIT_LIMIT="$0"
                fi
                exec "$@"' "$tw_limit" "$@"
        fi
    done
fi
exec "$@"
