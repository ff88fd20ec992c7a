#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Builds every fenced C and C++ sample of the given Markdown files.

A fence's info string says how: `c` (C11) and `cpp` (C++17 and C++20) are
whole translation units; `cpp20` is C++20 only. `fragment` after the
language puts the sample after the file's prelude at file scope, `body` inside
a function after it. A prelude is an HTML comment, unseen when the page is
read: `<!-- prelude c ... -->` or `<!-- prelude cpp ... -->`. Other fences
(sh, cmake, text, ...) are left alone.

Usage: samples.py CC CXX INCLUDE_DIR FILE.md...
"""
import concurrent.futures
import os
import re
import subprocess
import sys
import tempfile

WARNINGS = ["-Wall", "-Wextra", "-Werror", "-Wno-unused-variable", "-Wno-unused-function",
            "-Wno-unused-but-set-variable", "-Wno-unused-parameter"]
FENCE = re.compile(r"^```(\w+)([^\n]*)\n(.*?)^```", re.S | re.M)
PRELUDE = re.compile(r"<!-- prelude (c|cpp)\n(.*?)-->", re.S)


def units(text):
    """(language, standards, source) of each sample to build."""
    preludes = {lang: body for lang, body in PRELUDE.findall(text)}
    for match in FENCE.finditer(text):
        lang, how, body = match.group(1), match.group(2).split(), match.group(3)
        if lang not in ("c", "cpp", "cpp20"):
            continue
        base = "c" if lang == "c" else "cpp"
        standards = ["c11"] if lang == "c" else ["c++20"] if lang == "cpp20" else ["c++17", "c++20"]
        line = text.count("\n", 0, match.start()) + 1
        if "fragment" in how:
            body = preludes[base] + "\n" + body
        elif "body" in how:
            body = preludes[base] + "\nvoid tarn_sample(void) {\n" + body + "}\n"
        yield line, base, standards, body


def main():
    cc, cxx, include, files = sys.argv[1], sys.argv[2], sys.argv[3], sys.argv[4:]
    with tempfile.TemporaryDirectory() as scratch:
        jobs = []
        for path in files:
            with open(path, encoding="utf-8") as f:
                text = f.read()
            for line, base, standards, source in units(text):
                unit = os.path.join(scratch, f"sample{len(jobs)}.{base}")
                with open(unit, "w", encoding="utf-8") as f:
                    f.write(source)
                for standard in standards:
                    compiler = cc if base == "c" else cxx
                    command = [compiler, "-std=" + standard, "-I" + include, *WARNINGS,
                               "-fsyntax-only", unit]
                    jobs.append((f"{path}:{line}", standard, command))
        with concurrent.futures.ThreadPoolExecutor(os.cpu_count()) as pool:
            results = list(pool.map(lambda job: subprocess.run(job[2], capture_output=True,
                                                               text=True), jobs))
    failed = 0
    for (where, standard, _), result in zip(jobs, results):
        if result.returncode:
            failed += 1
            print(f"{where}: the sample does not build as {standard}:\n{result.stderr}")
    print(f"{len(jobs)} builds of the samples, {failed} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
