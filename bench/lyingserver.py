#!/usr/bin/python3
"""An instrument that lies in its listings: each of the five folders the
tool walks lists as a file of about 64 MiB, made of entries whose names are
8,100 characters long. Each listing stays just under the client's bound for
one listing; together they would be larger than any PC should hold. The
bench runs r9-update against it and measures its peak memory.

Serves one connection after another on 127.0.0.1 only; ends when its
standard input closes. Prints "listening on 127.0.0.1:PORT" once ready.
Every command goes to --log as the stand-in writes it (connection number,
a blank, the line), and each listing's end as "# LIST sent N of M bytes
(whole | cut by the client)".
"""
import argparse
import os
import select
import socket
import sys
import threading

USER, PASSWORD = "root", "+00417263850"
MiB = 1024 * 1024
# What a listing line is without its name, as `ls -l` writes it.
LINE_HEAD = b"-rw-r--r--   1 root     root            1 Jan  1 12:00 "


class Listing:
    """The lines of one folder's listing, made as they are sent: the names
    differ (the listing's and the line's number, padded to the length
    asked for), so no client can fold them together."""

    def __init__(self, number, name_length, budget):
        self.number, self.name_length = number, name_length
        line_length = len(LINE_HEAD) + name_length + 2
        self.lines = budget // line_length
        self.size = self.lines * line_length

    def line(self, index):
        tag = ("L%dN%d" % (self.number, index)).encode()
        return LINE_HEAD + tag + b"X" * (self.name_length - len(tag)) + b"\r\n"

    def chunks(self, lines_per_chunk=128):
        for first in range(0, self.lines, lines_per_chunk):
            last = min(self.lines, first + lines_per_chunk)
            yield b"".join(self.line(i) for i in range(first, last))


class Session(threading.Thread):
    def __init__(self, number, control, args, log):
        super().__init__(daemon=True)
        self.number, self.control, self.args, self.log = number, control, args, log
        self.passive = None
        self.logged_in = False
        self.listings = 0

    def note(self, text):
        with self.log["lock"]:
            self.log["file"].write(("%d %s\n" % (self.number, text)).encode("latin-1", "replace"))
            self.log["file"].flush()

    def reply(self, text):
        self.control.sendall(text.encode("latin-1") + b"\r\n")

    def run(self):
        self.control.settimeout(self.args.idle_seconds)
        reader = self.control.makefile("rb")
        try:
            self.reply("220 R9 instrument FTP service ready.")
            while True:
                raw = reader.readline(1024)
                if not raw:
                    return
                line = raw.rstrip(b"\r\n").decode("latin-1")
                self.note(line)
                verb, _, argument = line.partition(" ")
                if not self.handle(verb.upper(), argument):
                    return
        except OSError:
            return
        finally:
            if self.passive:
                self.passive.close()
            self.control.close()

    def handle(self, verb, argument):
        if verb == "USER":
            self.reply("331 Please specify the password.")
        elif verb == "PASS":
            self.logged_in = argument == PASSWORD
            self.reply("230 Login successful." if self.logged_in else "530 Login incorrect.")
        elif verb == "QUIT":
            self.reply("221 Goodbye.")
            return False
        elif not self.logged_in:
            self.reply("530 Please login with USER and PASS.")
        elif verb == "CWD":
            self.reply("250 Directory successfully changed.")
        elif verb == "TYPE":
            self.reply("200 Switching to %s mode." % ("Binary" if argument.upper() == "I" else "ASCII"))
        elif verb == "PASV":
            if self.passive:
                self.passive.close()
            self.passive = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
            self.passive.bind(("127.0.0.1", 0))
            self.passive.listen(1)
            port = self.passive.getsockname()[1]
            self.reply("227 Entering Passive Mode (127,0,0,1,%d,%d)." % (port >> 8, port & 0xFF))
        elif verb == "LIST":
            self.send_listing()
        else:
            self.reply("502 Command not implemented.")
        return True

    def send_listing(self):
        if not self.passive:
            self.reply("425 Use PASV first.")
            return
        passive, self.passive = self.passive, None
        self.listings += 1
        listing = Listing(self.listings, self.args.name_length, self.args.listing_bytes)
        self.reply("150 Here comes the directory listing.")
        passive.settimeout(self.args.idle_seconds)
        sent = 0
        try:
            data, _ = passive.accept()
        except OSError:
            passive.close()
            self.note("# LIST no data connection")
            self.reply("425 Failed to establish connection.")
            return
        passive.close()
        whole = False
        try:
            data.settimeout(self.args.idle_seconds)
            for chunk in listing.chunks():
                data.sendall(chunk)
                sent += len(chunk)
            data.shutdown(socket.SHUT_WR)
            whole = True
        except OSError:
            pass
        finally:
            data.close()
        self.note("# LIST sent %d of %d bytes (%s)" % (sent, listing.size, "whole" if whole else "cut by the client"))
        self.reply("226 Directory send OK." if whole else "426 Connection closed; transfer aborted.")


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--port", type=int, default=0)
    parser.add_argument("--log", required=True)
    parser.add_argument("--name-length", type=int, default=8100)
    # As much as one listing may be: the client takes up to 64 MiB as one.
    parser.add_argument("--listing-bytes", type=int, default=64 * MiB - 1)
    parser.add_argument("--idle-seconds", type=float, default=30.0)
    args = parser.parse_args()

    server = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    server.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    server.bind(("127.0.0.1", args.port))
    server.listen(4)
    print("listening on 127.0.0.1:%d" % server.getsockname()[1], flush=True)
    log = {"file": open(args.log, "ab"), "lock": threading.Lock()}
    sessions = 0
    stdin = sys.stdin.fileno()
    while True:
        readable, _, _ = select.select([server, stdin], [], [])
        if stdin in readable and not os.read(stdin, 4096):
            return 0
        if server in readable:
            control, _ = server.accept()
            sessions += 1
            Session(sessions, control, args, log).start()


if __name__ == "__main__":
    sys.exit(main())
