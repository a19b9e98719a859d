#!/usr/bin/python3
"""Serves the folder named by its argument over FTP on 127.0.0.1 with Debian's
pyftpdlib, taking the instrument's account and its "CWD  .." (a blank, two
dots) back to the top folder. Prints "PORT <n>" once it listens; ends when
its standard input closes (when the test that started it ends, however it
ends), or after 15 minutes."""
import os
import sys
import threading

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler
from pyftpdlib.servers import FTPServer


class InstrumentHandler(FTPHandler):
    banner = "pyftpdlib ready"

    def pre_process_command(self, line, cmd, arg):
        if cmd == "CWD" and arg == " ..":
            arg = "/"
        return super().pre_process_command(line, cmd, arg)


def exit_when_stdin_closes():
    sys.stdin.buffer.read()
    os._exit(0)


authorizer = DummyAuthorizer()
authorizer.add_user("root", "+00417263850", os.path.abspath(sys.argv[1]), perm="elradfmwMT")
InstrumentHandler.authorizer = authorizer
# Loopback only: the control socket, and with it every passive data socket.
server = FTPServer(("127.0.0.1", 0), InstrumentHandler)
print("PORT %d" % server.socket.getsockname()[1], flush=True)
threading.Thread(target=exit_when_stdin_closes, daemon=True).start()
deadline = threading.Timer(900, lambda: os._exit(3))
deadline.daemon = True
deadline.start()
server.serve_forever(handle_exit=False)
