#!/usr/bin/env python3
"""A private ngircd for a test: its own configuration in a work folder, on 127.0.0.1 and a free port.

As a module:
    server = ngircd.start(work_dir)      # waits until the port accepts connections
    server.port, server.pid, server.log  # the port, the process id, the server's own output
    server.stop()                        # ends the server by its process id

From a shell:
    read pid port < <(python3 ngircd.py start WORK_DIR)   # prints "PID PORT" once it accepts
    python3 ngircd.py stop PID                            # returns once it has ended
"""
import os
import signal
import socket
import subprocess
import sys
import time

SERVER_NAME = "irc.lumo.test"


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def write_config(path, port):
    with open(path, "w", encoding="ascii") as f:
        f.write(
            "[Global]\n"
            f"Name = {SERVER_NAME}\n"
            "Info = lumo test server\n"
            "Listen = 127.0.0.1\n"
            f"Ports = {port}\n"
            "MotdPhrase = welcome to the lumo test server\n"
            "[Limits]\n"
            "MaxNickLength = 16\n"
            "[Options]\n"
            "PAM = no\n"
            "Ident = no\n"
            "DNS = no\n"
        )


def accepts(port):
    try:
        socket.create_connection(("127.0.0.1", port), 1).close()
        return True
    except OSError:
        return False


class Server:
    def __init__(self, process, port, log):
        self.process = process
        self.pid = process.pid
        self.port = port
        self.log = log

    def stop(self):
        stop(self.pid)
        self.process.wait()


def start(work_dir, attempts=3):
    """Starts ngircd in the foreground of a child process; returns a Server once its port accepts."""
    os.makedirs(work_dir, exist_ok=True)
    config = os.path.join(work_dir, "ngircd.conf")
    log = os.path.join(work_dir, "ngircd.log")
    for _ in range(attempts):
        port = free_port()
        write_config(config, port)
        with open(log, "ab") as out:
            process = subprocess.Popen(["ngircd", "-n", "-f", config], stdin=subprocess.DEVNULL,
                                       stdout=out, stderr=subprocess.STDOUT, start_new_session=True)
        for _ in range(100):
            if accepts(port):
                return Server(process, port, log)
            if process.poll() is not None:
                break
            time.sleep(0.1)
        # The port was taken meanwhile, or the server did not come up: try another port.
        if process.poll() is None:
            process.kill()
        process.wait()
    raise RuntimeError(f"ngircd did not start; see {log}")


def gone(pid):
    try:
        # Our own child is reaped here; another process is only looked at.
        if os.waitpid(pid, os.WNOHANG)[0] == pid:
            return True
    except ChildProcessError:
        pass
    try:
        os.kill(pid, 0)
        return False
    except ProcessLookupError:
        return True


def stop(pid, wait=5):
    """Ends the server by its process id: SIGTERM, and SIGKILL when it has not ended in time."""
    try:
        os.kill(pid, signal.SIGTERM)
    except ProcessLookupError:
        return
    deadline = time.monotonic() + wait
    while time.monotonic() < deadline:
        if gone(pid):
            return
        time.sleep(0.05)
    try:
        os.kill(pid, signal.SIGKILL)
    except ProcessLookupError:
        pass


def main(argv):
    if len(argv) == 3 and argv[1] == "start":
        server = start(argv[2])
        print(server.pid, server.port, flush=True)
        return 0
    if len(argv) == 3 and argv[1] == "stop":
        stop(int(argv[2]))
        return 0
    print("usage: ngircd.py start WORK_DIR | stop PID", file=sys.stderr)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv))
