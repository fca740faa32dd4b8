#!/usr/bin/env python3
"""One session of lumo.exe with the chat script against the case's chat server, seen from a second
client (the peer) on the same server.

    session.py ENCODING PART

lumo.exe is up and not yet connected; its script is set to nick "lumo", channel #lumo and ENCODING.
Another client already holds the nick "lumo", so lumo has to register under another one. PART "talk"
exchanges messages, opens a private conversation, sends /me and leaves with /part; PART "quit"
exchanges messages and leaves with /quit. The environment names the driver, the desktop, the work
folder and the artefact folder (steps.sh sets it).
"""
import glob
import os
import re
import subprocess
import sys
import time

sys.path.insert(0, os.environ["E2E_IRC_TESTS"])
from peer import Peer  # noqa: E402

WINE = os.environ["E2E_WINE"]
DRIVE = os.environ["E2E_DRIVE"]
DESKTOP = os.environ["E2E_DESKTOP"]
WORK = os.environ["E2E_WORK"]
ARTEFACTS = os.environ["E2E_ARTEFACTS"]
CASE = os.environ["E2E_CASE"]
PORT = int(os.environ["IRC_PORT"])

CONNECTED = "接続しました"
DISCONNECTED = "切断しました"


def escaped(text):
    """Text as the driver takes it: CP932 bytes, with \\xNN for everything but printable ASCII."""
    out = []
    for byte in text.encode("cp932"):
        out.append(chr(byte) if 0x20 <= byte < 0x7F and byte != 0x5C else "\\x%02x" % byte)
    return "".join(out)


def drive(*steps):
    print("drive", *steps, flush=True)
    result = subprocess.run([WINE, DRIVE, "desktop", DESKTOP, *steps])
    if result.returncode != 0:
        raise SystemExit(f"session: the driver failed at: {' '.join(steps)}")


def typed(text):
    """A line typed into the input line and sent with the Send button."""
    drive("input", escaped(text), "click")


def shot(name):
    time.sleep(0.5)
    subprocess.run(["import", "-display", os.environ["DISPLAY"], "-window", "root",
                    os.path.join(ARTEFACTS, f"{CASE}-{name}.png")], check=True)


def check_logs(name, *texts):
    """lumo's log of a view (logs/NAME_DATE.log, CP932) holds every text."""
    files = glob.glob(os.path.join(WORK, "logs", f"{name}_*.log"))
    if len(files) != 1:
        have = os.listdir(os.path.join(WORK, "logs"))
        raise SystemExit(f"session: want one log file for {name}, have {have}")
    deadline = time.monotonic() + 10
    while True:
        with open(files[0], "rb") as f:
            log = f.read().decode("cp932", errors="replace")
        missing = [text for text in texts if text not in log]
        if not missing:
            return
        if time.monotonic() > deadline:
            raise SystemExit(f"session: the log of {name} lacks {missing}:\n{log}")
        time.sleep(0.2)


def main(encoding, part):
    peer = Peer(PORT, "peer", encoding=encoding)
    peer.join("#lumo")
    squatter = Peer(PORT, "lumo", encoding=encoding)

    # Connect: the nick is taken, lumo registers under the configured nick with a suffix, joins
    # #lumo and shows it: the server entry and #lumo in the selector, #lumo current.
    drive("resize", "620", "460", "command", "40001", "expect-view", "server", escaped(CONNECTED))
    joined = peer.expect(r"^:(lumo\S*)!\S+ JOIN :?#lumo\b")
    me = joined.group(1)
    if me == "lumo":
        raise SystemExit(f"session: lumo registered as {me!r}, want the configured nick with a suffix")
    drive("expect-selector", "2", "1", "expect-views", "2", "1")

    # Messages of the peer, in ASCII and in Japanese, in the view of #lumo.
    ascii_in = f"hello from peer in {encoding}"
    japanese_in = f"こんにちは、{encoding}の世界です。漢字とカナ"
    peer.say("#lumo", ascii_in)
    peer.say("#lumo", japanese_in)
    drive("expect-view", "1", escaped(ascii_in), "expect-view", "1", escaped(japanese_in),
          "expect-view", "current", escaped(japanese_in))
    if encoding == "utf8":
        # A line that is not valid UTF-8 is still shown, not dropped, and the next line is whole.
        peer.sock.sendall(b"PRIVMSG #lumo :broken \xff\xfe\xc3 utf-8 \xe6\x97\xa5 line\r\n")
        peer.say("#lumo", "after the broken line 後")
        drive("expect-view", "1", "broken ", "expect-view", "1", " utf-8 ", "expect-view", "1",
              escaped("after the broken line 後"))

    # Lines typed into lumo reach the peer in the same encoding, and are shown in #lumo.
    ascii_out = f"hello from lumo in {encoding}"
    japanese_out = f"日本語で返事をします（{encoding}）"
    typed(ascii_out)
    peer.expect(rf"^:{re.escape(me)}!\S+ PRIVMSG #lumo :{re.escape(ascii_out)}$")
    typed(japanese_out)
    peer.expect(rf"^:{re.escape(me)}!\S+ PRIVMSG #lumo :{re.escape(japanese_out)}$")
    drive("expect-view", "1", escaped(japanese_out))
    shot(f"{encoding}-channel")

    if part == "talk":
        # /me goes out as a CTCP ACTION.
        typed("/me waves 手を振る")
        peer.expect(rf"^:{re.escape(me)}!\S+ PRIVMSG #lumo :\x01ACTION waves 手を振る\x01$")
        drive("expect-view", "1", escaped("waves 手を振る"))

        # A private message opens a view of its own; #lumo stays as it was.
        secret = "ないしょの話 private"
        peer.say(me, secret)
        drive("expect-entries", "3", "expect-views", "3", "1", "expect-view", "2", escaped(secret),
              "expect-absent", "1", escaped(secret))
        # The answer goes back to the peer from that view.
        drive("pick", "2", "expect-selector", "3", "2")
        typed("お返事 reply")
        peer.expect(rf"^:{re.escape(me)}!\S+ PRIVMSG peer :お返事 reply$")
        shot(f"{encoding}-private")
        check_logs("#lumo", ascii_in, japanese_in, ascii_out, japanese_out)
        check_logs("peer", secret, "お返事 reply")

        # /part from #lumo: the peer sees lumo leave, and the view of #lumo goes.
        drive("pick", "1", "expect-selector", "3", "1")
        typed("/part")
        peer.expect(rf"^:{re.escape(me)}!\S+ PART #lumo\b")
        drive("expect-entries", "2", "expect-views", "2", "1")
        shot(f"{encoding}-parted")
    else:
        # /quit with a message: the peer sees it, the server closes, lumo says so.
        typed("/quit またね bye")
        peer.expect(rf"^:{re.escape(me)}!\S+ QUIT :.*またね bye")
        drive("expect-view", "server", escaped(DISCONNECTED), "pick", "0")
        shot(f"{encoding}-quit")

    squatter.quit()
    peer.quit()
    peer.close()
    squatter.close()


if __name__ == "__main__":
    main(sys.argv[1], sys.argv[2])
