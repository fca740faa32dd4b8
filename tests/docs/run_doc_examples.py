#!/usr/bin/env python3
"""Runs the examples of one reference page and compares their output.

A page's examples are fenced blocks with the info string "lum"; each must be followed (blank lines
allowed between) by a fenced block with the info string "output" holding exactly what

    lumo-cli --plain main.lum

prints for it on standard output, run with standard input empty and the working directory a fresh,
empty folder. The script itself lives in a folder of its own, so the working folder holds only what
the example makes. The pages are UTF-8; the example is written to disk in CP932, the program's code
page, and what it prints is read back from CP932 before comparing.

Blocks with any other info string ("text", "lum-fragment", ...) are not run. Fences are lines that
begin, in their first column, with three or more backticks or tildes.

Relative links of the page must lead to files that exist, and a link's "#anchor" to a heading of
that file (as the heading's GitHub anchor) or to an <a id="..."> in it. With --builtins, the page
must also link every built-in function named in that source file (each "_sfunc_NAME") to a heading
NAME of the page that describes it: this is how the index is held complete.

    run_doc_examples.py --cli PATH/lumo-cli PAGE.md [--timeout SECONDS] [--builtins TABLE.cpp]

Exit status 0 when every example printed its output, 1 otherwise (each failure is described on
standard output), 2 on bad use.
"""

import argparse
import os
import re
import subprocess
import sys
import tempfile

CODE_PAGE = "cp932"
FENCE = re.compile(r"^(`{3,}|~{3,})\s*([^`\s]*)")


class Block:
    def __init__(self, info, line, text):
        self.info = info
        self.line = line  # 1-based line of the opening fence
        self.text = text


def read_blocks(markdown):
    """The fenced blocks of a page, in order; raises ValueError on an unclosed fence."""
    blocks = []
    lines = markdown.splitlines(keepends=True)
    i = 0
    while i < len(lines):
        opening = FENCE.match(lines[i])
        if not opening:
            i += 1
            continue
        fence = opening.group(1)
        start = i
        body = []
        i += 1
        while i < len(lines):
            closing = lines[i].rstrip("\r\n")
            if closing.startswith(fence[0] * len(fence)) and closing.strip(fence[0]).strip() == "":
                break
            body.append(lines[i])
            i += 1
        if i == len(lines):
            raise ValueError(f"line {start + 1}: fenced block is not closed")
        blocks.append(Block(opening.group(2), start + 1, "".join(body)))
        i += 1
    return blocks


def pair_examples(markdown, blocks):
    """Pairs each "lum" block with the "output" block after it. Returns (pairs, problems)."""
    lines = markdown.splitlines()
    pairs = []
    problems = []
    used_outputs = set()
    for index, block in enumerate(blocks):
        if block.info != "lum":
            continue
        following = blocks[index + 1] if index + 1 < len(blocks) else None
        if following is not None and following.info == "output":
            # Only blank lines may stand between the end of the example and its output.
            end_of_example = block.line + block.text.count("\n")  # 0-based index of closing fence
            between = lines[end_of_example + 1 : following.line - 1]
            if all(not text.strip() for text in between):
                pairs.append((block, following))
                used_outputs.add(index + 1)
                continue
        problems.append(f"line {block.line}: a lum example without an output block after it")
    for index, block in enumerate(blocks):
        if block.info == "output" and index not in used_outputs:
            problems.append(f"line {block.line}: an output block that follows no lum example")
    return pairs, problems


LINK = re.compile(r"\[([^\]]*)\]\(([^)\s]+)\)")
HEADING = re.compile(r"^#{1,6}\s+(.*?)\s*#*\s*$")
ANCHOR = re.compile(r"<a\s+id=\"([^\"]+)\"")


def prose_lines(markdown):
    """The lines of a page outside fenced blocks, with their 1-based numbers."""
    inside = None
    for number, line in enumerate(markdown.splitlines(), start=1):
        fence = FENCE.match(line)
        if inside is None and fence:
            inside = fence.group(1)
            continue
        if inside is not None:
            if line.startswith(inside[0] * len(inside)) and line.strip().strip(inside[0]) == "":
                inside = None
            continue
        yield number, line


def anchors_of(markdown):
    """The anchors a page offers: GitHub's anchors of its headings, and <a id> targets."""
    found = set()
    for _, line in prose_lines(markdown):
        heading = HEADING.match(line)
        if heading:
            text = heading.group(1).replace("`", "").strip().lower()
            text = "".join(c for c in text if c.isalnum() or c in " -_")
            found.add(text.replace(" ", "-"))
        found.update(ANCHOR.findall(line))
    return found


def check_links(page, markdown):
    """Problems with the page's relative links: missing files and missing anchors."""
    problems = []
    cache = {}
    folder = os.path.dirname(os.path.abspath(page))
    for number, line in prose_lines(markdown):
        for _, target in LINK.findall(re.sub(r"`[^`]*`", "", line)):
            if re.match(r"^[a-z]+:", target):
                continue
            path, _, anchor = target.partition("#")
            full = os.path.normpath(os.path.join(folder, path)) if path else os.path.abspath(page)
            if not os.path.exists(full):
                problems.append(f"line {number}: the link {target} leads to no file")
                continue
            if not anchor or not full.endswith(".md"):
                continue
            if full not in cache:
                with open(full, encoding="utf-8") as file:
                    cache[full] = anchors_of(file.read())
            if anchor not in cache[full]:
                problems.append(f"line {number}: the link {target} leads to no heading")
    return problems


def check_builtins(page, markdown, table):
    """Problems when the page does not link every built-in of the table to its heading."""
    with open(table, encoding="utf-8") as file:
        names = re.findall(r'"_sfunc_([a-z0-9_]+)"', file.read())
    linked = set()
    for _, line in prose_lines(markdown):
        for text, target in LINK.findall(line):
            name = text.strip("`")
            if target.endswith("#" + name):
                linked.add(name)
    missing = [name for name in names if name not in linked]
    if not missing:
        return []
    return [f"no link to the built-in {name}" for name in missing]


def run_example(cli, example, timeout):
    """Runs one example; returns (printed text, failure or None, standard error text)."""
    try:
        script = example.text.encode(CODE_PAGE)
    except UnicodeEncodeError as error:
        return "", f"the example cannot be written in {CODE_PAGE}: {error}", ""
    with tempfile.TemporaryDirectory(prefix="lumo-doc-") as root:
        script_folder = os.path.join(root, "script")
        work_folder = os.path.join(root, "work")
        os.mkdir(script_folder)
        os.mkdir(work_folder)
        script_path = os.path.join(script_folder, "main.lum")
        with open(script_path, "wb") as file:
            file.write(script)
        try:
            # The extensions built beside lumo-cli (utf8.so) are found by the library search.
            environment = dict(os.environ)
            cli_folder = os.path.dirname(os.path.abspath(cli))
            environment["LD_LIBRARY_PATH"] = os.pathsep.join(
                filter(None, [cli_folder, environment.get("LD_LIBRARY_PATH")]))
            finished = subprocess.run(
                [cli, "--plain", script_path],
                cwd=work_folder,
                env=environment,
                stdin=subprocess.DEVNULL,
                stdout=subprocess.PIPE,
                stderr=subprocess.PIPE,
                timeout=timeout,
            )
        except subprocess.TimeoutExpired as expired:
            printed = (expired.stdout or b"").decode(CODE_PAGE, errors="replace")
            errors = (expired.stderr or b"").decode(CODE_PAGE, errors="replace")
            return printed, f"did not end within {timeout} seconds", errors
    printed = finished.stdout.decode(CODE_PAGE, errors="replace")
    # Standard error is no part of the comparison (messagebox writes there), but it explains failures.
    errors = finished.stderr.decode(CODE_PAGE, errors="replace")
    failure = None if finished.returncode == 0 else f"exit status {finished.returncode}"
    return printed, failure, errors


def indent(text):
    if text == "":
        return "    (nothing)\n"
    shown = "".join("    " + line + "\n" for line in text.split("\n"))
    # A text that ends in a line break shows no extra empty line; one that does not is marked.
    if text.endswith("\n"):
        return shown[: -len("    \n")]
    return shown + "    (no line break at the end)\n"


def main():
    parser = argparse.ArgumentParser(description="Runs the examples of a reference page.")
    parser.add_argument("--cli", required=True, help="path of lumo-cli")
    parser.add_argument("--timeout", type=float, default=60, help="seconds per example")
    parser.add_argument("--builtins", help="source file that names every built-in (_sfunc_NAME)")
    parser.add_argument("page", help="the Markdown page")
    options = parser.parse_args()
    # The examples run in folders of their own: a relative path would no longer lead to the program.
    options.cli = os.path.abspath(options.cli)
    if not os.access(options.cli, os.X_OK):
        print(f"{options.cli}: not an executable program")
        return 2

    with open(options.page, encoding="utf-8") as file:
        markdown = file.read()
    try:
        blocks = read_blocks(markdown)
    except ValueError as error:
        print(f"{options.page}: {error}")
        return 1
    pairs, problems = pair_examples(markdown, blocks)
    problems += check_links(options.page, markdown)
    if options.builtins:
        problems += check_builtins(options.page, markdown, options.builtins)
    for problem in problems:
        print(f"{options.page}: {problem}")

    failures = len(problems)
    for example, expected in pairs:
        actual, failure, errors = run_example(options.cli, example, options.timeout)
        if failure is None and actual == expected.text:
            continue
        failures += 1
        print(f"{options.page}: line {example.line}: " + (failure or "the output differs"))
        print("  example:")
        print(indent(example.text), end="")
        print("  expected:")
        print(indent(expected.text), end="")
        print("  actual:")
        print(indent(actual), end="")
        if errors:
            print("  standard error:")
            print(indent(errors), end="")

    print(f"{options.page}: {len(pairs)} examples, {failures} problems")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
