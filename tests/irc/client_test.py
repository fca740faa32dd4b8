#!/usr/bin/env python3
"""The shipped chat script through lumo-cli --connect against a private ngircd, with a peer client.

    client_test.py --bin BIN_DIR --work WORK_DIR

BIN_DIR holds lumo-cli, the shipped main.lum with its modules and (when built) the utf8 extension.
Each session copies the scripts into a folder of its own and rewrites the settings lines of
main.lum (server, port, nick, channels, encoding); nothing else of the script changes.
"""
import argparse
import glob
import os
import re
import shutil
import signal
import subprocess
import sys
import threading
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import ngircd  # noqa: E402
from peer import Peer  # noqa: E402

TIME = r"\d\d:\d\d"


def write_settings(path, settings):
    """Rewrites the settings lines (name = value; // comment) of main.lum, keeping the comments."""
    with open(path, "rb") as f:
        text = f.read().decode("cp932")
    for name, value in settings.items():
        literal = str(value) if isinstance(value, int) else '"' + value + '"'
        text, count = re.subn(rf"(?m)^{name} = [^;]*;", f"{name} = {literal};", text, count=1)
        if count != 1:
            raise AssertionError(f"main.lum has no settings line for {name}")
    with open(path, "wb") as f:
        f.write(text.encode("cp932"))


class Lumo:
    """lumo-cli --plain --utf8 --connect on a copy of the shipped scripts."""

    def __init__(self, bin_dir, folder, settings, timeout=15):
        os.makedirs(folder, exist_ok=True)
        for script in glob.glob(os.path.join(bin_dir, "*.lum")):
            shutil.copy(script, folder)
        write_settings(os.path.join(folder, "main.lum"), settings)
        environment = dict(os.environ, LD_LIBRARY_PATH=bin_dir)
        self.timeout = timeout
        self.lines = []
        self.partial = None
        self.taken = set()
        self.changed = threading.Condition()
        self.process = subprocess.Popen(
            [os.path.join(bin_dir, "lumo-cli"), "--plain", "--utf8", "--connect", "main.lum"],
            cwd=folder, stdin=subprocess.PIPE, stdout=subprocess.PIPE, env=environment)
        self.reader = threading.Thread(target=self._read, daemon=True)
        self.reader.start()

    def _read(self):
        # lumo-cli ends a line only when the next one begins, so the unfinished last line counts.
        pending = b""
        while True:
            data = os.read(self.process.stdout.fileno(), 4096)
            with self.changed:
                if not data:
                    self.partial = None
                    if pending:
                        self.lines.append(pending.decode("utf-8", errors="replace"))
                    self.changed.notify_all()
                    return
                pending += data
                *complete, pending = pending.split(b"\n")
                self.lines.extend(line.decode("utf-8", errors="replace") for line in complete)
                self.partial = pending.decode("utf-8", errors="replace")
                self.changed.notify_all()

    def type(self, line):
        self.process.stdin.write(line.encode("utf-8") + b"\n")
        self.process.stdin.flush()

    def expect(self, pattern, timeout=None):
        """The first line not taken yet that matches; each line satisfies one expect."""
        regex = re.compile(pattern)
        deadline = time.monotonic() + (timeout or self.timeout)
        with self.changed:
            while True:
                candidates = self.lines + ([self.partial] if self.partial else [])
                for i, line in enumerate(candidates):
                    if i not in self.taken and regex.search(line):
                        self.taken.add(i)
                        return line
                left = deadline - time.monotonic()
                if left <= 0:
                    shown = "\n".join((self.lines + [self.partial or ""])[-40:])
                    raise AssertionError(f"lumo-cli: no line matching {pattern!r}; last lines:\n{shown}")
                self.changed.wait(left)

    def refuse(self, pattern):
        with self.changed:
            for line in self.lines:
                if re.search(pattern, line):
                    raise AssertionError(f"lumo-cli: unexpected line {line!r}")

    def kill(self):
        if self.process.poll() is None:
            self.process.send_signal(signal.SIGKILL)
            self.process.wait()

    def finish(self, timeout=20):
        """Ends the input and waits for lumo-cli to close; kills it by its id when it does not."""
        try:
            self.process.stdin.close()
        except OSError:
            pass
        try:
            return self.process.wait(timeout)
        except subprocess.TimeoutExpired:
            self.process.send_signal(signal.SIGKILL)
            self.process.wait()
            raise AssertionError("lumo-cli did not end after its input and its connection had ended")


def session(bin_dir, work, port, encoding, full):
    """One client session in one encoding. The peer takes the nick "lumo" first, so the script has
    to fall back to "lumo_"."""
    peer = Peer(port, "lumo", encoding)
    lumo = None
    try:
        peer.join("#lumo")
        lumo = Lumo(bin_dir, os.path.join(work, encoding), {
            "server": "127.0.0.1", "port": port, "nick": "lumo", "channels": "#lumo, #second",
            "encoding": encoding, "logging": 1})
        lumo.expect(r"lumo_ で再試行します")
        lumo.expect(rf"^\[#lumo\] {TIME} #lumo に参加しました")
        lumo.expect(rf"^\[#lumo\] {TIME} 参加者 2 人: (@?lumo lumo_|lumo_ @?lumo)$")
        lumo.expect(rf"^\[#second\] {TIME} #second に参加しました")
        peer.expect(r"^:lumo_!\S+ JOIN :?#lumo$")
        # Joining makes the channel's view current: the second channel is current now.
        lumo.type("/join #lumo")
        peer.nick("bob")
        lumo.expect(rf"^\[#lumo\] {TIME} lumo は bob に名前を変えました$")

        # Both ways, in ASCII and in Japanese, shown in the channel's view.
        japanese = "こんにちは、世界。漢字とカタカナ"
        peer.say("#lumo", "hello from bob")
        lumo.expect(rf"^\[#lumo\] {TIME} <bob> hello from bob$")
        peer.say("#lumo", japanese)
        lumo.expect(rf"^\[#lumo\] {TIME} <bob> {japanese}$")
        lumo.type("hi everyone")
        peer.expect(r"^:lumo_!\S+ PRIVMSG #lumo :hi everyone$")
        lumo.expect(rf"^\[#lumo\] {TIME} <lumo_> hi everyone$")
        lumo.type("日本語で話します")
        peer.expect(r"^:lumo_!\S+ PRIVMSG #lumo :日本語で話します$")
        if not full:
            lumo.type("/quit")
            peer.expect(r"^:lumo_!\S+ QUIT ")
            lumo.expect(r"^### 切断しました$")
            lumo.finish()
            return lumo
        # A link in a message keeps its text (--plain shows it without its marks).
        peer.say("#lumo", "see http://example.com/a?b=1 now")
        lumo.expect(rf"^\[#lumo\] {TIME} <bob> see http://example.com/a\?b=1 now$")

        # A private message opens a view named by the sender.
        peer.say("lumo_", "a secret, 秘密")
        lumo.expect(rf"^\[bob\] {TIME} bob との会話$")
        lumo.expect(rf"^\[bob\] {TIME} <bob> a secret, 秘密$")
        lumo.type("/msg bob 了解")
        peer.expect(r"^:lumo_!\S+ PRIVMSG bob :了解$")
        lumo.expect(rf"^\[bob\] {TIME} <lumo_> 了解$")

        # /me both ways, and a CTCP VERSION answered.
        lumo.type("/me waves")
        peer.expect(r"^:lumo_!\S+ PRIVMSG #lumo :\x01ACTION waves\x01$")
        lumo.expect(rf"^\[#lumo\] {TIME} \* lumo_ waves$")
        peer.action("#lumo", "踊る")
        lumo.expect(rf"^\[#lumo\] {TIME} \* bob 踊る$")
        peer.say("lumo_", "\x01VERSION\x01")
        peer.expect(r"^:lumo_!\S+ NOTICE bob :\x01VERSION lumo")

        # Topic with its numerics, and an error in red (shown as text here).
        lumo.type("/topic 今日の話題")
        lumo.expect(rf"^\[#lumo\] {TIME} lumo_ がトピックを変更しました: 今日の話題$")
        peer.expect(r"^:lumo_!\S+ TOPIC #lumo :今日の話題$")
        lumo.type("/raw FROBNICATE")
        lumo.expect(rf"{TIME} ### .*FROBNICATE")

        # /part, and the channel again.
        lumo.type("/part bye now")
        peer.expect(r"^:lumo_!\S+ PART #lumo :bye now$")
        lumo.expect(rf"^{TIME} #lumo から退出しました \(bye now\)$")
        lumo.type("/join #lumo")
        peer.expect(r"^:lumo_!\S+ JOIN :?#lumo$")
        lumo.expect(rf"^\[#lumo\] {TIME} #lumo に参加しました")

        # /quit: the peer sees it, the connection ends, and lumo-cli ends with its input.
        lumo.type("/quit またね")
        peer.expect(r"^:lumo_!\S+ QUIT :.*またね")
        lumo.expect(r"^### 切断しました$")
        lumo.finish()
        return lumo
    finally:
        if lumo is not None:
            lumo.kill()
        peer.close()


def check_logs(work, encoding):
    """With logging = 1 the channel's lines are in logs/, in CP932, without formatting codes."""
    logs = glob.glob(os.path.join(work, encoding, "logs", "#lumo_*.log"))
    if len(logs) != 1:
        raise AssertionError(f"{encoding}: expected one log of #lumo, found {logs}")
    with open(logs[0], "rb") as f:
        text = f.read().decode("cp932")
    if not re.search(r"(?m)^\d\d:\d\d:\d\d <bob> こんにちは、世界。漢字とカタカナ\r$", text):
        raise AssertionError(f"{encoding}: the log of #lumo lacks the Japanese line:\n{text}")
    if re.search(r"[\x02\x03\x16\x1f\xff]", text):
        raise AssertionError(f"{encoding}: the log keeps formatting codes")


def main(argv):
    parser = argparse.ArgumentParser()
    parser.add_argument("--bin", required=True)
    parser.add_argument("--work", required=True)
    options = parser.parse_args(argv[1:])
    bin_dir = os.path.abspath(options.bin)
    work = os.path.abspath(options.work)
    shutil.rmtree(work, ignore_errors=True)
    server = ngircd.start(os.path.join(work, "server"))
    try:
        sessions = [("jis", True), ("sjis", False), ("euc", False)]
        if os.path.exists(os.path.join(bin_dir, "utf8.so")):
            sessions.append(("utf8", True))
        else:
            print("note: no utf8 extension in", bin_dir, "- the utf8 session is left out")
        for encoding, full in sessions:
            print(f"session {encoding}", flush=True)
            session(bin_dir, work, server.port, encoding, full)
            check_logs(work, encoding)
    finally:
        server.stop()
    print("ok")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
