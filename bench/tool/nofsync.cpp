// Diagnostic only, never part of the tool: preloaded into the benchmark
// driver, it turns the flushes to disk into no-ops (fsync, fdatasync, syncfs,
// sync_file_range), so that one row of the benchmark shows how much of the
// tool's time goes to putting its files safely on disk.
extern "C" int fsync(int)
{
    return 0;
}

extern "C" int fdatasync(int)
{
    return 0;
}

extern "C" int syncfs(int)
{
    return 0;
}

extern "C" int sync_file_range(int, long, long, unsigned int)
{
    return 0;
}
