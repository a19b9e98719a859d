#!/usr/bin/python3
"""Serves one folder over FTP on 127.0.0.1, for tests and benchmarks.

Prints "PORT <n>" once it listens, then serves until its standard input
closes (which happens when the process that started it ends) or until
--max-seconds have passed, whichever comes first.
"""
import argparse
import logging
import os
import sys
import threading

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import DTPHandler, FTPHandler
from pyftpdlib.servers import FTPServer


def exit_when_stdin_closes():
    try:
        while sys.stdin.buffer.read(4096):
            pass
    finally:
        os._exit(0)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--root", required=True)
    parser.add_argument("--user", default="root")
    parser.add_argument("--password", default="+00417263850")
    parser.add_argument("--max-seconds", type=float, default=900)
    parser.add_argument("--no-epsv", action="store_true",
                        help="refuse EPSV, as older servers do: clients must fall back to PASV")
    parser.add_argument("--top-folder-cd", action="store_true",
                        help='take "CWD  .." (a blank, two dots) back to the top folder, as the R9 instrument does')
    parser.add_argument("--verbose", action="store_true")
    args = parser.parse_args()

    logging.basicConfig(level=logging.DEBUG if args.verbose else logging.WARNING)

    authorizer = DummyAuthorizer()
    authorizer.add_user(args.user, args.password, os.path.abspath(args.root), perm="elradfmwMT")

    class Handler(FTPHandler):
        pass

    class DataHandler(DTPHandler):
        ac_in_buffer_size = 256 * 1024
        ac_out_buffer_size = 256 * 1024

    if args.top_folder_cd:
        class InstrumentHandler(Handler):
            def pre_process_command(self, line, cmd, arg):
                if cmd == "CWD" and arg == " ..":
                    arg = "/"
                return super().pre_process_command(line, cmd, arg)
        Handler = InstrumentHandler

    if args.no_epsv:
        Handler.proto_cmds = {k: v for k, v in FTPHandler.proto_cmds.items() if k != "EPSV"}
    Handler.authorizer = authorizer
    Handler.dtp_handler = DataHandler
    Handler.banner = "pyftpdlib ready"
    Handler.timeout = max(args.max_seconds, 1)

    # Loopback only: the control socket, and with it every passive data socket.
    server = FTPServer(("127.0.0.1", 0), Handler)
    print("PORT %d" % server.socket.getsockname()[1], flush=True)

    threading.Thread(target=exit_when_stdin_closes, daemon=True).start()
    deadline = threading.Timer(args.max_seconds, lambda: os._exit(3))
    deadline.daemon = True
    deadline.start()
    server.serve_forever(handle_exit=False)


if __name__ == "__main__":
    main()
