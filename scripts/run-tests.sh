#!/usr/bin/env bash
# Runs the whole test suite from a fresh checkout: installs what is missing,
# then configures, builds and tests three builds: the debug build, the same
# under AddressSanitizer/UndefinedBehaviorSanitizer, and the parser fuzzers
# (clang, for a bounded time); then checks the release's Debian package and
# the demo script.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/ensure-packages.sh clang libclang-rt-14-dev

export QT_QPA_PLATFORM=offscreen
log=$(mktemp)
trap 'rm -f "$log"' EXIT

run_ctest() {
    local result=0
    ctest --preset "$1" 2>&1 | tee -a "$log" || result=1
    # The fault matrix's size, from its own totals, which ctest keeps.
    awk -v build="$1" '/Start testing of tst_FaultMatrix/ { m = 1 } m && /^Totals:/ { print build " fault matrix " $0; m = 0 }' \
        "build/$1/Testing/Temporary/LastTest.log" 2>/dev/null || true
    return "$result"
}

status=0

cmake --preset dev
cmake --build --preset dev -j2
run_ctest dev || status=1

cmake --preset asan
cmake --build --preset asan -j2
run_ctest asan || status=1

cmake --preset fuzz
cmake --build --preset fuzz -j2 --target fuzz_listparser fuzz_replyparser
run_ctest fuzz || status=1

# The field release's Debian package as Debian's tools see it (one release
# build), and the demo's refusal to start without its stand-in.
scripts/check-deb.sh 2>&1 | tee -a "$log" || status=1
scripts/check-demo.sh 2>&1 | tee -a "$log" || status=1

# One closing line over the three runs and the two checks.
read -r passed failed < <(awk '/tests passed, [0-9]+ tests? failed out of/ { total += $NF; failed += $4 }
        /^check-[a-z]+: passed/ { total++ } /^check-[a-z]+: FAILED/ { total++; failed++ }
        END { print total - failed, failed + 0 }' "$log")
echo "total: ${passed} passed, ${failed} failed"
exit "$status"
