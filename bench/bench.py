#!/usr/bin/python3
"""Benchmark of the whole tool: its real window, driven headless, against
curl and lftp doing the same work on the same instrument stand-in.

Every figure is measured in one run on this machine, against one stand-in
process per scenario, with the clients interleaved, so that noise cancels in
the ratios. Everything runs on 127.0.0.1.
"""
import argparse
import collections
import datetime
import filecmp
import json
import os
import platform
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time
import urllib.parse

HERE = os.path.dirname(os.path.abspath(__file__))
USER, PASSWORD = "root", "+00417263850"
MiB = 1024 * 1024
UP_TO_TOP = " .."  # the instrument's way back to its top folder: a blank, then two dots
DATA_FOLDERS = ["DATA/IPA_BD1", "DATA/IPS_BD1"]
SET_FOLDERS = DATA_FOLDERS + ["TEXT", "FONTS"]
DATA_BACKUP_ROOT_FILES = ["INIE91.CFG", "INIE91.FLS"]
OPERATIONS = ["clone", "backup", "update"]
OPERATION_TITLES = {"clone": "Clone", "backup": "Data Backup", "update": "Update"}
# Targets, judged on the medians of one run. Large files: the tool's rate
# over the best peer's, at least. Slow links (downloads): the tool's time per
# file over the best same-sequence peer's, at most. Downloads: commands per
# file, at most (judged at this precision).
LARGE_RATE_TARGET = 1.0
SLOW_LINK_TIME_TARGET = 0.85
DOWNLOAD_COMMANDS_TARGET = 4.0


# --------------------------------------------------------------------------
# What each operation moves


class Item:
    """One file of an operation: the instrument folder ("" for the top
    folder), its name, and its path below the local base folder."""

    def __init__(self, folder, name, size):
        self.folder, self.name, self.size = folder, name, size
        self.relpath = os.path.join(folder, name) if folder else name


def files_of(folder):
    """Regular files directly in `folder`, ordered like QDir's default
    listing (by name, ignoring letter case)."""
    if not os.path.isdir(folder):
        return []
    names = [n for n in os.listdir(folder) if not n.startswith(".") and os.path.isfile(os.path.join(folder, n))]
    return sorted(names, key=lambda n: (n.lower(), n))


def plan(operation, instrument):
    """The files of `operation` on `instrument`, in the order the tool moves them."""
    folders = SET_FOLDERS if operation in ("clone", "update") else DATA_FOLDERS
    items = []
    for folder in folders:
        for name in files_of(os.path.join(instrument, folder)):
            items.append(Item(folder, name, os.path.getsize(os.path.join(instrument, folder, name))))
    for name in files_of(instrument):
        if operation != "backup" or name in DATA_BACKUP_ROOT_FILES:
            items.append(Item("", name, os.path.getsize(os.path.join(instrument, name))))
    return items


def local_tree(base):
    """relative path -> size of every file below `base`."""
    tree = {}
    for folder, _, names in os.walk(base):
        for name in names:
            path = os.path.join(folder, name)
            tree[os.path.relpath(path, base)] = os.path.getsize(path)
    return tree


# --------------------------------------------------------------------------
# The stand-in


class LoopbackServer:
    """A server process that says "listening on 127.0.0.1:PORT" on its first
    line of output and ends when its standard input closes."""

    def __init__(self, name, argv, **popen):
        self.proc = subprocess.Popen(argv, stdin=subprocess.PIPE, stdout=subprocess.PIPE, **popen)
        line = self.proc.stdout.readline().decode()
        match = re.search(r"listening on 127\.0\.0\.1:(\d+)", line)
        if not match:
            self.stop()
            raise RuntimeError("%s did not start: %r" % (name, line))
        self.port = int(match.group(1))

    def stop(self):
        try:
            self.proc.stdin.close()
            self.proc.wait(timeout=20)
        except Exception:
            self.proc.kill()
            self.proc.wait()


class Standin(LoopbackServer):
    """One r9-instrument-sim process serving `root` on a free 127.0.0.1 port."""

    def __init__(self, sim, root, log, delay_ms, generate):
        self.log = log
        argv = [sim, "--root", root, "--port", "0", "--log", log, "--exit-on-stdin-close"]
        if generate:
            argv += ["--generate"] + generate
        if delay_ms:
            argv += ["--delay", str(delay_ms)]
        super().__init__("r9-instrument-sim", argv, stderr=subprocess.DEVNULL)

    def log_size(self):
        return os.path.getsize(self.log) if os.path.exists(self.log) else 0

    def lines_before(self, offset):
        with open(self.log, "rb") as f:
            return f.read(offset).count(b"\n")

    def commands_since(self, offset):
        """(session, verb, line) of every command logged after byte `offset`."""
        with open(self.log, "rb") as f:
            f.seek(offset)
            text = f.read().decode("utf-8", errors="replace")
        commands = []
        for line in text.splitlines():
            session, _, command = line.partition(" ")
            commands.append((session, command.split(" ", 1)[0].upper(), command))
        return commands


# --------------------------------------------------------------------------
# The clients: the tool and its peers


def ftp_url(port, path):
    return "ftp://127.0.0.1:%d/%s" % (port, urllib.parse.quote(path))


def curl_config(path, groups):
    """Writes a curl config of `groups`: (options, [(url, local file, is upload)])."""
    with open(path, "w") as cfg:
        cfg.write('silent\nshow-error\n')
        first = True
        for options, transfers in groups:
            if not first:
                cfg.write("next\n")
            first = False
            cfg.write('user = "%s:%s"\n' % (USER, PASSWORD))
            for option in options:
                cfg.write(option + "\n")
            for url, local, upload in transfers:
                cfg.write('url = "%s"\n' % url)
                cfg.write('%s = "%s"\n' % ("upload-file" if upload else "output", local))


def lftp_script(path, port, lines, same_sequence=False):
    settings = [
        "set ftp:ssl-allow no",
        # PASV over IPv4, as the tool; lftp's default, said outright.
        "set ftp:passive-mode on",
        "set ftp:prefer-epsv no",
        "set cmd:fail-exit yes",
        "set net:max-retries 1",
        "set net:timeout 60",
        "set xfer:clobber on",
        # An empty folder lists as nothing; lftp would then try NLST, which
        # the instrument does not know.
        "set ftp:list-empty-ok yes",
        # Extras the instrument does not know; each would cost a round trip.
        "set ftp:use-mdtm no",
        "set ftp:use-site-utime no",
        "set ftp:use-site-utime2 no",
    ]
    if same_sequence:
        settings += [
            # The tool sends neither FEAT nor SIZE.
            "set ftp:use-feat no",
            "set ftp:use-size no",
            # lftp's own ALLO stops after the first 202 ("superfluous"): the
            # script quotes one before every file instead, as the tool sends.
            "set ftp:use-allo no",
            # Every `ls` of the upload's confirmation goes to the instrument.
            "set cache:enable no",
        ]
    with open(path, "w") as script:
        script.write("\n".join(settings + ["open -u %s,%s -p %d 127.0.0.1" % (USER, PASSWORD, port)]
                               + lines + ["quit"]) + "\n")


def lftp_quote(command):
    return 'quote "%s"' % command


class Client:
    """One way of doing an operation's work, and whether it follows the
    tool's command sequence (the per-file folder changes).

    `stalls`: curl 7.88 sometimes waits a whole second before it opens a data
    connection when nothing but EPSV precedes the transfer and the reply comes
    at once (it then polls only its wake-up pipe, with curl's 1 s timeout).
    Such a client gets the first few files only, one run, and its figures are
    shown but not compared."""

    def __init__(self, name, same_sequence, note, stalls=False, nofsync=False, hidden=False):
        self.name, self.same_sequence, self.note = name, same_sequence, note
        self.stalls, self.nofsync, self.hidden = stalls, nofsync, hidden


TOOL = Client("r9-update", True, "the real window, Connect then the operation button")
# The tool again, with fsync() and fdatasync() made no-ops by a preloaded
# library, and then also with its window never shown: not peers, they show
# what the sync of each downloaded file and the painting of the window cost.
TOOL_NOFSYNC = Client("r9-update, no fsync", True, "diagnostic: the tool with its syncs to disk turned "
                      "into no-ops (`LD_PRELOAD` of `libr9-bench-nofsync.so`); not a peer", nofsync=True)
TOOL_UNPAINTED = Client("r9-update, no fsync, hidden", True, "diagnostic: as *no fsync*, and the window is "
                        "never shown (`--hidden`), so nothing is painted; not a peer", nofsync=True, hidden=True)
TOOL_CLIENTS = (TOOL, TOOL_NOFSYNC, TOOL_UNPAINTED)
DOWNLOAD_PEERS = [
    Client("curl -Q", True, "one curl run, connection reused, `--disable-epsv --ignore-content-length` (PASV, "
                            "no SIZE); `-Q` sends the tool's folder changes before each file"),
    Client("curl singlecwd", False, "one curl run, `--ftp-method singlecwd`: a folder change only when "
                                    "the folder changes", stalls=True),
    Client("curl nocwd", False, "one curl run, `--ftp-method nocwd`: paths in SIZE/RETR, no folder changes",
           stalls=True),
    Client("lftp quote+get", True, "one lftp script (PASV, no FEAT, no SIZE): `quote CWD` with the tool's "
                                   "folder changes, then `get`, per file"),
    Client("lftp mirror", False, "`lftp mirror` of the folders: lists them and fetches, no constraints"),
]
UPLOAD_PEERS = [
    Client("curl -Q", True, "one curl run, connection reused, `--disable-epsv`; `-Q` sends the tool's folder "
                            "changes before the first file of each folder and `+ALLO <size>` right before each "
                            "STOR; then the tool's closing listings, `/` between quoted folder changes",
           stalls=True),
    Client("curl singlecwd", False, "one curl run, `--ftp-method singlecwd`, `-T` per file", stalls=True),
    Client("lftp quote+put", True, "one lftp script (PASV, no FEAT): `quote CWD` with the tool's folder "
                                   "changes, `quote ALLO <size>` and `put` per file; then the tool's closing "
                                   "listings, `ls` between quoted folder changes"),
    Client("lftp mirror -R", False, "`lftp mirror -R --transfer-all --overwrite`, no constraints"),
]


def peers_of(operation):
    return UPLOAD_PEERS if operation == "update" else DOWNLOAD_PEERS


def clients_of(scenario, operation):
    """Everybody measured for `operation`: the tool first, then the peers."""
    diagnostics = []
    if scenario.diagnose:
        # Uploads sync nothing: only the unpainted row tells something there.
        diagnostics = [TOOL_UNPAINTED] if operation == "update" else [TOOL_NOFSYNC, TOOL_UNPAINTED]
    return [TOOL] + diagnostics + peers_of(operation)


def tool_folder_changes(previous, folder, operation):
    """The folder changes the tool queues before `folder`'s next file."""
    if operation == "update":
        if folder == previous:
            return []
        changes = [] if previous is None else [UP_TO_TOP]
        return changes + ([folder] if folder else [])
    return [UP_TO_TOP] + ([folder] if folder else [])


class Sequence:
    """What the same-sequence peers send of the tool's own: `changes`, the
    folder changes before each file, and `tail`, its steps after the last
    file: ("CWD", folder) and ("LIST", None). Uploads end with a listing of
    each folder written (`CWD <folder>`, `LIST`, `CWD  ..`) and of the top
    folder, to see what the instrument kept."""

    def __init__(self, changes, tail):
        self.changes, self.tail = changes, tail

    def for_items(self, items):
        """The sequence of the first len(items) files: no tail for fewer
        files than the set."""
        if len(items) < len(self.changes):
            return Sequence(self.changes[:len(items)], [])
        return self


def sequence_from_log(commands, operation, items):
    """The tool's sequence as its command log shows it: the `CWD` arguments
    before each file's transfer, and its steps after the last one (Data
    Backup changes to the top folder once for every top-folder file, fetched
    or not; every operation ends with a `CWD  ..`; uploads then list).
    None when the log does not hold one transfer per file of `items`, or a
    listing before the last file."""
    verb = "STOR" if operation == "update" else "RETR"
    changes, pending = [], []
    for _, command_verb, line in commands:
        if command_verb == "CWD":
            pending.append(("CWD", line[len("CWD "):]))
        elif command_verb == "LIST":
            pending.append(("LIST", None))
        elif command_verb == verb:
            if any(kind == "LIST" for kind, _ in pending):
                return None
            changes.append([folder for _, folder in pending])
            pending = []
    if len(changes) != len(items):
        return None
    return Sequence(changes, pending)


def modelled_sequence(operation, items):
    """The tool's sequence as its rules give it, for when no log of the tool
    is at hand."""
    changes, previous = [], None
    for item in items:
        changes.append(tool_folder_changes(previous, item.folder, operation))
        previous = item.folder
    tail = [("CWD", UP_TO_TOP)] if items and operation != "backup" else []
    if operation == "update":
        written = []
        for item in items:
            if item.folder and item.folder not in written:
                written.append(item.folder)
        for folder in written:
            tail += [("CWD", folder), ("LIST", None), ("CWD", UP_TO_TOP)]
        if any(not item.folder for item in items):
            tail.append(("LIST", None))
    return Sequence(changes, tail)


def curl_same_sequence(operation, items, port, local, sequence):
    """curl groups (see curl_config) that send the tool's sequence: its
    folder changes as quoted commands before each file, PASV (no EPSV), no
    SIZE, an upload's `ALLO <size>` right before its STOR (a "+" quote), and
    the upload's closing listings as listings of the current folder ("/" with
    the quoted folder changes around it)."""
    upload = operation == "update"
    # curl asks SIZE before RETR unless told to ignore the length; it then
    # reads to the end of the data, as the tool does.
    common = ["disable-epsv"] + ([] if upload else ["ignore-content-length"])
    groups = []
    for item, quotes in zip(items, sequence.changes):
        # The file is named bare: the quoted folder changes choose its folder.
        transfer = (ftp_url(port, item.name), os.path.join(local, item.relpath), upload)
        options = common + ['quote = "CWD %s"' % q for q in quotes]
        if upload:
            # Each file its own group: a group's quotes go before each of its files.
            groups.append((options + ['quote = "+ALLO %d"' % item.size], [transfer]))
        elif groups and groups[-1][0] == options:
            groups[-1][1].append(transfer)
        else:
            groups.append((options, [transfer]))
    pending = []
    for kind, folder in sequence.tail:
        if kind == "CWD":
            pending.append(folder)
        else:
            groups.append((["disable-epsv"] + ['quote = "CWD %s"' % q for q in pending],
                           [(ftp_url(port, ""), os.devnull, False)]))
            pending = []
    if pending and groups:
        # Sent after the transfer (a leading "-"): the last transfer gets a
        # group of its own.
        options, transfers = groups.pop()
        if transfers[:-1]:
            groups.append((options, transfers[:-1]))
        groups.append((options + ['quote = "-CWD %s"' % q for q in pending], transfers[-1:]))
    return groups


def lftp_same_sequence(operation, items, local, sequence):
    """lftp script lines that send the tool's sequence: `quote CWD` for its
    folder changes, `quote ALLO <size>` before each `put`, and `ls` for the
    upload's closing listings."""
    upload = operation == "update"
    lines = []
    for item, quotes in zip(items, sequence.changes):
        lines += [lftp_quote("CWD " + q) for q in quotes]
        if upload:
            lines.append(lftp_quote("ALLO %d" % item.size))
            lines.append('put "%s" -o "%s"' % (os.path.join(local, item.relpath), item.name))
        else:
            lines.append('get "%s" -o "%s"' % (item.name, os.path.join(local, item.relpath)))
    for kind, folder in sequence.tail:
        lines.append(lftp_quote("CWD " + folder) if kind == "CWD" else "ls > %s" % os.devnull)
    return lines


def peer_argv(client, operation, items, port, local, scratch, sequence):
    """argv of a peer doing `operation` on `items`; downloads go below `local`,
    uploads come from `local`. `sequence`: the tool's (a Sequence of the
    whole set), which the same-sequence peers send."""
    upload = operation == "update"
    sequence = sequence.for_items(items)
    if client.name == "curl -Q":
        cfg = os.path.join(scratch, "curl.cfg")
        curl_config(cfg, curl_same_sequence(operation, items, port, local, sequence))
        return ["curl", "-K", cfg]
    if client.name.startswith("curl "):
        method = client.name.split()[1]
        transfers = [(ftp_url(port, item.relpath), os.path.join(local, item.relpath), upload) for item in items]
        cfg = os.path.join(scratch, "curl.cfg")
        curl_config(cfg, [(["ftp-method = %s" % method], transfers)])
        return ["curl", "-K", cfg]
    if client.name in ("lftp quote+get", "lftp quote+put"):
        script = os.path.join(scratch, "lftp.scr")
        lftp_script(script, port, lftp_same_sequence(operation, items, local, sequence), same_sequence=True)
        return ["lftp", "-f", script]
    if client.name == "lftp mirror -R":
        script = os.path.join(scratch, "lftp.scr")
        lftp_script(script, port, ['mirror -R --transfer-all --overwrite --no-perms "%s" /' % local])
        return ["lftp", "-f", script]
    if client.name == "lftp mirror":
        script = os.path.join(scratch, "lftp.scr")
        if operation == "clone":
            lines = ['mirror --no-perms / "%s"' % local]
        else:
            lines = ['mirror --no-perms DATA "%s"' % os.path.join(local, "DATA"),
                     'get -O "%s" %s' % (local, " ".join(DATA_BACKUP_ROOT_FILES))]
        lftp_script(script, port, lines)
        return ["lftp", "-f", script]
    raise ValueError(client.name)


# --------------------------------------------------------------------------
# Running and measuring


class Measurement:
    def __init__(self, seconds, cpu_seconds, files, nbytes, rss_kib, commands, tool=None, flush_seconds=0.0):
        self.seconds, self.cpu_seconds = seconds, cpu_seconds
        self.flush_seconds = flush_seconds  # a `sync` right after the client ended
        self.files, self.bytes, self.rss_kib = files, nbytes, rss_kib
        self.commands = commands  # [(session, verb, line)] of the work itself
        self.tool = tool          # the driver's own report, for the tool


def timed_run(argv, stdout_path, stderr_path, time_limit, env=None):
    """Runs argv under GNU time; returns (seconds, CPU seconds, peak RSS KiB, exit status)."""
    with tempfile.NamedTemporaryFile("r") as rss_file, \
            open(stdout_path, "wb") as out, open(stderr_path, "wb") as err:
        start = time.perf_counter()
        proc = subprocess.run(["/usr/bin/time", "-f", "%M %U %S", "-o", rss_file.name] + argv,
                              stdin=subprocess.DEVNULL, stdout=out, stderr=err, timeout=time_limit, env=env)
        seconds = time.perf_counter() - start
        # The last line; GNU time puts a note about a failed command before it.
        fields = (rss_file.read().strip().splitlines() or [""])[-1].split()
        try:
            rss, cpu = int(fields[0]), float(fields[1]) + float(fields[2])
        except (IndexError, ValueError):
            rss, cpu = 0, 0.0
    return seconds, cpu, rss, proc.returncode


def sockets_in_time_wait():
    with open("/proc/net/sockstat") as f:
        for line in f:
            if line.startswith("TCP:"):
                fields = line.split()
                return int(fields[fields.index("tw") + 1])
    return 0


def own_network_note():
    why = ("every file opens a data connection, and thousands of closed ones slow down each new connect and "
           "passive listen of the next run (by half at 6000).")
    tw_limit = os.environ.get("R9_BENCH_TIME_WAIT_LIMIT")
    if tw_limit:
        return ("- Before each run: `sync`. Everything runs in a network namespace of its own, where only "
                "loopback exists and at most %s closed connections are kept in TIME-WAIT: %s" % (tw_limit, why))
    return "- Before each run: `sync`, and a wait until fewer than 1500 sockets are in TIME-WAIT: " + why


def wait_for_free_ports(limit=1500, max_seconds=120):
    """Every file opens a data connection, and each closed one holds its port
    for a minute. Thousands of them slow down every new connection and every
    passive listen (the kernel searches past them for a free port), so a run
    would pay for the runs before it; tens of thousands exhaust the ports."""
    deadline = time.monotonic() + max_seconds
    while sockets_in_time_wait() > limit and time.monotonic() < deadline:
        time.sleep(1)


def tail(path, limit=300):
    try:
        with open(path, "rb") as f:
            return f.read()[-limit:].decode(errors="replace").strip()
    except OSError:
        return ""


def run_once(args, scenario, standin, operation, client, items, scratch):
    """One measured run of `client`; returns a Measurement or raises RuntimeError."""
    upload = operation == "update"
    if client.stalls:
        items = items[:args.stalling_files]
    # Each download gets a new folder, and small files stay until the end:
    # ext4 scans past recently deleted inodes when it makes a file, which
    # would charge one client for the clean-up after another.
    scenario.runs += 1
    local = scenario.upload_set if upload else os.path.join(scratch, "down-%03d" % scenario.runs)
    try:
        return measure(args, standin, operation, client, items, local, scratch,
                       scenario.sequences.get(operation))
    finally:
        if not upload and sum(item.size for item in items) > 64 * MiB:
            shutil.rmtree(local, ignore_errors=True)  # a few large files: no inode churn


def measure(args, standin, operation, client, items, local, scratch, sequence):
    upload = operation == "update"
    if not upload:
        os.makedirs(local)
        if client not in TOOL_CLIENTS:
            # The tool makes its local folders itself; the peers get theirs made.
            for item in items:
                os.makedirs(os.path.dirname(os.path.join(local, item.relpath)), exist_ok=True)
    # Start from a quiet disk: nobody pays for the previous run's writing.
    os.sync()
    wait_for_free_ports()
    offset = standin.log_size()
    out, err = os.path.join(scratch, "stdout.txt"), os.path.join(scratch, "stderr.txt")
    env = None
    if client in TOOL_CLIENTS:
        if client.nofsync:
            env = dict(os.environ, LD_PRELOAD=args.nofsync)
        argv = [args.driver, "--port", str(standin.port), "--local", local, "--operation", operation,
                "--command-log", standin.log, "--timeout", str(args.time_limit)]
        if client.hidden:
            argv.append("--hidden")
    else:
        argv = peer_argv(client, operation, items, standin.port, local, scratch, sequence)
    try:
        seconds, cpu, rss, status = timed_run(argv, out, err, args.time_limit + 60, env)
    except subprocess.TimeoutExpired:
        raise RuntimeError("no end within %d s" % (args.time_limit + 60))
    # What the system still had to write for the client: the tool syncs its
    # files before it reports, the peers leave that to the system.
    flush_started = time.perf_counter()
    os.sync()
    flush_seconds = time.perf_counter() - flush_started
    commands = standin.commands_since(offset)
    report = None
    if client in TOOL_CLIENTS:
        try:
            with open(out) as f:
                report = json.loads(f.read().strip().splitlines()[-1])
        except (ValueError, IndexError):
            raise RuntimeError("driver exited %d without a report: %s" % (status, tail(err)))
        if not report.get("ok"):
            raise RuntimeError("driver: %s" % json.dumps(report))
        seconds, cpu = report["seconds"], report["cpu_seconds"]
        # Only the operation's own commands: the login and listing walk came first.
        commands = commands[max(0, report["log_line_at_click"] - standin.lines_before(offset)):]
        if report["files"] != len(items):
            raise RuntimeError("the window moved %d files of %d" % (report["files"], len(items)))
    elif status != 0:
        raise RuntimeError("%s exited %d: %s" % (argv[0], status, tail(err) or tail(out)))
    else:
        # The peers' work: everything after their login.
        logged_in = [i for i, c in enumerate(commands) if c[1] == "PASS"]
        commands = commands[logged_in[0] + 1:] if logged_in else commands

    # Every file must have moved, whole.
    verb = "STOR" if upload else "RETR"
    moved = sum(1 for c in commands if c[1] == verb)
    # lftp mirror makes an empty file without fetching it.
    needed = sum(1 for item in items if upload or item.size > 0)
    if not needed <= moved <= len(items):
        raise RuntimeError("%d %s commands for %d files" % (moved, verb, len(items)))
    if not upload:
        expected = {item.relpath: item.size for item in items}
        got = local_tree(local)
        if got != expected:
            missing = sorted(set(expected) - set(got))[:3]
            wrong = sorted(k for k in expected if k in got and got[k] != expected[k])[:3]
            extra = sorted(set(got) - set(expected))[:3]
            raise RuntimeError("local files differ: missing %s, wrong size %s, extra %s" % (missing, wrong, extra))
    nbytes = sum(item.size for item in items)
    if report and report["bytes"] != nbytes:
        raise RuntimeError("the window counted %d bytes, the set holds %d" % (report["bytes"], nbytes))
    return Measurement(seconds, cpu, len(items), nbytes, rss, commands, report, flush_seconds)


class Scenario:
    def __init__(self, key, title, generate, delay_ms, repeat, operations, work, large=False, diagnose=False):
        self.key, self.title, self.generate, self.delay_ms = key, title, generate, delay_ms
        self.large, self.diagnose = large, diagnose
        self.files = {}  # operation -> files in the whole set
        self.sequences = {}  # operation -> the tool's Sequence (see peer_argv)
        # (operation, client name) -> the command lines of one whole run of
        # the tool and of each same-sequence peer, to set side by side
        self.command_lines = {}
        self.runs = 0
        self.repeat, self.operations = repeat, operations
        self.folder = os.path.join(work, key)
        self.instrument = os.path.join(self.folder, "instrument")
        self.upload_set = os.path.join(self.folder, "set")


def run_scenario(args, scenario, results, failures):
    shutil.rmtree(scenario.folder, ignore_errors=True)
    os.makedirs(scenario.folder)
    scratch = os.path.join(scenario.folder, "scratch")
    os.makedirs(scratch)
    log = os.path.join(scenario.folder, "commands.log")
    print("== %s" % scenario.title, flush=True)
    standin = Standin(args.sim, scenario.instrument, log, scenario.delay_ms, scenario.generate)
    try:
        # The set that Update sends back is the one Clone fetches: the instrument's own files.
        shutil.copytree(scenario.instrument, scenario.upload_set)
        for operation in scenario.operations:
            items = plan(operation, scenario.instrument)
            scenario.files[operation] = len(items)
            order = clients_of(scenario, operation)
            # One run that is not counted: the first transfers of a set pay
            # for settling the page cache and the disk, and each operation's
            # first run would always fall to the same client. It is the
            # tool's, and its command log gives the same-sequence peers their
            # folder changes.
            assert order[0] is TOOL
            scenario.sequences[operation] = modelled_sequence(operation, items)
            try:
                m = run_once(args, scenario, standin, operation, order[0], items, scratch)
                scenario.command_lines[(operation, TOOL.name)] = [line for _, _, line in m.commands]
                logged = sequence_from_log(m.commands, operation, items)
                if logged:
                    scenario.sequences[operation] = logged
                else:
                    print("  %-11s the tool's log does not match its files; the peers' sequence is "
                          "modelled" % operation, flush=True)
            except RuntimeError:
                pass  # a real fault shows again in the measured runs
            for rep in range(scenario.repeat):
                for client in order:
                    key = (scenario.key, operation, client.name)
                    # Stalling rows are shown, not compared: one run will do.
                    # Where the whole set fits, they are compared and run as
                    # often as the others.
                    if key in failures or (client.stalls and rep > 0 and len(items) > args.stalling_files):
                        continue
                    try:
                        m = run_once(args, scenario, standin, operation, client, items, scratch)
                    except RuntimeError as error:
                        failures[key] = str(error)
                        print("  %-11s %-16s FAILED %s" % (operation, client.name, error), flush=True)
                        continue
                    runs = results.setdefault(key, [])
                    runs.append(m)
                    if client.same_sequence and client not in TOOL_CLIENTS:
                        scenario.command_lines.setdefault((operation, client.name),
                                                          [line for _, _, line in m.commands])
                    print("  %-11s %-20s %8.3f s %8.1f files/s %8.1f MB/s %5.2f cmds/file  CPU %6.3f s  RSS %6.1f MiB"
                          % (operation, client.name, m.seconds, m.files / m.seconds, m.bytes / m.seconds / 1e6,
                             len(m.commands) / m.files, m.cpu_seconds, m.rss_kib / 1024), flush=True)
                order = order[1:] + order[:1]  # nobody always goes first
    finally:
        standin.stop()
        # Many small files are deleted at the very end, for the same reason
        # as the download folders; a large instrument makes room at once.
        if scenario.large and not args.keep_work:
            shutil.rmtree(scenario.folder, ignore_errors=True)


# --------------------------------------------------------------------------
# The command line against a lying listing, and stopped during its last sync

# Targets: the tool's peak memory against any server, and the earlier time
# from Ctrl+C to the end of a clone of 20 MB onto a disk that writes 2 MB/s,
# when the event loop waited on the sync.
PEAK_MEMORY_TARGET_MIB = 256
EARLIER_STOP_SECONDS = 5.5
SLOW_DISK_BYTES_PER_SECOND = 2000000


def run_bounded(argv, stdout, stderr, limit, timed=True):
    """Runs argv (under GNU time when `timed`) in a process group of its own,
    killed whole after `limit` seconds. Returns (seconds, peak RSS KiB,
    exit status or None when killed)."""
    with tempfile.NamedTemporaryFile("r") as rss_file:
        if timed:
            argv = ["/usr/bin/time", "-f", "%M", "-o", rss_file.name] + argv
        start = time.perf_counter()
        proc = subprocess.Popen(argv, stdin=subprocess.DEVNULL, stdout=stdout, stderr=stderr,
                                start_new_session=True)
        try:
            status = proc.wait(timeout=limit)
        except subprocess.TimeoutExpired:
            os.killpg(proc.pid, 9)
            proc.wait()
            status = None
        seconds = time.perf_counter() - start
        try:
            rss = int((rss_file.read().strip().splitlines() or [""])[-1])
        except ValueError:
            rss = 0
    return seconds, rss, status


class LyingServer(LoopbackServer):
    """bench/lyingserver.py on a free 127.0.0.1 port."""

    def __init__(self, log):
        self.log = log
        super().__init__("lyingserver.py", [sys.executable, os.path.join(HERE, "lyingserver.py"), "--log", log])


def run_lying_listing(args):
    """`r9-update list` and `r9-update clone DIR` against five listings of
    about 64 MiB each, of names of 8,100 characters: the walk must be
    refused (an FTP error, exit 2) in bounded time, and the peak memory stay
    under the target."""
    folder = os.path.join(args.work, "lying")
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    log = os.path.join(folder, "commands.log")
    print("== A lying listing", flush=True)
    server = LyingServer(log)
    runs = []
    try:
        for command in (["list"], ["clone", os.path.join(folder, "pc")]):
            offset = os.path.getsize(log) if os.path.exists(log) else 0
            out_path, err_path = os.path.join(folder, "stdout.txt"), os.path.join(folder, "stderr.txt")
            with open(out_path, "wb") as out, open(err_path, "wb") as err:
                seconds, rss, status = run_bounded([args.r9_update, "--port", str(server.port)] + command,
                                                   out, err, args.lying_time_limit)
            with open(log, "rb") as f:
                f.seek(offset)
                logged = f.read().decode("latin-1").splitlines()
            sent = [re.search(r"# LIST sent (\d+) of (\d+) bytes \((.*)\)", line) for line in logged]
            sent = [(int(m.group(1)), int(m.group(2)), m.group(3)) for m in sent if m]
            output = (tail(out_path, 400) + "\n" + tail(err_path, 400)).strip()
            run = {"command": "r9-update " + " ".join(command[:1] + (["DIR"] if len(command) > 1 else [])),
                   "seconds": seconds, "rss_kib": rss, "status": status, "listings": sent,
                   "output": output, "refused": "listings hold more than" in output}
            runs.append(run)
            print("  %-22s exit %s  %6.2f s  peak RSS %6.1f MiB  read %s" % (
                run["command"], status, seconds, rss / 1024,
                ", ".join("%.1f of %.1f MiB (%s)" % (a / MiB, b / MiB, how) for a, b, how in sent)), flush=True)
    finally:
        server.stop()
        shutil.rmtree(os.path.join(folder, "pc"), ignore_errors=True)
        if not args.keep_work:
            shutil.rmtree(folder, ignore_errors=True)
    return runs


class SlowDisk:
    """A small ext4 file system on a loop device whose writes the block
    layer throttles (cgroup v1 blkio, on the root group: everything written
    to that device, whoever writes it, the flusher and the journal
    included). `path` is None, and `note` says why, where this cannot be set
    up (no root, no loop devices, no blkio throttling)."""

    THROTTLE = "/sys/fs/cgroup/blkio/blkio.throttle.write_bps_device"

    def __init__(self, folder, bytes_per_second, size_mib=128):
        self.folder, self.rate = folder, bytes_per_second
        self.path = self.device = self.numbers = None
        self.note = ""
        self.image = os.path.join(folder, "slowdisk.img")
        self.mountpoint = os.path.join(folder, "disk")
        try:
            self._set_up(size_mib)
        except (OSError, subprocess.CalledProcessError, RuntimeError) as error:
            self.note = str(error).strip() or type(error).__name__
            self.close()

    def _set_up(self, size_mib):
        if os.geteuid() != 0:
            raise RuntimeError("not root: no loop device can be set up")
        if not os.path.exists(self.THROTTLE):
            raise RuntimeError("no cgroup v1 blkio throttling (%s)" % self.THROTTLE)
        os.makedirs(self.mountpoint, exist_ok=True)
        with open(self.image, "wb") as f:
            f.truncate(size_mib * MiB)

        def run(*argv):
            return subprocess.run(argv, check=True, capture_output=True, text=True, timeout=60).stdout.strip()
        self.device = run("losetup", "--find", "--show", self.image)
        # Everything written at once, before the throttle: nothing left for
        # the kernel to initialise later, through it.
        run("mkfs.ext4", "-q", "-F", "-E", "lazy_itable_init=0,lazy_journal_init=0", self.device)
        run("mount", self.device, self.mountpoint)
        self.path = self.mountpoint
        with open("/sys/block/%s/dev" % os.path.basename(self.device)) as f:
            self.numbers = f.read().strip()
        with open(self.THROTTLE, "w") as f:
            f.write("%s %d\n" % (self.numbers, self.rate))

    def written_bytes(self):
        """Bytes written to the device so far."""
        with open("/sys/block/%s/stat" % os.path.basename(self.device)) as f:
            return int(f.read().split()[6]) * 512

    def describe(self):
        return ("ext4 on a loop device (%s) whose writes are throttled to %.1f MB/s (cgroup v1 "
                "`blkio.throttle.write_bps_device`)" % (self.device, self.rate / 1e6))

    def close(self):
        def quietly(*argv):
            subprocess.run(argv, capture_output=True, timeout=120)
        if self.numbers:
            try:
                with open(self.THROTTLE, "w") as f:
                    f.write("%s 0\n" % self.numbers)
            except OSError:
                pass
        if self.path:
            quietly("umount", self.mountpoint)
        if self.device:
            quietly("losetup", "-d", self.device)
        self.path = self.device = self.numbers = None
        if os.path.exists(self.image):
            os.remove(self.image)


class WatchedRun:
    """r9-update with its standard error read line by line as it comes,
    each line timed; `stop_at` (a pattern) sends SIGINT at the first line
    that matches it, and a second one `again` seconds later when given. The
    end is when standard error closes: the process has exited (it starts no
    other)."""

    def __init__(self, argv, stop_at, disk, again=None):
        self.lines, self.signal_at, self.written_at_signal, self.closed_at = [], None, None, None
        self.stdout = ""
        self.disk, self.again = disk, again
        self.stop_at = re.compile(stop_at) if stop_at else None
        self.start = time.perf_counter()
        self.proc = subprocess.Popen(argv, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                     stderr=subprocess.PIPE, start_new_session=True)
        self.readers = [threading.Thread(target=self._read_errors, daemon=True),
                        threading.Thread(target=self._read_output, daemon=True)]
        for reader in self.readers:
            reader.start()

    def _read_errors(self):
        for raw in self.proc.stderr:
            now = time.perf_counter() - self.start
            line = raw.decode("utf-8", "replace").rstrip("\n")
            self.lines.append((now, line))
            if self.stop_at and self.signal_at is None and self.stop_at.search(line):
                self.written_at_signal = self.disk.written_bytes() if self.disk else None
                self.proc.send_signal(signal.SIGINT)
                self.signal_at = time.perf_counter() - self.start
                if self.again is not None:
                    threading.Timer(self.again, self._signal_again).start()
        self.closed_at = time.perf_counter() - self.start

    def _signal_again(self):
        if self.proc.poll() is None:
            self.proc.send_signal(signal.SIGINT)

    def _read_output(self):
        self.stdout = self.proc.stdout.read().decode("utf-8", "replace").strip()

    def wait(self, limit):
        """The exit status, or None when the run had to be killed after
        `limit` seconds."""
        try:
            status = self.proc.wait(timeout=limit)
        except subprocess.TimeoutExpired:
            os.killpg(self.proc.pid, 9)
            self.proc.wait()
            status = None
        for reader in self.readers:
            reader.join(timeout=10)
        self.exit_at = self.closed_at if self.closed_at is not None else time.perf_counter() - self.start
        return status

    def first(self, pattern):
        """When the first line matching `pattern` came, or None."""
        for at, line in self.lines:
            if re.search(pattern, line):
                return at
        return None


def same_files(instrument, local, items):
    """Whether `local` holds exactly the files of `items`, byte for byte,
    and nothing else (no temporary left)."""
    if local_tree(local) != {item.relpath: item.size for item in items}:
        return False
    return all(filecmp.cmp(os.path.join(instrument, item.relpath), os.path.join(local, item.relpath),
                           shallow=False) for item in items)


# When SIGINT goes: right after the last byte arrived (the last file's line;
# the closing folder change is still due), once the command line says it is
# saving (the queue is done, the last sync under way), and there again with
# a second SIGINT half a second later, as an impatient technician would: the
# run then ends as stopped (exit 130, no result printed), and the files that
# arrived whole must still be put in place. (label, pattern, seconds to the
# second SIGINT or None)
STOP_POINTS = [
    ("no stop", None, None),
    ("at the last file's line", r"file (\d+) of \1\b", None),
    ("at \"Saving to disk …\"", r"Saving to disk", None),
    ("twice: at \"Saving to disk …\" and 0.5 s later", r"Saving to disk", 0.5),
]


def run_stop_during_sync(args):
    """`r9-update clone DIR` of about 20 MB onto a slow disk, stopped with
    SIGINT right after the last byte arrived: the time from the signal to
    the end, and whether the result printed is the true one with every file
    in place. Once without a stop, for the time the disk itself needs."""
    folder = os.path.join(args.work, "stop")
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    print("== A stop during the final sync", flush=True)
    report = {"runs": [], "size": args.stop_size}
    disk = SlowDisk(folder, SLOW_DISK_BYTES_PER_SECOND)
    report["disk"] = disk.describe() if disk.path else (
        "the plain disk of `bench/work` (no slow disk: %s)" % disk.note)
    report["slow"] = bool(disk.path)
    base = disk.path or folder
    instrument = os.path.join(folder, "instrument")
    standin = Standin(args.sim, instrument, os.path.join(folder, "commands.log"), 0,
                      ["--seed", "9", "--files", "0", "--big-file", args.stop_size])
    try:
        items = plan("clone", instrument)
        report["files"], report["bytes"] = len(items), sum(item.size for item in items)
        number = 0
        for rep in range(args.stop_repeat):
            for label, stop_at, again in STOP_POINTS:
                if stop_at is None and rep > 0:
                    continue  # the disk's own time: once is enough
                number += 1
                local = os.path.join(base, "pc-%02d" % number)
                os.sync()
                written = disk.written_bytes() if disk.path else None
                run = WatchedRun([args.r9_update, "--port", str(standin.port), "clone", local], stop_at,
                                 disk if disk.path else None, again)
                status = run.wait(args.time_limit)
                whole = same_files(instrument, local, items)
                result = {
                    "stop": label, "twice": again is not None, "status": status, "stdout": run.stdout,
                    "last_file": run.first(r"file (\d+) of \1\b"), "saving": run.first(r"Saving to disk"),
                    "signal": run.signal_at, "exit": run.exit_at, "whole": whole,
                    "stderr": [line for _, line in run.lines
                               if not re.search(r"file \d+ of \d+|made the folder", line)],
                    # What the command line said first once stopped, and when.
                    "reaction": next(((at - run.signal_at, line) for at, line in run.lines
                                      if run.signal_at is not None and at >= run.signal_at), None),
                }
                if disk.path:
                    result["written_total"] = disk.written_bytes() - written
                    if run.written_at_signal is not None:
                        result["written_after_signal"] = disk.written_bytes() - run.written_at_signal
                report["runs"].append(result)
                after = result["exit"] - (result["signal"] if result["signal"] is not None else result["saving"] or 0)
                print("  %-28s exit %s  %s  %s %.2f s  files %s" % (
                    label, status, run.stdout.splitlines()[0] if run.stdout else "-",
                    "Ctrl+C → exit" if result["signal"] is not None else "saving → exit", after,
                    "in place" if whole else "NOT ALL IN PLACE"), flush=True)
                shutil.rmtree(local, ignore_errors=True)
    finally:
        standin.stop()
        disk.close()
        shutil.rmtree(folder, ignore_errors=True)
    return report


# --------------------------------------------------------------------------
# The report


# The command sequences side by side


def normalised(line):
    """A command without what changes from file to file: the file's name,
    the ALLO size and the folder (the way back to the top folder stays)."""
    verb, _, argument = line.partition(" ")
    verb = verb.upper()
    if verb in ("RETR", "STOR"):
        return verb + " <file>"
    if verb == "ALLO":
        return "ALLO <size>"
    if verb == "CWD":
        return "CWD " + UP_TO_TOP if argument == UP_TO_TOP else "CWD <folder>"
    return line


def steps_of(lines):
    """`lines` cut after each transfer and each listing; what follows the
    last of them is the last step."""
    steps, current = [], []
    for line in lines:
        current.append(line)
        if line.partition(" ")[0].upper() in ("RETR", "STOR", "LIST"):
            steps.append(current)
            current = []
    steps.append(current)
    return steps


def compare_sequences(tool_lines, peer_lines):
    """A peer's commands against the tool's, step by step. A peer that moved
    only the first files of the set (a stalling curl) is set against the
    tool's steps for those files: its closing steps then stand against
    nothing. None when they do not move the same files in the same order;
    else (steps compared, steps as the tool's, Counter of (tool's step,
    peer's step) as normalised commands, Counter of the commands only the
    peer sent, of those only the tool sent, whether the peer moved the
    whole set)."""
    tool_steps, peer_steps = steps_of(tool_lines), steps_of(peer_lines)
    whole = len(tool_steps) == len(peer_steps)
    if not whole:
        if len(peer_steps) > len(tool_steps):
            return None
        tool_steps = tool_steps[:len(peer_steps) - 1] + [[]]
    if any(t[-1] != p[-1] for t, p in zip(tool_steps[:-1], peer_steps[:-1])):
        return None
    differences, only_peer, only_tool = collections.Counter(), collections.Counter(), collections.Counter()
    same = 0
    for tool_step, peer_step in zip(tool_steps, peer_steps):
        if tool_step == peer_step:
            same += 1
            continue
        tool_names = tuple(normalised(line) for line in tool_step)
        peer_names = tuple(normalised(line) for line in peer_step)
        differences[(tool_names, peer_names)] += 1
        only_peer.update(collections.Counter(peer_names) - collections.Counter(tool_names))
        only_tool.update(collections.Counter(tool_names) - collections.Counter(peer_names))
    return len(tool_steps), same, differences, only_peer, only_tool, whole


def commands_text(names):
    return ", ".join("`%s`" % name for name in names) if names else "nothing"


def counts_text(counter):
    return ", ".join("`%s` × %d" % (name, n) for name, n in sorted(counter.items(), key=lambda kv: -kv[1])) \
        or "none"


def sequence_section(scenarios):
    """The tool's commands of each operation, step by step, and how each
    same-sequence peer's differ, from the stand-in's log of one whole run
    of each. The tool's are shown from the first scenario that has them;
    a peer is compared in the first scenario where it moved the whole set
    (a stalling curl does on the large file's 17 files), else in the first
    where it ran."""
    with_logs = [s for s in scenarios if s.command_lines]
    if not with_logs:
        return []
    lines = ["## Command sequences: the tool and the same-sequence peers", "",
             "From the stand-in's log (`--log`) of one whole run of each: the tool's uncounted run (from the "
             "click on; its login and walk come before, and its closing `QUIT` after the driver has ended), a "
             "peer's first measured run (from its login on). A step ends with a transfer or a listing; file "
             "names, ALLO sizes and folders are shown as `<file>`, `<size>`, `<folder>` (`CWD  ..` stays). "
             "Only the steps that differ from the tool's are listed.", ""]
    for operation in OPERATIONS:
        shown = next((s for s in with_logs if (operation, TOOL.name) in s.command_lines), None)
        if not shown:
            continue
        tool_lines = shown.command_lines[(operation, TOOL.name)]
        steps = collections.Counter(tuple(normalised(line) for line in step) for step in steps_of(tool_lines))
        lines += ["### %s" % OPERATION_TITLES[operation], "",
                  "The tool's steps in *%s* (%d commands):" % (shown.title, len(tool_lines)), ""]
        for step, n in sorted(steps.items(), key=lambda kv: -kv[1]):
            lines.append("- × %d: %s" % (n, commands_text(step)))
        lines.append("")
        for client in peers_of(operation):
            if not client.same_sequence:
                continue
            chosen = None
            for scenario in with_logs:
                tool = scenario.command_lines.get((operation, TOOL.name))
                peer = scenario.command_lines.get((operation, client.name))
                if tool is None or peer is None:
                    continue
                compared = compare_sequences(tool, peer)
                if chosen is None or (compared and compared[-1] and not (chosen[2] and chosen[2][-1])):
                    chosen = (scenario, peer, compared)
            if chosen is None:
                lines += ["%s: no run to compare." % client.name, ""]
                continue
            scenario, peer_lines, compared = chosen
            if compared is None:
                lines += ["%s, in *%s* (%d commands): moved other files, or in another order; not compared." %
                          (client.name, scenario.title, len(peer_lines)), ""]
                continue
            total, same, differences, only_peer, only_tool, whole = compared
            part = "" if whole else (" of the first %d files, set against the tool's steps for them (the "
                                     "tool's closing steps left out)" % (total - 1))
            lines += ["%s, in *%s* (%d commands%s): %d of %d steps exactly as the tool's. Commands only %s "
                      "sent: %s. Only the tool's: %s." % (
                          client.name, scenario.title, len(peer_lines), part, same, total, client.name,
                          counts_text(only_peer), counts_text(only_tool)), ""]
            for (tool_step, peer_step), n in sorted(differences.items(), key=lambda kv: -kv[1]):
                lines.append("- × %d: the tool %s; %s %s" % (n, commands_text(tool_step), client.name,
                                                            commands_text(peer_step)))
            lines.append("")
    return lines


# The command line's scenarios in the report


def lying_section(runs):
    lines = ["## Against a lying listing", "",
             "`bench/lyingserver.py` on 127.0.0.1 gives each of the five folders a listing of as many entries "
             "as stay under %d MiB (the client's bound for one listing), with names of 8,100 characters; the "
             "command line (`r9-update`, the `bench` build) runs against it under GNU time (%%M: the peak "
             "resident memory). "
             "The run must end by itself, refusing the walk with an FTP error (exit 2); it is killed after "
             "%d s. *Read*: what the server sent of each listing before the client closed the data "
             "connection (socket buffers included)." % (64, 300), "",
             "| Command | Exit status | Time | Peak RSS | Target | Read | What it said |",
             "|---|---|---|---|---|---|---|"]
    for run in runs:
        said = " / ".join(line.strip() for line in run["output"].splitlines() if line.strip())
        lines.append("| `%s` | %s | %.2f s | %.1f MiB | < %d MiB | %s | %s |" % (
            run["command"], "killed" if run["status"] is None else run["status"], run["seconds"],
            run["rss_kib"] / 1024, PEAK_MEMORY_TARGET_MIB,
            "; ".join("%.1f of %.1f MiB" % (a / MiB, b / MiB) for a, b, _ in run["listings"]) or "–",
            said.replace("|", "/")[:200]))
    lines.append("")
    return lines


def lying_verdicts(runs):
    verdicts = []
    for run in runs:
        met = run["status"] == 2 and run["refused"] and run["rss_kib"] < PEAK_MEMORY_TARGET_MIB * 1024
        verdicts.append("A lying listing, `%s`: peak %.1f MiB (target < %d MiB), exit %s after %.2f s, "
                        "the walk %s: %s" % (
                            run["command"], run["rss_kib"] / 1024, PEAK_MEMORY_TARGET_MIB,
                            "(killed)" if run["status"] is None else run["status"], run["seconds"],
                            "refused" if run["refused"] else "**not refused**",
                            "met" if met else "**missed**"))
    return verdicts


def stop_baseline(report):
    """The run without a stop: the time from "Saving to disk …" to the end,
    what the disk needs for the last sync."""
    for run in report["runs"]:
        if run["signal"] is None and run["stop"] == "no stop" and run["saving"] is not None:
            return run["exit"] - run["saving"]
    return None


def stop_section(report):
    lines = ["## A stop during the final sync", "",
             "`r9-update clone DIR` (the command line, the `bench` build) of %d files, %.1f MB (`--big-file %s` "
             "of the stand-in), into a folder on %s. SIGINT goes when standard error shows the last file's line "
             "(its last byte has arrived; the closing `CWD  ..` is still due) or \"Saving to disk …\" (the "
             "queue is done, the last sync under way), and once more there followed by a second SIGINT 0.5 s "
             "later; once the run goes without a stop, for the time the disk itself needs. The end is when the "
             "process closes its standard error; *Stop → end* counts from the first SIGINT. *True result*: "
             "\"Backup Completed\" and exit 0 (after a second SIGINT: exit 130 and no result), and every file "
             "in place, byte for byte, with nothing else left in the folder. Earlier, against a disk that "
             "writes 2 MB/s, Ctrl+C took effect after %.1f s, with nothing shown meanwhile." % (
                 report["files"], report["bytes"] / 1e6, report["size"], report["disk"], EARLIER_STOP_SECONDS), "",
             "| Stop | Last file's line → \"Saving to disk …\" | Stop → end | Beyond the disk's own last sync "
             "| Disk written after the stop | First line after the stop | Printed | Exit | Files in place |",
             "|---|---|---|---|---|---|---|---|---|"]
    for run in report["runs"]:
        gap = "%.3f s" % (run["saving"] - run["last_file"]) if run["saving"] is not None and \
            run["last_file"] is not None else "–"
        if run["signal"] is not None:
            after = "%.2f s" % (run["exit"] - run["signal"])
        elif run["saving"] is not None:
            after = "(no stop; \"Saving\" → end %.2f s)" % (run["exit"] - run["saving"])
        else:
            after = "(no stop)"
        written = run.get("written_after_signal")
        written_text = "%.1f MB (%.1f s at %.1f MB/s)" % (
            written / 1e6, written / SLOW_DISK_BYTES_PER_SECOND, SLOW_DISK_BYTES_PER_SECOND / 1e6) \
            if written is not None else "–"
        printed = " / ".join([line for line in run["stderr"] if line.strip()] + run["stdout"].splitlines())
        added = stop_added(run, stop_baseline(report))
        reaction = "\"%s\" after %.1f ms" % (run["reaction"][1], run["reaction"][0] * 1000) \
            if run.get("reaction") else "–"
        lines.append("| %s | %s | %s | %s | %s | %s | %s | %s | %s |" % (
            run["stop"], gap, after, "%+.2f s" % added if added is not None else "–", written_text,
            reaction, printed.replace("|", "/")[:160], "killed" if run["status"] is None else run["status"],
            "yes" if run["whole"] else "**no**"))
    lines.append("")
    return lines


def true_result(run):
    """A stop after the last byte: the result the run would have had
    ("Backup Completed", exit 0); a second stop: stopped (exit 130, no
    result). Either way every file that arrived is in place."""
    if run.get("twice"):
        return run["status"] == 130 and run["whole"] and not run["stdout"]
    return run["status"] == 0 and run["whole"] and run["stdout"].startswith("Backup Completed")


def stop_added(run, baseline):
    """What a stop added to the end of the run, in seconds: its time to the
    end, less what the disk still needed when the signal came (the last sync
    of the run without a stop, from "Saving to disk …" on, and the time from
    the signal to that line)."""
    if baseline is None or run["signal"] is None or run["saving"] is None:
        return None
    return (run["exit"] - run["signal"]) - (baseline + run["saving"] - run["signal"])


def stop_verdicts(report):
    verdicts = []
    baseline = stop_baseline(report)
    for run in report["runs"]:
        if run["signal"] is None:
            continue
        after = run["exit"] - run["signal"]
        added = stop_added(run, baseline)
        # The stop may wait for the disk, for the sync the true result needs,
        # and a little for the closing; never for more.
        prompt = added is not None and added <= 0.5
        verdicts.append("A stop during the final sync (%s), %s: Ctrl+C → end %.2f s (earlier %.1f s), %s the "
                        "disk's own last sync (%s); result %s: %s" % (
                            "slow disk" if report["slow"] else "plain disk", run["stop"], after,
                            EARLIER_STOP_SECONDS, "%+.2f s beyond" % added if added is not None else "unknown beside",
                            "%.2f s" % baseline if baseline is not None else "not measured",
                            "true" if true_result(run) else "**not the true one**",
                            "met" if true_result(run) and prompt else "**missed**"))
    return verdicts


def command_line_missed(command_line):
    verdicts = lying_verdicts(command_line.get("lying", [])) + \
        (stop_verdicts(command_line["stop"]) if "stop" in command_line else [])
    return any("**missed**" in v for v in verdicts)


def measured_time(m):
    return m.seconds


def time_on_disk(m):
    """Until the files the client wrote are on disk."""
    return m.seconds + m.flush_seconds


def typical(runs, time=measured_time):
    """The median run by `time` (the faster of the middle two for an even count)."""
    ordered = sorted(runs, key=time)
    return ordered[(len(ordered) - 1) // 2]


def fastest(runs):
    return min(runs, key=measured_time)


def best_peers(results, scenario, operation, time=measured_time):
    """The typical runs of the best same-sequence peer and of the best peer
    of all, among those that moved the whole set (None where there is none)."""
    full = scenario.files.get(operation, 0)
    compared = []
    for client in peers_of(operation):
        runs = results.get((scenario.key, operation, client.name))
        if runs and typical(runs, time).files == full:
            compared.append((client, typical(runs, time)))
    same = [m for client, m in compared if client.same_sequence]
    best_same = min(same, key=time) if same else None
    best_all = min((m for _, m in compared), key=time) if compared else None
    return best_same, best_all


def per_file(m):
    """Seconds per file moved."""
    return m.seconds / m.files


def reference_peers(operation):
    """The peers every row of a slow link is divided by: the two that send
    the tool's sequence, and lftp's mirror."""
    if operation == "update":
        return ["curl -Q", "lftp quote+put", "lftp mirror -R"]
    return ["curl -Q", "lftp quote+get", "lftp mirror"]


def whole_set_run(results, scenario, operation, name):
    """The typical run of client `name`, if it moved the whole set."""
    runs = results.get((scenario.key, operation, name))
    if not runs or typical(runs).files != scenario.files.get(operation, 0):
        return None
    return typical(runs)


def commands_verdict(scenario, operation, m):
    """The tool's commands per file on a download, against the target. Each
    command waits for its reply: on a real link, this is the round trips."""
    per_file_commands = len(m.commands) / m.files
    return "%s, %s: %.2f commands per file (target ≤ %.1f, judged to one decimal): %s (%s)" % (
        scenario.title, OPERATION_TITLES[operation], per_file_commands, DOWNLOAD_COMMANDS_TARGET,
        "met" if round(per_file_commands, 1) <= DOWNLOAD_COMMANDS_TARGET else "**missed**", per_file_verbs(m))


def per_file_verbs(m):
    counts = collections.Counter(verb for _, verb, _ in m.commands)
    return ", ".join("%s %.2f" % (verb, n / m.files) for verb, n in sorted(counts.items(), key=lambda kv: -kv[1]))


def fmt_rate(value):
    return "%.1f" % value if value < 100 else "%.0f" % value


def machine_lines(args):
    cpu = "?"
    with open("/proc/cpuinfo") as f:
        for line in f:
            if line.startswith("model name"):
                cpu = line.split(":", 1)[1].strip()
                break
    ram = "?"
    with open("/proc/meminfo") as f:
        for line in f:
            if line.startswith("MemTotal:"):
                ram = "%.1f GiB" % (int(line.split()[1]) / 1024 / 1024)
                break
    nproc = subprocess.run(["nproc"], capture_output=True, text=True).stdout.strip()

    def first_line(argv):
        try:
            return subprocess.run(argv, capture_output=True, text=True, timeout=10).stdout.splitlines()[0].strip()
        except Exception:
            return "?"

    qt = first_line(["dpkg-query", "-W", "-f", "${Version}\n", "qt6-base-dev"])
    return [
        "- Machine: %s, `nproc` %s, %s RAM, %s" % (cpu, nproc, ram, platform.platform()),
        "- Qt %s (Debian package qt6-base-dev); the tool built with the CMake preset `bench` (Release)" % qt,
        "- Peers: %s; %s" % (first_line(["curl", "--version"]).split(" (")[0],
                             first_line(["lftp", "--version"]).replace("| ", "").split(" Copyright")[0]),
    ]


def write_report(args, scenarios, results, failures, started, command_line):
    lines = ["# Benchmark of the whole tool", "",
             "Written by `bench/run.sh%s` on %s (%.0f minutes)." %
             (" --quick" if args.quick else "", started.strftime("%Y-%m-%d %H:%M"),
              (datetime.datetime.now() - started).total_seconds() / 60), ""]
    lines += machine_lines(args)
    lines += [
        "- Each scenario has one stand-in (`r9-instrument-sim`, generated with `--generate`) on 127.0.0.1; "
        "the tool and every peer talk to that same process, one after the other, interleaved, in rotating "
        "order, each after a `sync`, after one run of each operation that is not counted. Each figure comes "
        "from the median run (by time) of the runs given per scenario, and each ratio compares medians; the "
        "fastest run is shown beside it. On this shared "
        "machine single runs of one client vary by up to three times, and comparing fastest runs would "
        "set the luckiest of all the peers' runs, five clients' worth, against the luckiest of the tool's. "
        "RSS is the largest of the runs (GNU time).",
        "- The tool's time runs from the click on the operation button to the operation's result "
        "(`InstrumentSession::operationFinished`, told once the last downloads are synced and in place; its "
        "Connect and listing walk come before and are not counted, the closing QUIT after). A peer's time is "
        "its whole process: start, login, work and QUIT.",
        "- Commands per file: the stand-in's command log (`--log`) of the run, after the login (the tool: "
        "after the click), divided by the files moved. Each command waits for its reply, so this is the "
        "number of round trips per file.",
        "- *Same sequence*: the peer sends the tool's commands, taken from the stand-in's log of the tool's "
        "uncounted run: its folder changes (`CWD  ..` and `CWD <folder>` before every file of a download, one "
        "pair per folder for Update, and those it sends without a transfer: Data Backup a `CWD  ..` for every "
        "top-folder file, fetched or not; a last `CWD  ..`), PASV and no EPSV, no SIZE, `ALLO <size>` before "
        "every STOR, and Update's closing listings of each folder written (`CWD <folder>`, `LIST`, `CWD  ..`) "
        "and of the top folder. curl: `--disable-epsv`, `--ignore-content-length` (no SIZE), `-Q` for the "
        "folder changes, `-Q \"+ALLO <size>\"` (sent right before the STOR), listings of `/` between quoted "
        "folder changes. lftp: `ftp:prefer-epsv no`, `ftp:use-feat no`, `ftp:use-size no`, `quote CWD`, "
        "`quote ALLO <size>` before each `put` (lftp's own ALLO stops after the stand-in's first `202`), `ls` "
        "for the listings. What still differs is under *Command sequences*. The small-file and slow-link "
        "targets compare with the best of these; the large-file target with the best of all peers. Only peers "
        "that moved the whole set count.",
        "- Rows marked *(first N files)*: curl 7.88.1 sometimes waits a whole second before it opens a data "
        "connection when nothing but EPSV (or PASV) comes before the transfer and the reply is immediate "
        "(strace: it then polls only its wake-up pipe, with its 1 s timeout). It does so against this fast "
        "stand-in, not against a slower server, and not when a `-Q` command precedes the transfer (Update's "
        "`+ALLO` comes after the PASV, and does not help). Those rows move only the "
        "first %d files, once, and are shown, not compared. Where the whole set is no larger, they move all "
        "of it, as often as the others, and are compared." % args.stalling_files,
        own_network_note(),
        "- CPU per file: user and system time over the files moved, of the median run; for the tool only "
        "while the operation runs (getrusage in the driver), for a peer its whole process.",
        "- The tool writes its debug lines (`qDebug`) to standard error, redirected to a file, as a field "
        "build does.",
        "",
        "Clients:", ""]
    for client in TOOL_CLIENTS:
        lines.append("- **%s**: %s" % (client.name, client.note))
    for client in DOWNLOAD_PEERS:
        lines.append("- downloads, **%s**: %s" % (client.name, client.note))
    for client in UPLOAD_PEERS:
        lines.append("- Update, **%s**: %s" % (client.name, client.note))
    lines.append("")

    def label(client, m, full):
        name = "**%s**" % client.name if client is TOOL else client.name
        if m and m.files < full:
            name += " *(first %d files)*" % m.files
        return name

    verdicts = []
    for scenario in scenarios:
        if scenario.delay_ms:
            continue
        lines += ["## %s" % scenario.title, "",
                  "| Operation | Client | Same sequence | Files | MiB | Time (median) | Fastest | files/s | MB/s "
                  "| Cmds/file | CPU per file | Peak RSS | Ratio to best same-sequence peer | Ratio to best peer |",
                  "|---|---|---|---|---|---|---|---|---|---|---|---|---|---|"]
        for operation in scenario.operations:
            full = scenario.files.get(operation, 0)
            best_same, best_all = best_peers(results, scenario, operation)
            for client in clients_of(scenario, operation):
                key = (scenario.key, operation, client.name)
                if key not in results:
                    lines.append("| %s | %s | %s | | | failed: %s | | | | | | | | |" %
                                 (OPERATION_TITLES[operation], label(client, None, full),
                                  "yes" if client.same_sequence else "no",
                                  failures.get(key, "?").replace("|", "/")[:200]))
                    continue
                runs = results[key]
                m = typical(runs)
                rss = max(r.rss_kib for r in runs)
                ratio_same = ratio_all = ""
                if client in TOOL_CLIENTS:
                    if best_same:
                        ratio_same = "%.2f" % (best_same.seconds / m.seconds)
                    if best_all:
                        ratio_all = "%.2f" % (best_all.seconds / m.seconds)
                lines.append("| %s | %s | %s | %d | %.1f | %.3f s | %.3f s | %s | %s | %.2f | %.2f ms | %.1f MiB "
                             "| %s | %s |" % (
                    OPERATION_TITLES[operation], label(client, m, full),
                    "yes" if client.same_sequence else "no", m.files, m.bytes / MiB, m.seconds,
                    fastest(runs).seconds,
                    fmt_rate(m.files / m.seconds), fmt_rate(m.bytes / m.seconds / 1e6),
                    len(m.commands) / m.files, m.cpu_seconds / m.files * 1000, rss / 1024, ratio_same, ratio_all))
            tool_key = (scenario.key, operation, TOOL.name)
            if tool_key in results:
                m = typical(results[tool_key])
                if scenario.large and best_all:
                    ratio = best_all.seconds / m.seconds
                    verdicts.append("%s, %s: %.0f MB/s, %.2f × the best peer's %.0f MB/s (target ≥ %.2f): %s" % (
                        scenario.title, OPERATION_TITLES[operation], m.bytes / m.seconds / 1e6, ratio,
                        best_all.bytes / best_all.seconds / 1e6, LARGE_RATE_TARGET,
                        "met" if ratio >= LARGE_RATE_TARGET else "**missed**"))
                elif not scenario.large and best_same:
                    ratio = best_same.seconds / m.seconds
                    verdicts.append("%s, %s: %.0f files/s, %.2f × the best same-sequence peer's %.0f files/s "
                                    "(target ≥ 0.9): %s" % (
                                        scenario.title, OPERATION_TITLES[operation], m.files / m.seconds, ratio,
                                        best_same.files / best_same.seconds,
                                        "met" if ratio >= 0.9 else "**missed**"))
                if not scenario.large and operation != "update":
                    verdicts.append(commands_verdict(scenario, operation, m))
            else:
                verdicts.append("%s, %s: the tool failed: %s" % (scenario.title, OPERATION_TITLES[operation],
                                                                 failures.get(tool_key, "?")))
        lines.append("")
        lines += ["Commands per file, by command (median run):", ""]
        for operation in scenario.operations:
            for client in clients_of(scenario, operation):
                key = (scenario.key, operation, client.name)
                if key in results:
                    lines.append("- %s, %s: %s" % (OPERATION_TITLES[operation], client.name,
                                                   per_file_verbs(typical(results[key]))))
        lines.append("")

    delayed = [s for s in scenarios if s.delay_ms]
    for scenario in delayed:
        for operation in scenario.operations:
            tool_key = (scenario.key, operation, TOOL.name)
            if tool_key not in results:
                verdicts.append("%s, %s: the tool failed: %s" % (scenario.title, OPERATION_TITLES[operation],
                                                                 failures.get(tool_key, "?")))
                continue
            m = typical(results[tool_key])
            best_same, _ = best_peers(results, scenario, operation)
            if operation != "update" and best_same:
                ratio = per_file(m) / per_file(best_same)
                verdicts.append("%s, %s: %.1f ms per file, %.2f × the best same-sequence peer's %.1f ms "
                                "(target ≤ %.2f): %s" % (
                                    scenario.title, OPERATION_TITLES[operation], per_file(m) * 1000, ratio,
                                    per_file(best_same) * 1000, SLOW_LINK_TIME_TARGET,
                                    "met" if ratio <= SLOW_LINK_TIME_TARGET else "**missed**"))
            if operation != "update":
                verdicts.append(commands_verdict(scenario, operation, m))

    if "lying" in command_line:
        verdicts += lying_verdicts(command_line["lying"])
    if "stop" in command_line:
        verdicts += stop_verdicts(command_line["stop"])
    lines += ["## Targets", ""] + ["- " + v for v in verdicts] + [""]
    if "lying" in command_line:
        lines += lying_section(command_line["lying"])
    if "stop" in command_line:
        lines += stop_section(command_line["stop"])
    lines += sequence_section(scenarios)

    # The tables of the transfer scenarios, when any ran.
    if scenarios:
        lines += ["## Until the files are on disk", "",
                  "A downloaded file is safe once it is on disk. The tool syncs its files before it reports the "
                  "operation complete, so its time above includes writing them out; a peer exits with its files "
                  "still in the page cache and leaves the writing to the system, which the next run's `sync` then "
                  "pays. Here every client's time includes a `sync` run right after it ended (for the tool, the "
                  "little its own syncs left over). Median runs by this time. Shown beside the targets, not in "
                  "place of them.", "",
                  "| Scenario | Operation | r9-update | Best same-sequence peer | Best peer "
                  "| Ratio to best same-sequence peer | Ratio to best peer |",
                  "|---|---|---|---|---|---|---|"]
        for scenario in scenarios:
            if scenario.delay_ms:
                continue
            for operation in scenario.operations:
                runs = results.get((scenario.key, operation, TOOL.name))
                if operation == "update" or not runs:
                    continue
                tool = time_on_disk(typical(runs, time_on_disk))
                peers = best_peers(results, scenario, operation, time_on_disk)
                times = [time_on_disk(m) if m else None for m in peers]
                lines.append("| %s | %s | %.3f s | %s | %s | %s | %s |" % (
                    scenario.title, OPERATION_TITLES[operation], tool,
                    *["%.3f s" % t if t else "–" for t in times],
                    *["%.2f" % (t / tool) if t else "–" for t in times]))
        lines.append("")

        lines += ["## Where the tool's time goes", "",
                  "From the diagnostic rows of the same run: the tool as built, without its syncs to disk, and "
                  "also without painting its window, beside the best peer on the same command sequence. Time "
                  "per file and CPU per file of the median runs.", "",
                  "| Scenario | Operation | As built | No fsync | No fsync, hidden | Best same-sequence peer "
                  "| Share of the syncs | Share of the painting |",
                  "|---|---|---|---|---|---|---|---|"]
        for scenario in scenarios:
            if not scenario.diagnose:
                continue
            for operation in scenario.operations:
                def row(client):
                    runs = results.get((scenario.key, operation, client.name))
                    return typical(runs) if runs else None
                tool, nofsync, hidden = row(TOOL), row(TOOL_NOFSYNC), row(TOOL_UNPAINTED)
                peer, _ = best_peers(results, scenario, operation)

                def cell(m):
                    if not m:
                        return "–"
                    return "%.2f ms (CPU %.2f ms)" % (m.seconds / m.files * 1000, m.cpu_seconds / m.files * 1000)

                sync_share = paint_share = "–"
                if tool and nofsync:
                    sync_share = "%.0f %%" % (100 * max(0.0, tool.seconds - nofsync.seconds) / tool.seconds)
                if tool and hidden:
                    base = nofsync if nofsync else tool
                    paint_share = "%.0f %%" % (100 * max(0.0, base.seconds - hidden.seconds) / tool.seconds)
                lines.append("| %s | %s | %s | %s | %s | %s | %s | %s |" % (
                    scenario.title, OPERATION_TITLES[operation], cell(tool), "–" if operation == "update" else
                    cell(nofsync), cell(hidden), cell(peer), "–" if operation == "update" else sync_share,
                    paint_share))
        lines.append("")

        if delayed:
            lines += ["## Slow links: the stand-in delays each reply", "",
                      "Every reply of the stand-in comes the given delay late, as over a real instrument's link, "
                      "so each command costs at least one delay and a transfer two (its 150 and its 226). The last "
                      "three columns divide a row's time per file by that of a peer: of curl -Q and of lftp "
                      "quote+get (Update: quote+put), which send the tool's command sequence, and of lftp mirror "
                      "(Update: mirror -R), which sends what it likes. Below 1 the row is faster. Only peers that "
                      "moved the whole set are divided by (–: not).", "",
                      "| Reply delay | Operation | Client | Same sequence | Files | Time per file | Cmds/file "
                      "| Time per file / delay | × curl -Q | × lftp quote+get/put | × lftp mirror |",
                      "|---|---|---|---|---|---|---|---|---|---|---|"]
            for scenario in delayed:
                for operation in scenario.operations:
                    full = scenario.files.get(operation, 0)
                    references = [whole_set_run(results, scenario, operation, name)
                                  for name in reference_peers(operation)]
                    for client in clients_of(scenario, operation):
                        key = (scenario.key, operation, client.name)
                        if key not in results:
                            lines.append("| %d ms | %s | %s | | | failed: %s | | | | | |" % (
                                scenario.delay_ms, OPERATION_TITLES[operation], client.name,
                                failures.get(key, "?").replace("|", "/")[:200]))
                            continue
                        m = typical(results[key])
                        ratios = ["%.2f" % (per_file(m) / per_file(r)) if r else "–" for r in references]
                        lines.append("| %d ms | %s | %s | %s | %d | %.1f ms | %.2f | %.1f | %s | %s | %s |" % (
                            scenario.delay_ms, OPERATION_TITLES[operation], label(client, m, full),
                            "yes" if client.same_sequence else "no", m.files, per_file(m) * 1000,
                            len(m.commands) / m.files, per_file(m) * 1000 / scenario.delay_ms, *ratios))
            lines.append("")
            lines += ["Commands per file, by command (median run):", ""]
            for scenario in delayed:
                for operation in scenario.operations:
                    for client in clients_of(scenario, operation):
                        key = (scenario.key, operation, client.name)
                        if key in results:
                            lines.append("- %d ms, %s, %s: %s" % (scenario.delay_ms, OPERATION_TITLES[operation],
                                                                  client.name, per_file_verbs(typical(results[key]))))
            lines.append("")

        lines += ["## Memory and open files of the tool", "",
                  "Read by the driver from /proc/self: resident memory just before the click (after Connect and "
                  "the listing walk), the peak (VmHWM) at the end, and /proc/self/fd counted before the click and "
                  "while transfers move bytes (the local file and the data connection are then open): in every 16th "
                  "transfer, whose first bytes it waits for, and in every transfer once it has moved 1 MiB. A leak "
                  "would grow with the transfers; looking at every one would cost as many system calls as a small "
                  "file's transfer.", "",
                  "| Scenario | Operation | Files | MiB | RSS before | Peak RSS | Growth | Open files before "
                  "| Peak open files |",
                  "|---|---|---|---|---|---|---|---|---|"]
        for scenario in scenarios:
            for operation in scenario.operations:
                runs = results.get((scenario.key, operation, TOOL.name))
                if not runs:
                    continue
                before = max(r.tool["rss_before_kib"] for r in runs)
                peak = max(r.tool["hwm_kib"] for r in runs)
                lines.append("| %s | %s | %d | %.1f | %.1f MiB | %.1f MiB | %+.1f MiB | %d | %d |" % (
                    scenario.title, OPERATION_TITLES[operation], runs[0].files, runs[0].bytes / MiB,
                    before / 1024, peak / 1024, (peak - before) / 1024,
                    max(r.tool["open_files_before"] for r in runs), max(r.tool["peak_open_files"] for r in runs)))
        lines.append("")
        growth = []
        for operation in OPERATIONS:
            points = []
            for scenario in scenarios:
                runs = results.get((scenario.key, operation, TOOL.name))
                if runs and not scenario.large:
                    points.append((runs[0].files, max(r.tool["hwm_kib"] - r.tool["rss_before_kib"] for r in runs)))
            if len(points) >= 2 and max(points)[0] > min(points)[0]:
                (few, low), (many, high) = min(points), max(points)
                growth.append("%s %.1f KiB" % (OPERATION_TITLES[operation], (high - low) / (many - few)))
        if growth:
            lines += ["Growth of the peak per file moved, between the runs with the fewest and the most small "
                      "files: %s." % ", ".join(growth), ""]

    with open(args.out, "w") as f:
        f.write("\n".join(lines) + "\n")
    print("\n".join(lines))
    print("wrote %s" % args.out)


# --------------------------------------------------------------------------


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--driver", required=True, help="r9-bench-tool")
    parser.add_argument("--sim", required=True, help="r9-instrument-sim")
    parser.add_argument("--nofsync", required=True, help="libr9-bench-nofsync.so, for the diagnostic row")
    parser.add_argument("--r9-update", default="", help="r9-update, the command line, for the scenarios "
                                                        "lying and stop (left out without it)")
    parser.add_argument("--quick", action="store_true", help="small sizes, one run each: a smoke run")
    parser.add_argument("--work", default=os.path.join(HERE, "work"))
    parser.add_argument("--out", default=os.path.join(HERE, "RESULTS.md"))
    parser.add_argument("--keep-work", action="store_true", help="keep the generated instruments")
    parser.add_argument("--time-limit", type=int, default=1800, help="seconds for any one run")
    parser.add_argument("--only", default="", help="comma-separated scenario keys to run "
                                                   "(small, big, slow1, slow10, lying, stop)")
    parser.add_argument("--operations", default="", help="comma-separated operations to run "
                                                         "(clone, backup, update)")
    args = parser.parse_args()

    # A lying listing ends within seconds; this bounds a tool that would not.
    args.lying_time_limit = 300
    if args.quick:
        small_files, big, slow_files, repeat_small, repeat_big, repeat_slow = 100, "256M", (25, 5), 1, 1, 1
        args.stalling_files = 20
        args.stop_size, args.stop_repeat = "4M", 1
    else:
        small_files, big, slow_files, repeat_small, repeat_big, repeat_slow = 1000, "2G", (100, 25), 7, 5, 3
        args.stalling_files = 50
        args.stop_size, args.stop_repeat = "20M", 2
    scenarios = [
        Scenario("small", "%d small files" % (2 * small_files + 16),
                 ["--seed", "9", "--files", str(small_files)], 0, repeat_small, OPERATIONS, args.work,
                 diagnose=True),
        Scenario("big", "One %siB file" % big, ["--seed", "9", "--files", "0", "--big-file", big], 0,
                 repeat_big, OPERATIONS, args.work, large=True, diagnose=True),
        Scenario("slow1", "1 ms reply delay", ["--seed", "9", "--files", str(slow_files[0])], 1,
                 repeat_slow, OPERATIONS, args.work),
        Scenario("slow10", "10 ms reply delay", ["--seed", "9", "--files", str(slow_files[1])], 10,
                 repeat_slow, OPERATIONS, args.work),
    ]
    extras = ["lying", "stop"] if args.r9_update else []
    if args.only:
        wanted = args.only.split(",")
        scenarios = [s for s in scenarios if s.key in wanted]
        extras = [key for key in extras if key in wanted]
    if args.operations:
        wanted = args.operations.split(",")
        for scenario in scenarios:
            scenario.operations = [o for o in scenario.operations if o in wanted]

    started = datetime.datetime.now()
    os.makedirs(args.work, exist_ok=True)
    results, failures = {}, {}
    # The large files first: they leave before the many small ones arrive,
    # which stay until the end, so the disk holds only one of the two.
    for scenario in sorted(scenarios, key=lambda s: not s.large):
        run_scenario(args, scenario, results, failures)
    if not args.keep_work:
        for scenario in scenarios:
            shutil.rmtree(scenario.folder, ignore_errors=True)
    command_line = {}
    if "lying" in extras:
        command_line["lying"] = run_lying_listing(args)
    if "stop" in extras:
        command_line["stop"] = run_stop_during_sync(args)
    write_report(args, scenarios, results, failures, started, command_line)
    tool_failed = [k for k in failures if k[2] == TOOL.name]
    return 1 if tool_failed or command_line_missed(command_line) else 0


if __name__ == "__main__":
    sys.exit(main())
