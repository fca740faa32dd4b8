#!/usr/bin/env python3
"""A second IRC client for the tests, over a raw socket on 127.0.0.1.

As a module:
    p = peer.Peer(port, "bob", encoding="jis")   # connects and registers (waits for 001)
    p.join("#lumo")                               # JOIN, waits for the end of the names list
    p.say("#lumo", "こんにちは")                   # PRIVMSG in the peer's encoding
    p.action("#lumo", "waves")                    # CTCP ACTION
    p.notice(target, text); p.nick("carol"); p.part("#lumo"); p.send("RAW LINE")
    line = p.expect(r"PRIVMSG #lumo :hi", timeout=10)   # the first line matching; a TimeoutError
                                                        # that lists the lines seen otherwise
    p.quit("bye"); p.close()
  Lines are str, decoded from the encoding ("jis" = ISO-2022-JP, "sjis" = CP932, "euc" = EUC-JP,
  "utf8"); PING is answered while waiting. Every line received is kept in p.lines.

From a shell: python3 peer.py --port PORT --nick NICK [--encoding ENC] [--timeout S] ACTION...
  where the actions run in order:
    join CHAN | part CHAN | say TARGET TEXT | action TARGET TEXT | notice TARGET TEXT |
    nick NEW | raw LINE | expect REGEX | sleep SECONDS | quit [MESSAGE] | -
  "-" reads further actions from standard input, one a line, split as a shell would.
  Exit status 0 when every action succeeded, 1 when an expect timed out (the lines seen go to
  standard error), 2 for bad use. Received lines are echoed to standard output with --verbose.
"""
import argparse
import re
import shlex
import socket
import sys
import time

CODECS = {"jis": "iso2022_jp", "sjis": "cp932", "euc": "euc_jp", "utf8": "utf-8"}


class Peer:
    def __init__(self, port, nick, encoding="utf8", host="127.0.0.1", timeout=10, register=True,
                 echo=None):
        if encoding not in CODECS:
            raise ValueError(f"unknown encoding {encoding}")
        self.codec = CODECS[encoding]
        self.encoding = encoding
        self.nickname = nick
        self.timeout = timeout
        self.lines = []
        self.echo = echo
        self._pending = []
        self._buffer = b""
        self.sock = socket.create_connection((host, port), timeout)
        if register:
            self.send(f"NICK {nick}")
            self.send(f"USER {nick} 0 * :lumo test peer")
            self.expect(r"^:\S+ 001 ")

    def send(self, line):
        data = line.encode(self.codec, errors="replace") + b"\r\n"
        self.sock.sendall(data)

    def join(self, channel):
        self.send(f"JOIN {channel}")
        self.expect(rf"^:\S+ 366 \S+ {re.escape(channel)} ")

    def part(self, channel, message=None):
        self.send(f"PART {channel}" + (f" :{message}" if message else ""))

    def say(self, target, text):
        self.send(f"PRIVMSG {target} :{text}")

    def action(self, target, text):
        self.send(f"PRIVMSG {target} :\x01ACTION {text}\x01")

    def notice(self, target, text):
        self.send(f"NOTICE {target} :{text}")

    def nick(self, new):
        self.send(f"NICK {new}")
        self.nickname = new

    def quit(self, message="bye"):
        self.send(f"QUIT :{message}")

    def close(self):
        try:
            self.sock.close()
        except OSError:
            pass

    def _read_line(self, deadline):
        """The next line (str) before the deadline, or None."""
        while b"\n" not in self._buffer:
            left = deadline - time.monotonic()
            if left <= 0:
                return None
            self.sock.settimeout(left)
            try:
                data = self.sock.recv(4096)
            except socket.timeout:
                return None
            if not data:
                return None
            self._buffer += data
        raw, self._buffer = self._buffer.split(b"\n", 1)
        line = raw.rstrip(b"\r").decode(self.codec, errors="replace")
        self.lines.append(line)
        if self.echo:
            print(line, file=self.echo, flush=True)
        if line.startswith("PING"):
            self.send("PONG" + line[4:])
        return line

    def expect(self, pattern, timeout=None):
        """Waits for a line that matches the regular expression and returns the match. Each line
        satisfies one expect at most; lines that no expect has taken yet are searched first."""
        regex = re.compile(pattern)
        deadline = time.monotonic() + (self.timeout if timeout is None else timeout)
        # Lines read but not matched by an earlier expect are looked at first.
        for i, line in enumerate(self._pending):
            found = regex.search(line)
            if found:
                del self._pending[i]
                return found
        while True:
            line = self._read_line(deadline)
            if line is None:
                seen = "\n".join(self.lines[-30:])
                raise TimeoutError(f"{self.nickname}: no line matching {pattern!r}; last lines:\n{seen}")
            found = regex.search(line)
            if found:
                return found
            self._pending.append(line)


def run_actions(peer, actions):
    """Runs actions (lists of words) in order; returns the exit status."""
    for words in actions:
        if not words:
            continue
        name, args = words[0], words[1:]
        try:
            if name == "join" and len(args) == 1:
                peer.join(args[0])
            elif name == "part" and len(args) in (1, 2):
                peer.part(*args)
            elif name in ("say", "action", "notice") and len(args) == 2:
                getattr(peer, name)(args[0], args[1])
            elif name == "nick" and len(args) == 1:
                peer.nick(args[0])
            elif name == "raw" and len(args) == 1:
                peer.send(args[0])
            elif name == "expect" and len(args) == 1:
                peer.expect(args[0])
            elif name == "sleep" and len(args) == 1:
                time.sleep(float(args[0]))
            elif name == "quit" and len(args) <= 1:
                peer.quit(*args)
            else:
                print(f"peer: bad action {words}", file=sys.stderr)
                return 2
        except TimeoutError as error:
            print(f"peer: {error}", file=sys.stderr)
            return 1
    return 0


def parse_actions(words):
    """Splits a flat argument list into actions by their known arities."""
    arity = {"join": 1, "part": 1, "say": 2, "action": 2, "notice": 2, "nick": 1, "raw": 1,
             "expect": 1, "sleep": 1}
    actions, i = [], 0
    while i < len(words):
        name = words[i]
        if name == "-":
            actions.append(["-"])
            i += 1
        elif name == "quit":
            count = 1 if i + 1 < len(words) and words[i + 1] not in arity and words[i + 1] != "-" else 0
            actions.append(words[i : i + 1 + count])
            i += 1 + count
        elif name in arity:
            actions.append(words[i : i + 1 + arity[name]])
            i += 1 + arity[name]
        else:
            raise ValueError(f"unknown action {name}")
    return actions


def main(argv):
    parser = argparse.ArgumentParser(description="A second IRC client for the tests.")
    parser.add_argument("--port", type=int, required=True)
    parser.add_argument("--nick", required=True)
    parser.add_argument("--encoding", default="utf8", choices=sorted(CODECS))
    parser.add_argument("--timeout", type=float, default=10)
    parser.add_argument("--verbose", action="store_true")
    parser.add_argument("actions", nargs=argparse.REMAINDER)
    options = parser.parse_args(argv[1:])
    try:
        actions = parse_actions(options.actions)
    except ValueError as error:
        print(f"peer: {error}", file=sys.stderr)
        return 2
    try:
        peer = Peer(options.port, options.nick, options.encoding, timeout=options.timeout,
                    echo=sys.stdout if options.verbose else None)
    except (OSError, TimeoutError) as error:
        print(f"peer: cannot register as {options.nick}: {error}", file=sys.stderr)
        return 1
    try:
        for action in actions:
            if action == ["-"]:
                for line in sys.stdin:
                    status = run_actions(peer, [shlex.split(line)])
                    if status:
                        return status
            else:
                status = run_actions(peer, [action])
                if status:
                    return status
        return 0
    finally:
        peer.close()


if __name__ == "__main__":
    sys.exit(main(sys.argv))
