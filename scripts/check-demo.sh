#!/usr/bin/env bash
# With 127.0.0.1:2121 already taken, scripts/run-demo.sh must stop with the
# stand-in's own message and a non-zero status, and never start the tool
# against whatever holds the port. Loopback only, bounded in time.
set -euo pipefail
cd "$(dirname "$0")/.."

work=$(mktemp -d)
holder=
trap 'status=$?; [ -z "$holder" ] || kill "$holder" 2>/dev/null || true; rm -rf "$work"
      [ "$status" -eq 0 ] || echo "check-demo: FAILED"' EXIT

cmake --preset dev >/dev/null
cmake --build --preset dev -j2 --target r9-update r9-instrument-sim >/dev/null

# The port's holder listens and never accepts, so a tool started against it
# would find its connection waiting there. It answers one line on request:
# whether anyone connected.
mkfifo "$work/ask" "$work/answer"
python3 -u -c '
import socket, sys
s = socket.socket()
try:
    s.bind(("127.0.0.1", 2121))
    s.listen(8)
    print("held")
except OSError:
    print("taken")  # someone else holds it: taken all the same
sys.stdin.readline()
s.setblocking(False)
try:
    s.accept()
    print("connected")
except OSError:
    print("quiet")
' <"$work/ask" >"$work/answer" &
holder=$!
exec 4>"$work/ask" 5<"$work/answer"
read -r -t 30 held <&5 || held=none

result=0
R9_DEMO_DIR="$work/demo" timeout 120 scripts/run-demo.sh list >"$work/out" 2>"$work/err" || result=$?
echo >&4
read -r -t 30 seen <&5 || seen=unknown

failed=0
fail() { echo "check-demo: $*" >&2; failed=1; }
[ "$result" -ne 0 ] && [ "$result" -ne 124 ] || fail "run-demo.sh ended with status $result"
grep -q "r9-instrument-sim: cannot listen on 127.0.0.1:2121" "$work/err" || fail "the stand-in's message is missing"
[ "$held" != held ] || [ "$seen" = quiet ] || fail "something connected to the port's holder ($seen)"
if [ "$failed" -ne 0 ]; then
    cat "$work/out" "$work/err" >&2
    exit 1
fi
echo "check-demo: passed: the demo stops when 127.0.0.1:2121 is taken (status $result)"
