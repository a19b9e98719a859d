#pragma once

#include <functional>

// Runs the event loop until `condition` holds or `timeoutMs` has passed.
// Unlike QTest::qWaitFor, which sleeps between rounds of events, this lets an
// in-process server and client talk at full speed while the test waits.
bool waitUntil(const std::function<bool()> &condition, int timeoutMs);
