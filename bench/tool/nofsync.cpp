// Diagnostic only, never part of the tool: preloaded into the benchmark
// driver, it turns the flushes to disk into no-ops, so that one row of the
// benchmark shows how much of the tool's time goes to syncing each file.
extern "C" int fsync(int)
{
    return 0;
}

extern "C" int fdatasync(int)
{
    return 0;
}
