#!/usr/bin/env python3
"""The shipped chat script through lumo-cli --connect against a private ngircd, with a peer client.

    client_test.py --bin BIN_DIR --work WORK_DIR

BIN_DIR holds lumo-cli, the shipped main.lum with its modules and (when built) the utf8 extension.
Each session copies the scripts into a folder of its own and rewrites the settings lines of
main.lum (port, nick, channels, encoding, logging) with shipped.py; nothing else of the script
changes.
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
import shipped  # noqa: E402
from peer import Peer  # noqa: E402

TIME = r"\d\d:\d\d"


class Lumo:
    """lumo-cli --plain --utf8 --connect on a copy of the shipped scripts."""

    def __init__(self, bin_dir, folder, settings, library_dir=None, timeout=15):
        shipped.prepare(bin_dir, folder, settings)
        # The loader finds utf8.so on the library path (the copy of the scripts has none beside it).
        environment = dict(os.environ, LD_LIBRARY_PATH=library_dir or bin_dir)
        self.errors_allowed = r"$^"
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

    def save(self, path):
        with self.changed, open(path, "w", encoding="utf-8") as f:
            f.write("\n".join(self.lines + [self.partial or ""]))

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
            status = self.process.wait(timeout)
        except subprocess.TimeoutExpired:
            self.process.send_signal(signal.SIGKILL)
            self.process.wait()
            raise AssertionError("lumo-cli did not end after its input and its connection had ended")
        if status != 0:
            raise AssertionError(f"lumo-cli ended with status {status}")
        self.reader.join(5)
        # No script error but the ones a test allows.
        with self.changed:
            for line in self.lines:
                if "### Error" in line and not re.search(self.errors_allowed, line):
                    raise AssertionError(f"lumo-cli: unexpected line {line!r}")


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
        # Without the extension only its load error may show.
        lumo.errors_allowed = r"Library load error : main : utf8\.dll$"
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
        if encoding == "jis":
            # Half-width kana between ASCII letters grow ninefold in JIS (escapes each time): a
            # full input line goes out in pieces within the protocol limit, nothing lost.
            lumo.type("ｱa" * 127)
            received = ""
            while len(received) < 254:
                received += peer.expect(r"^:lumo_!\S+ PRIVMSG #lumo :(.*)$").group(1)
            if received != "アa" * 127:
                raise AssertionError(f"the long line arrived as {received!r}")
            pieces = [line for line in peer.lines if " PRIVMSG #lumo :アa" in line]
            if len(pieces) < 3:
                raise AssertionError(f"the long line came in {len(pieces)} pieces")
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
            # What lumo-cli showed stays in the work folder for a look after a failure.
            lumo.save(os.path.join(work, encoding, "output.txt"))
        peer.close()


def without_extension(bin_dir, work, port):
    """"utf8" without the extension: the user is told, and the text is shown and sent with "?" in
    place of what cannot be converted; nothing is lost, nothing fails."""
    folder = os.path.join(work, "utf8-missing")
    peer = Peer(port, "bob", "utf8")
    lumo = None
    try:
        peer.join("#lumo")
        lumo = Lumo(bin_dir, folder, {"port": port, "nick": "lumo", "channels": "#lumo",
                                      "encoding": "utf8", "logging": 0}, library_dir=folder)
        # The load error, the failed probe (with its trace) and the script's own message.
        lumo.errors_allowed = r"Library load error|Function not Found : irccode\.try_utf8 : utf8tosjis"
        lumo.expect(r"^### UTF-8 拡張 \(utf8\.dll\) が読み込めません")
        lumo.expect(rf"^\[#lumo\] {TIME} #lumo に参加しました")
        peer.expect(r"^:lumo!\S+ JOIN :?#lumo$")
        peer.say("#lumo", "abc こんにちは xyz")
        lumo.expect(rf"^\[#lumo\] {TIME} <bob> abc \?\?\?\?\? xyz$")
        lumo.type("ok 日本 ok")
        peer.expect(r"^:lumo!\S+ PRIVMSG #lumo :ok \?\? ok$")
        lumo.type("/quit")
        lumo.expect(r"^### 切断しました$")
        lumo.finish()
    finally:
        if lumo is not None:
            lumo.kill()
            lumo.save(os.path.join(folder, "output.txt"))
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
        print("session utf8 without the extension", flush=True)
        without_extension(bin_dir, work, server.port)
    finally:
        server.stop()
    print("ok")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
