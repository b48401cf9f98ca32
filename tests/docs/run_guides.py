#!/usr/bin/env python3
"""Runs the commands of the guides as a reader would, so that a guide that
falls behind a program fails.

A fenced block whose info string is `sh run` is runnable; `sh run exit=N`
expects status N of its last command. A `text output` block right after a
runnable one shows what it prints: each of its lines must appear in the
block's output, in that order, `...` standing for any text. Every other
block is left alone.

The runnable blocks of a file run in order in a scratch folder of their own,
with the build's programs first on PATH, HOME and the XDG folders inside the
scratch folder (so the history and settings start empty), and the demo
board's installed path leading to the tree's example/demo/. State carries
over between the blocks of a file: exported variables and the working
folder. Before the guides the demo signature is made again from its sources
and compared with the one in the tree."""
import argparse
import json
import math
import os
import re
import shlex
import signal
import subprocess
import sys
import tempfile

FENCE = re.compile(r"^(```|~~~)\s*(.*)$")
INSTALLED_DEMO = "/usr/share/zem-tools/demo"
BLOCK_TIMEOUT = 180


def blocks(path):
    """Yields (line, info words, text) for each fenced block of a Markdown file."""
    with open(path, encoding="utf-8") as f:
        lines = f.read().split("\n")
    i = 0
    while i < len(lines):
        m = FENCE.match(lines[i].strip())
        if not m:
            i += 1
            continue
        fence, info, start = m.group(1), m.group(2).split(), i + 1
        i += 1
        body = []
        while i < len(lines) and not lines[i].strip().startswith(fence):
            body.append(lines[i])
            i += 1
        i += 1
        yield start, info, "\n".join(body) + "\n"


def runnable(path):
    """The runnable blocks of a file: (line, text, expected status, expected output lines)."""
    found = []
    for line, info, text in blocks(path):
        if info[:2] == ["sh", "run"]:
            status = 0
            for word in info[2:]:
                if word.startswith("exit="):
                    status = int(word[5:])
                else:
                    raise SystemExit(f"{path}:{line}: unknown word '{word}' after 'sh run'")
            found.append([line, text, status, None])
        elif info[:2] == ["text", "output"]:
            if not found or found[-1][3] is not None:
                raise SystemExit(f"{path}:{line}: an output block must follow a runnable one")
            found[-1][3] = [l for l in text.split("\n") if l.strip()]
    return found


def matches(expected, output):
    """Whether the expected lines appear in the output's lines, in order."""
    lines = output.split("\n")
    at = 0
    for want in expected:
        pattern = re.compile(".*".join(re.escape(p) for p in want.strip().split("...")))
        while at < len(lines) and not pattern.search(lines[at]):
            at += 1
        if at == len(lines):
            return want
        at += 1
    return None


def environment(build, scratch):
    env = {k: v for k, v in os.environ.items() if not k.startswith("ZEM_")}
    programs = ["cli", "gantry", "example", "app", "zembench"]
    env["PATH"] = os.pathsep.join([os.path.join(build, p) for p in programs] + [env.get("PATH", "")])
    env["PYTHONPATH"] = os.path.join(build, "python")
    env["HOME"] = os.path.join(scratch, "home")
    env["XDG_DATA_HOME"] = os.path.join(scratch, "home", ".local", "share")
    env["XDG_CONFIG_HOME"] = os.path.join(scratch, "home", ".config")
    env["QT_QPA_PLATFORM"] = "offscreen"
    env["LC_ALL"] = "C.UTF-8"
    os.makedirs(env["XDG_DATA_HOME"], exist_ok=True)
    return env


def run_file(path, build, source, scratch):
    """Runs one guide's blocks; returns the failures as text."""
    name = os.path.relpath(path, source)
    folder = os.path.join(scratch, re.sub(r"[^A-Za-z0-9]+", "_", name))
    os.makedirs(folder)
    env = environment(build, folder)
    state, cwd = os.path.join(folder, ".state"), os.path.join(folder, ".cwd")
    with open(state, "w"):
        pass
    with open(cwd, "w") as f:
        f.write(folder)
    demo = os.path.join(source, "example", "demo")
    groups, failures = [], []
    try:
        for n, (line, text, status, expected) in enumerate(runnable(path)):
            block = os.path.join(folder, f".block{n}.sh")
            with open(block, "w") as f:
                f.write(text.replace(INSTALLED_DEMO, demo))
            # Each block in a shell of its own that starts from the state the
            # last one left; one whose status is expected to be non-zero runs
            # to its end, the others stop at the first failing command.
            strict = "set -e -o pipefail; " if status == 0 else "set -o pipefail; "
            script = (f". {shlex.quote(state)}; cd \"$(cat {shlex.quote(cwd)})\"; set -a; {strict}"
                      f". {shlex.quote(block)}; rc=$?; set +e; "
                      f"export -p | grep -v '^declare -[a-zA-Z]*r' > {shlex.quote(state)}; "
                      f"pwd > {shlex.quote(cwd)}; exit $rc")
            out_path = os.path.join(folder, f".block{n}.out")
            with open(out_path, "w") as out:
                p = subprocess.Popen(["bash", "-c", script], cwd=folder, env=env, stdout=out,
                                     stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL,
                                     start_new_session=True)
                groups.append(p.pid)
                try:
                    rc = p.wait(timeout=BLOCK_TIMEOUT)
                except subprocess.TimeoutExpired:
                    rc = None
            with open(out_path, encoding="utf-8", errors="replace") as f:
                output = f.read()
            where = f"{name}:{line}"
            if rc is None:
                failures.append(f"{where}: still running after {BLOCK_TIMEOUT} s\n{output}")
                break
            if rc != status:
                failures.append(f"{where}: exit status {rc}, the guide expects {status}\n{text}{output}")
                break
            missing = matches(expected, output) if expected else None
            if missing is not None:
                failures.append(f"{where}: output lacks '{missing}'\n{text}{output}")
                break
    finally:
        # Whatever a guide left running (the virtual gantry) ends with it.
        for g in groups:
            try:
                os.killpg(g, signal.SIGTERM)
            except ProcessLookupError:
                pass
    return failures


def close(a, b, path="$"):
    """Where two JSON values differ beyond rounding, or None."""
    if isinstance(a, float) or isinstance(b, float):
        if isinstance(a, (int, float)) and isinstance(b, (int, float)) \
                and math.isclose(a, b, rel_tol=1e-6, abs_tol=1e-6):
            return None
        return path
    if isinstance(a, dict) and isinstance(b, dict):
        if a.keys() != b.keys():
            return f"{path}: keys {sorted(a.keys() ^ b.keys())}"
        return next((d for k in a if (d := close(a[k], b[k], f"{path}.{k}"))), None)
    if isinstance(a, list) and isinstance(b, list):
        if len(a) != len(b):
            return f"{path}: {len(a)} against {len(b)} items"
        return next((d for i, (x, y) in enumerate(zip(a, b)) if (d := close(x, y, f"{path}[{i}]"))), None)
    return None if a == b else path


def check_demo(build, source, scratch):
    """Makes the demo signature again and compares it with the tree's."""
    folder = os.path.join(scratch, "demo")
    os.makedirs(folder)
    env = environment(build, folder)
    made = os.path.join(folder, "demo.json")
    script = os.path.join(source, "example", "demo", "make-signature.sh")
    p = subprocess.run(["bash", script, made], env=env, cwd=folder, stdin=subprocess.DEVNULL,
                       stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True,
                       timeout=BLOCK_TIMEOUT)
    if p.returncode != 0:
        return [f"make-signature.sh: exit status {p.returncode}\n{p.stdout}"]
    with open(made) as f, open(os.path.join(source, "example", "demo", "demo.json")) as g:
        differs = close(json.load(f), json.load(g))
    if differs:
        return [f"example/demo/demo.json differs from what make-signature.sh makes now, at {differs}:"
                f" run it again (bash example/demo/make-signature.sh) and commit the file"]
    return []


def slug(heading):
    """A heading's anchor, as the Markdown renderers make it."""
    return re.sub(r"[^\w\- ]", "", heading.strip().lower()).replace(" ", "-")


def anchors(path):
    found, fenced = set(), False
    for line in open(path, encoding="utf-8").read().split("\n"):
        if FENCE.match(line.strip()):
            fenced = not fenced
        elif not fenced and (m := re.match(r"^#{1,6} (.*)$", line)):
            found.add(slug(m.group(1)))
    return found


def check_links(paths):
    """Links between the guides that lead nowhere: a file or a heading gone."""
    failures = []
    for path in paths:
        text = open(path, encoding="utf-8").read()
        for target in re.findall(r"\]\(([^)\s]+)\)", text):
            if re.match(r"^[a-z]+:", target):
                continue
            file, _, anchor = target.partition("#")
            dest = os.path.normpath(os.path.join(os.path.dirname(path), file)) if file else path
            if not os.path.exists(dest):
                failures.append(f"{path}: link to {target}: no such file")
            elif anchor and dest.endswith(".md") and anchor not in anchors(dest):
                failures.append(f"{path}: link to {target}: no such heading")
    return failures


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", required=True)
    parser.add_argument("--source", required=True)
    parser.add_argument("guides", nargs="+")
    args = parser.parse_args()
    build, source = os.path.abspath(args.build), os.path.abspath(args.source)
    with tempfile.TemporaryDirectory(prefix="zem-guides-") as scratch:
        failures = check_links([os.path.join(source, g) for g in args.guides])
        failures += check_demo(build, source, scratch)
        count = 0
        for guide in args.guides:
            path = os.path.join(source, guide)
            count += len(runnable(path))
            failures += run_file(path, build, source, scratch)
    for f in failures:
        print(f"FAIL {f}\n")
    print(f"{count} runnable blocks in {len(args.guides)} files, {len(failures)} failed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
