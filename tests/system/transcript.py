#!/usr/bin/env python3
"""The shell transcript: commands of the shell with the output each must print, in one setting
("unit": bspunit on the emulated board; "sim": bspsim on the simulated devices).

  transcript.py scripts TRANSCRIPT DIR           writes DIR/shell-N.bsp, one per shell start
  transcript.py check SETTING TRANSCRIPT OUTPUT  compares the output of those scripts
  transcript.py run SETTING TRANSCRIPT SHELL...  runs the scripts with SHELL and compares

Each command is preceded by an "echo @@ COMMAND" line, so that the output says which
command printed what. Prints PASS/FAIL per command and ends with "N passed, M failed".
"""
import fnmatch, os, subprocess, sys, tempfile

MARK = "@@ "


def parse(path):
    """[(start, command, [(setting or None, expected line)])], start counting shell starts."""
    steps, start = [], 1
    for raw in open(path).read().splitlines():
        if not raw.strip() or raw.startswith("#"):
            continue
        if raw == "restart":
            start += 1
        elif raw.startswith("$ "):
            steps.append((start, raw[2:], []))
        else:
            setting = None
            for s in ("sim", "unit"):
                if raw.startswith(f"[{s}] "):
                    setting, raw = s, raw[len(s) + 3:]
            steps[-1][2].append((setting, raw))
    return steps


def write_scripts(steps, folder):
    paths = []
    for start in sorted({s for s, _, _ in steps}):
        path = os.path.join(folder, f"shell-{start}.bsp")
        with open(path, "w") as f:
            for s, command, _ in steps:
                if s == start:
                    f.write(f"echo {MARK}{command}\n{command}\n")
        paths.append(path)
    return paths


def outputs(text):
    """The output lines of each command, by command, in order."""
    got, current = [], None
    for line in text.splitlines():
        if line.startswith(MARK):
            current = (line[len(MARK):], [])
            got.append(current)
        elif current is not None:
            current[1].append(line.rstrip())
    return got


def matches(want, line):
    return fnmatch.fnmatchcase(line, want) if "*" in want else line == want


def compare(setting, steps, text):
    got = outputs(text)
    passed = failed = 0
    for i, (_, command, expected) in enumerate(steps):
        want = [line for s, line in expected if s in (None, setting)]
        lines = got[i][1] if i < len(got) and got[i][0] == " ".join(command.split()) else None
        ok = lines is not None and len(lines) == len(want) and all(map(matches, want, lines))
        passed, failed = passed + ok, failed + (not ok)
        print(f"{'PASS' if ok else 'FAIL'}: {setting} shell: {command}", flush=True)
        if not ok:
            print("  expected:\n" + "".join(f"    {w}\n" for w in want) +
                  "  got:\n" + "".join(f"    {g}\n" for g in (lines or ["(nothing)"])))
    return passed, failed


def summary(counts):
    print(f"{counts[0]} passed, {counts[1]} failed")
    return 1 if counts[1] else 0


def main():
    mode, args = sys.argv[1], sys.argv[2:]
    if mode == "scripts":
        write_scripts(parse(args[0]), args[1])
        return 0
    setting, steps = args[0], parse(args[1])
    if mode == "check":
        return summary(compare(setting, steps, open(args[2], errors="replace").read()))
    with tempfile.TemporaryDirectory() as folder:
        text = ""
        for script in write_scripts(steps, folder):
            run = subprocess.run(args[2:] + ["-s", os.path.join(folder, "state"), script],
                                 stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                 stderr=subprocess.STDOUT, text=True, errors="replace",
                                 timeout=300)
            text += run.stdout
    return summary(compare(setting, steps, text))


if __name__ == "__main__":
    sys.exit(main())
