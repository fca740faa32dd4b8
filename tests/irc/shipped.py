#!/usr/bin/env python3
"""A copy of the shipped chat script with its settings changed, for the tests.

As a module:
    shipped.prepare(source_dir, folder, {"port": 6667, "encoding": "jis"})
copies every *.lum of source_dir (the folder beside lumo.exe or lumo-cli, or irc/) into folder and
rewrites the settings lines of main.lum ("name = value;  // comment"), keeping the comments; numbers
stay numbers, everything else becomes a string literal. The file stays CP932.

From a shell:
    python3 shipped.py SOURCE_DIR FOLDER name=value...      e.g. port=6667 encoding=utf8 logging=1
"""
import glob
import os
import re
import shutil
import sys

SETTINGS = ("server", "port", "nick", "username", "realname", "channels", "encoding", "logging")


def write_settings(path, settings):
    with open(path, "rb") as f:
        text = f.read().decode("cp932")
    for name, value in settings.items():
        if name not in SETTINGS:
            raise ValueError(f"{name} is no setting of main.lum")
        literal = str(value) if isinstance(value, int) else '"' + value + '"'
        text, count = re.subn(rf"(?m)^{name} = [^;]*;", lambda _: f"{name} = {literal};", text, count=1)
        if count != 1:
            raise ValueError(f"main.lum has no settings line for {name}")
    with open(path, "wb") as f:
        f.write(text.encode("cp932"))


def prepare(source_dir, folder, settings):
    os.makedirs(folder, exist_ok=True)
    scripts = glob.glob(os.path.join(source_dir, "*.lum"))
    if not any(os.path.basename(s) == "main.lum" for s in scripts):
        raise FileNotFoundError(f"no main.lum in {source_dir}")
    for script in scripts:
        shutil.copy(script, folder)
    write_settings(os.path.join(folder, "main.lum"), settings)


def main(argv):
    if len(argv) < 3:
        print("usage: shipped.py SOURCE_DIR FOLDER name=value...", file=sys.stderr)
        return 2
    settings = {}
    for item in argv[3:]:
        name, _, value = item.partition("=")
        settings[name] = int(value) if name in ("port", "logging") else value
    try:
        prepare(argv[1], argv[2], settings)
    except (OSError, ValueError) as error:
        print(f"shipped: {error}", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
