#!/usr/bin/python3
"""FTP client benchmark: this client against curl and lftp, on one local
server per run (pyftpdlib, and r9-instrument-sim when built).

Measures one large file down and up, and a folder of small files down and
up; reports MB/s and files/s with the ratio to the best peer, and each
client's peak memory (RSS). Everything runs on 127.0.0.1.
"""
import argparse
import datetime
import os
import platform
import re
import shutil
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.normpath(os.path.join(HERE, "..", ".."))
PYFTPD = os.path.join(ROOT, "tests", "support", "pyftpd_server.py")
USER, PASSWORD = "root", "+00417263850"
MiB = 1024 * 1024
TIME_LIMIT = 600  # seconds for any one client run
RUN_LOG = []  # every measurement, in the order it was taken


def report(line):
    RUN_LOG.append(line)
    print(line, flush=True)


def run(argv, cwd=None):
    """Runs a client; returns (seconds, peak RSS in KiB, CPU seconds). Raises on failure.

    GNU time measures the peak RSS: the rusage of a child forked from this
    Python process would count Python's own pages from before the exec.
    """
    with tempfile.NamedTemporaryFile("r") as rss_file:
        start = time.perf_counter()
        proc = subprocess.run(["/usr/bin/time", "-f", "%M %U %S", "-o", rss_file.name] + argv, cwd=cwd,
                              stdin=subprocess.DEVNULL, capture_output=True, timeout=TIME_LIMIT)
        seconds = time.perf_counter() - start
        if proc.returncode != 0:
            raise RuntimeError("%s exited %d: %s %s" % (argv[0], proc.returncode,
                                                       proc.stdout[-500:].decode(errors="replace"),
                                                       proc.stderr[-500:].decode(errors="replace")))
        rss, user, system = rss_file.read().split()[-3:]
    return seconds, int(rss), float(user) + float(system)


class Server:
    def __init__(self, kind, root, sim_path):
        self.kind = kind
        if kind.startswith("pyftpdlib"):
            argv = ["/usr/bin/python3", PYFTPD, "--root", root, "--max-seconds", "3600"]
            if kind.endswith("pasv"):
                argv.append("--no-epsv")
            pattern = re.compile(r"PORT (\d+)")
        else:
            argv = [sim_path, "--root", root, "--port", "0", "--exit-on-stdin-close"]
            pattern = re.compile(r"listening on 127\.0\.0\.1:(\d+)")
        self.proc = subprocess.Popen(argv, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                     stderr=subprocess.DEVNULL)
        line = self.proc.stdout.readline().decode()
        match = pattern.search(line)
        if not match:
            self.stop()
            raise RuntimeError("%s did not start: %r" % (kind, line))
        self.port = int(match.group(1))

    def stop(self):
        try:
            self.proc.stdin.close()
            self.proc.wait(timeout=10)
        except Exception:
            self.proc.kill()
            self.proc.wait()


def url(port, path=""):
    return "ftp://127.0.0.1:%d/%s" % (port, path)


def lftp(port, script):
    return ["lftp", "-u", "%s,%s" % (USER, PASSWORD), "-p", str(port), "-e",
            "set cmd:fail-exit yes; set ftp:passive-mode on; set net:max-retries 1; "
            "set net:timeout 30; set xfer:clobber on; " + script + "; quit", "127.0.0.1"]


def clients(driver, port, work, small_names, curl_files, small_dir):
    """(client, task) -> (argv, files) for each measurement."""
    auth = "%s:%s" % (USER, PASSWORD)
    curl_cfg = os.path.join(work, "curl-get.cfg")
    with open(curl_cfg, "w") as cfg:
        for name in small_names[:curl_files]:
            cfg.write('url = "%s"\noutput = "%s"\n' % (url(port, small_dir + "/" + name),
                                                      os.path.join(work, "down-curl-small", name)))
    curl_up = "{%s}" % ",".join(os.path.join(work, small_dir + "-local", n) for n in small_names[:curl_files])
    big_local = os.path.join(work, "big-local.bin")
    return {
        ("r9ftp", "get big"): ([driver, "--port", str(port), "get", "big.bin", os.path.join(work, "down-r9.bin")], 1),
        ("curl", "get big"): (["curl", "-sS", "--user", auth, "-o", os.path.join(work, "down-curl.bin"),
                               url(port, "big.bin")], 1),
        ("lftp", "get big"): (lftp(port, "get big.bin -o %s" % os.path.join(work, "down-lftp.bin")), 1),
        ("r9ftp", "put big"): ([driver, "--port", str(port), "put", big_local, "up-r9.bin"], 1),
        ("curl", "put big"): (["curl", "-sS", "--user", auth, "-T", big_local, url(port, "up-curl.bin")], 1),
        ("lftp", "put big"): (lftp(port, "put %s -o up-lftp.bin" % big_local), 1),
        ("r9ftp", "get small"): ([driver, "--port", str(port), "getdir", small_dir,
                                  os.path.join(work, "down-r9-small")], len(small_names)),
        ("curl", "get small"): (["curl", "-sS", "--user", auth, "--create-dirs", "-K", curl_cfg], curl_files),
        ("lftp", "get small"): (lftp(port, "mirror " + small_dir + " %s" % os.path.join(work, "down-lftp-small")),
                                len(small_names)),
        ("r9ftp", "put small"): ([driver, "--port", str(port), "putdir", os.path.join(work, small_dir + "-local"),
                                  "up-r9-small"], len(small_names)),
        ("curl", "put small"): (["curl", "-sS", "--user", auth, "--ftp-create-dirs", "-T", curl_up,
                                 url(port, "up-curl-small/")], curl_files),
        ("lftp", "put small"): (lftp(port, "mirror -R %s up-lftp-small" % os.path.join(work, small_dir + "-local")),
                                len(small_names)),
    }


def cleanup_outputs(work, served):
    for path in (os.path.join(work, n) for n in os.listdir(work)):
        if os.path.basename(path).startswith("down-"):
            shutil.rmtree(path) if os.path.isdir(path) else os.remove(path)
    for name in os.listdir(served):
        if name.startswith("up-"):
            path = os.path.join(served, name)
            shutil.rmtree(path) if os.path.isdir(path) else os.remove(path)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--driver", required=True)
    parser.add_argument("--sim", default="")
    parser.add_argument("--big-mib", type=int, default=1024)
    parser.add_argument("--small-count", type=int, default=2000)
    parser.add_argument("--small-size", type=int, default=4096)
    parser.add_argument("--curl-small-count", type=int, default=200,
                        help="curl stalls ~0.1 s per small file; it gets a subset")
    parser.add_argument("--sim-small-count", type=int, default=50,
                        help="the stand-in serves small files slowly; it gets a subset")
    parser.add_argument("--sim-curl-small-count", type=int, default=10)
    parser.add_argument("--repeat", type=int, default=5,
                        help="runs per client and large-file task, interleaved; the median counts")
    parser.add_argument("--repeat-small", type=int, default=3,
                        help="runs per client and small-file task")
    parser.add_argument("--out", default=os.path.join(HERE, "RESULTS.md"))
    parser.add_argument("--work", default="")
    args = parser.parse_args()

    work = args.work or tempfile.mkdtemp(prefix="r9ftp-bench-")
    served = os.path.join(work, "served")
    os.makedirs(served, exist_ok=True)
    big_bytes = args.big_mib * MiB
    print("preparing %d MiB and %d x %d bytes in %s" % (args.big_mib, args.small_count, args.small_size, work),
          flush=True)
    for target in (os.path.join(served, "big.bin"), os.path.join(work, "big-local.bin")):
        if not os.path.exists(target) or os.path.getsize(target) != big_bytes:
            with open(target, "wb") as f:
                for _ in range(args.big_mib):
                    f.write(os.urandom(MiB))
    small_sets = {}  # server kind -> (folder name, file names)
    for kind, count in (("pyftpdlib", args.small_count), ("r9-instrument-sim", args.sim_small_count)):
        names = ["F%05d.BIN" % i for i in range(count)]
        small_sets[kind] = ("small%d" % count, names)
        for folder in (os.path.join(served, "small%d" % count), os.path.join(work, "small%d-local" % count)):
            os.makedirs(folder, exist_ok=True)
            for name in names:
                path = os.path.join(folder, name)
                if not os.path.exists(path):
                    with open(path, "wb") as f:
                        f.write(os.urandom(args.small_size))

    # Start from a quiet disk and a warm cache, so that no client pays for
    # the writing of the test files or for reading them from disk.
    os.sync()
    for folder, _, names in os.walk(work):
        for name in names:
            with open(os.path.join(folder, name), "rb") as f:
                while f.read(8 * MiB):
                    pass

    servers = ["pyftpdlib"] + (["r9-instrument-sim"] if args.sim and os.path.exists(args.sim) else [])
    results = {}  # (server, task, client) -> (rate, unit, seconds, rss KiB, files, spread)
    runs = {}  # (server, task, client) -> [(seconds, rss KiB)]
    failures = {}  # (server, task, client) -> reason
    for kind in servers:
        server = Server(kind, served, args.sim)
        try:
            cleanup_outputs(work, served)
            small_dir, small_names = small_sets[kind]
            curl_count = args.curl_small_count if kind == "pyftpdlib" else args.sim_curl_small_count
            commands = clients(args.driver, server.port, work, small_names, min(curl_count, len(small_names)),
                               small_dir)
            for task in ("get big", "put big", "get small", "put small"):
                order = ["r9ftp", "curl", "lftp"]
                for rep in range(args.repeat if task.endswith("big") else args.repeat_small):
                    for client in order:
                        key = (kind, task, client)
                        if key in failures:
                            continue
                        argv, files = commands[(client, task)]
                        cleanup_outputs(work, served)
                        os.sync()
                        try:
                            seconds, rss, cpu = run(argv)
                        except (RuntimeError, subprocess.TimeoutExpired) as error:
                            failures[key] = str(error).strip().splitlines()[-1][:120]
                            report("  %-18s %-9s %-6s FAILED %s" % (kind, task, client, error))
                            continue
                        runs.setdefault(key, []).append((seconds, rss, cpu))
                        rate = big_bytes / seconds / 1e6 if task.endswith("big") else files / seconds
                        report("  %-18s %-9s %-6s %8.1f %-7s %7.2f s  CPU %5.2f s  RSS %6.1f MiB" %
                               (kind, task, client, rate, "MB/s" if task.endswith("big") else "files/s",
                                seconds, cpu, rss / 1024))
                    order = order[1:] + order[:1]  # nobody always goes first
            for (k, task, client), measured in runs.items():
                if k != kind:
                    continue
                times = sorted(t for t, _, _ in measured)
                cpus = sorted(c for _, _, c in measured)
                median = times[len(times) // 2]
                files = commands[(client, task)][1]
                work_done = big_bytes / 1e6 if task.endswith("big") else files
                rate = work_done / median
                unit = "MB/s" if task.endswith("big") else "files/s"
                spread = (work_done / times[-1], work_done / times[0])
                results[(kind, task, client)] = (rate, unit, median, max(r for _, r, _ in measured), files, spread,
                                                 cpus[len(cpus) // 2])
            # Memory must not grow with the file: the same download at 1/16 the size.
            small_big = os.path.join(served, "big16.bin")
            with open(os.path.join(served, "big.bin"), "rb") as src, open(small_big, "wb") as dst:
                dst.write(src.read(big_bytes // 16))
            cleanup_outputs(work, served)
            seconds, rss, cpu = run([args.driver, "--port", str(server.port), "get", "big16.bin",
                                     os.path.join(work, "down-r9-16.bin")])
            results[(kind, "get big/16", "r9ftp")] = (big_bytes / 16 / seconds / 1e6, "MB/s", seconds, rss, 1,
                                                      None, cpu)
            report("  %-18s %-9s %-6s RSS %6.1f MiB" % (kind, "get 1/16", "r9ftp", rss / 1024))
            os.remove(small_big)
        finally:
            server.stop()
            cleanup_outputs(work, served)

    # EPSV or PASV: the same small-file download from a server that refuses
    # EPSV, so that the client falls back to PASV.
    passive = {}
    for kind in ("pyftpdlib", "pyftpdlib-pasv"):
        server = Server(kind, served, args.sim)
        try:
            small_dir, small_names = small_sets["pyftpdlib"]
            times = []
            for _ in range(args.repeat_small):
                cleanup_outputs(work, served)
                os.sync()
                seconds, _, _ = run([args.driver, "--port", str(server.port), "getdir", small_dir,
                                     os.path.join(work, "down-r9-small")])
                times.append(seconds)
            passive[kind] = len(small_names) / sorted(times)[len(times) // 2]
            report("  %-18s get small r9ftp %8.1f files/s" % (kind, passive[kind]))
        finally:
            server.stop()
            cleanup_outputs(work, served)
    args.passive = passive
    args.failures = failures
    write_report(args, results, servers)
    if not args.work:
        shutil.rmtree(work, ignore_errors=True)


def version(argv):
    try:
        return subprocess.run(argv, capture_output=True, text=True, timeout=10).stdout.splitlines()[0].strip()
    except Exception:
        return "?"


def write_report(args, results, servers):
    cpu = "?"
    with open("/proc/cpuinfo") as f:
        for line in f:
            if line.startswith("model name"):
                cpu = line.split(":", 1)[1].strip()
                break
    lines = [
        "# FTP client benchmark",
        "",
        "Produced by `bench/ftp/run.sh` on %s." % datetime.datetime.now().strftime("%Y-%m-%d %H:%M"),
        "",
        "- Machine: %s, %d cores, %s, %s" % (cpu, os.cpu_count(), platform.platform(), platform.python_version()),
        "- Peers: %s; %s" % (version(["curl", "--version"]), version(["lftp", "--version"])),
        "- Files: one %d MiB file of random bytes; %d files of %d bytes (r9-instrument-sim: %d). curl "
        "fetches and sends only the first %d (%d on r9-instrument-sim) of the small files, since it stalls "
        "on each one; its files/s are over those."
        % (args.big_mib, args.small_count, args.small_size, args.sim_small_count, args.curl_small_count,
           args.sim_curl_small_count),
        "- Every client talks to the same server process on 127.0.0.1. Each rate is the median of %d runs "
        "(small files: %d), interleaved between the clients, each run after a sync with the files in the page "
        "cache; the range shows the slowest and the fastest run. Peak RSS is the largest of those runs "
        "(GNU time), CPU time is user + system time of the client alone. The machine is shared with other "
        "developers' builds and tests: expect a spread in the times; the CPU times are steadier." %
        (args.repeat, args.repeat_small),
        "",
    ]
    for kind in servers:
        lines += ["## Server: %s" % kind, "",
                  "| Task | Client | Rate (median) | Range | Time (median) | CPU time (median) | Peak RSS "
                  "| Ratio to best peer |",
                  "|---|---|---|---|---|---|---|---|"]
        for task in ("get big", "put big", "get small", "put small"):
            peers = [results[(kind, task, c)][0] for c in ("curl", "lftp") if (kind, task, c) in results]
            best = max(peers) if peers else 0
            for client in ("r9ftp", "curl", "lftp"):
                r = results.get((kind, task, client))
                if not r:
                    lines.append("| %s | %s | failed: %s | | | | | |" %
                                 (task, client, args.failures.get((kind, task, client), "?").replace("|", "/")))
                    continue
                ratio = "%.2f" % (r[0] / best) if best and client == "r9ftp" else ""
                lines.append("| %s | %s | %.1f %s | %.0f–%.0f | %.2f s | %.2f s | %.1f MiB | %s |" %
                             (task, client, r[0], r[1], r[5][0], r[5][1], r[2], r[6], r[3] / 1024, ratio))
        r16 = results.get((kind, "get big/16", "r9ftp"))
        rbig = results.get((kind, "get big", "r9ftp"))
        if r16 and rbig:
            lines += ["", "Memory against file size (r9ftp download): %d MiB file: %.1f MiB RSS; %d MiB file: "
                      "%.1f MiB RSS." % (args.big_mib // 16, r16[3] / 1024, args.big_mib, rbig[3] / 1024)]
        lines.append("")
    if len(args.passive) == 2:
        lines += ["## EPSV or PASV", "",
                  "r9ftp downloading the small files from pyftpdlib: %.1f files/s with EPSV, %.1f files/s from "
                  "the same server refusing EPSV (one refused EPSV per connection, then PASV)."
                  % (args.passive["pyftpdlib"], args.passive["pyftpdlib-pasv"]), ""]
    lines += ["## Every run, in order", "", "```"] + [l.strip() for l in RUN_LOG] + ["```", ""]
    with open(args.out, "w") as f:
        f.write("\n".join(lines) + "\n")
    print("wrote %s" % args.out)


if __name__ == "__main__":
    sys.exit(main())
