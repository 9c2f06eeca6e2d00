#!/usr/bin/env python3
"""Predicts the speed of every batch kernel and generator variant on
processors we may not have, with llvm-mca: compiles each one's source as
the build does, takes the step loop out of the assembly (the innermost
loop with the most floating-point work), and prints cycles per cell update
beside the bound the FP ports set. A benchmark tool, not a test.

    tools/model-throughput.py            (from anywhere; needs llvm-14, g++,
                                          g++-aarch64-linux-gnu for neoverse-n1)
"""
import os
import re
import subprocess
import sys
import tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
COMMON = ["-O3", "-DNDEBUG", "-std=c++20", "-DPI_X86_KERNELS",
          "-I" + os.path.join(ROOT, "buffer"), "-I" + os.path.join(ROOT, "buffer", "kernels"),
          "-I" + os.path.join(ROOT, "generator")]

# name, source, extra flags, function whose loop is wanted (None: the
# file's), the processors to model, compiler
X86 = ["skylake-avx512", "icelake-server", "znver3"]
KERNELS = [
    ("buffer avx512", "buffer/kernels/avx512.cpp", ["-mavx512f"], None, ["skylake-avx512", "icelake-server"], "g++"),
    ("buffer avx2", "buffer/kernels/avx2.cpp", ["-mavx2", "-mfma"], None, X86, "g++"),
    ("buffer portable", "buffer/kernels/portable.cpp", [], "runbatchportable", X86, "g++"),
    ("buffer portable (arm64)", "buffer/kernels/portable.cpp", [], "runbatchportable", ["neoverse-n1"], "aarch64-linux-gnu-g++"),
    ("generator avx512", "generator/passbatch.cpp", [], "runavx512", ["skylake-avx512", "icelake-server"], "g++"),
    ("generator avx2", "generator/passbatch.cpp", [], "runavx2", X86, "g++"),
    ("generator portable", "generator/passbatch.cpp", [], "runportable", X86, "g++"),
    ("generator portable (arm64)", "generator/passbatch.cpp", [], "runportable", ["neoverse-n1"], "aarch64-linux-gnu-g++"),
]

# FP pipes that carry multiplies and FMAs: two on every processor modelled.
FMA_PIPES = 2
MULTIPLY = re.compile(r"^\s*(v?fn?m(add|sub)\d*[a-z]*pd|v?mulpd|fmla|fmls|fmul|fnmsub|fmadd|fmsub|fnmadd)\b")


def lanes(line):
    """Doubles one instruction works on."""
    if "zmm" in line:
        return 8
    if "ymm" in line:
        return 4
    if re.search(r"\b\w+pd\b.*xmm|\.2d", line):
        return 2
    return 1


def function_lines(assembly, function):
    lines = assembly.splitlines()
    if function is None:
        return lines
    start = next(i for i, line in enumerate(lines)
                 if re.match(r"^_Z\w*%s\w*:" % function, line) or line.startswith(function + ":"))
    end = next(i for i in range(start, len(lines)) if lines[i].lstrip().startswith(".size"))
    return lines[start:end]


def step_loop(lines):
    """Of the innermost loops (a label, a later branch back to it and no
    loop inside), the one with the widest multiplies and the most of them:
    the vectorized step rather than a scalar fallback."""
    labels = {}
    loops = []
    for i, line in enumerate(lines):
        label = re.match(r"^(\.L\w+):", line)
        if label:
            labels[label.group(1)] = i
        branch = re.match(r"^\s+(j\w+|b\.?\w*|cbn?z|tbn?z)\s+(?:[^,]*,\s*)*(\.L\w+)\s*$", line)
        if branch and branch.group(2) in labels:
            loops.append((labels[branch.group(2)], i))
    innermost = [(a, b) for a, b in loops
                 if not any(a <= c and d <= b and (c, d) != (a, b) for c, d in loops)]
    best = None
    for start, end in innermost:
        body = [l for l in lines[start + 1:end + 1]
                if l.startswith("\t") and not l.lstrip().startswith(".")]
        multiplies = [l for l in body if MULTIPLY.match(l)]
        key = (max(map(lanes, multiplies), default=0), len(multiplies))
        if multiplies and (best is None or key > best[0]):
            best = (key, body)
    if best is None:
        raise SystemExit("no loop found")
    return best[1]


def model(source, flags, function, cpus, compiler):
    with tempfile.TemporaryDirectory() as work:
        out = os.path.join(work, "kernel.s")
        subprocess.run([compiler] + COMMON + flags + ["-S", "-o", out, os.path.join(ROOT, source)],
                       check=True)
        body = step_loop(function_lines(open(out).read(), function))
        loop = os.path.join(work, "loop.s")
        with open(loop, "w") as f:
            f.write("\n".join(body) + "\n")
        # Every multiply-class instruction takes one of the FMA pipes for
        # a cycle, whatever its width: the bound the FP ports set.
        # Each cell update takes four multiply-class operations (10 * cell,
        # carry * multiplier, x * reciprocal, quotient * divisor), so their
        # lanes tell how many updates the loop makes per iteration.
        multiplies = sum(1 for l in body if MULTIPLY.match(l))
        updates = sum(lanes(l) for l in body if MULTIPLY.match(l)) / 4
        triple = "aarch64" if compiler.startswith("aarch64") else "x86_64"
        rows = []
        for cpu in cpus:
            result = subprocess.run(["llvm-mca-14", "-mtriple=" + triple, "-mcpu=" + cpu,
                                     "-iterations=200", loop],
                                    check=True, capture_output=True, text=True).stdout
            cycles = int(re.search(r"Total Cycles:\s+(\d+)", result).group(1))
            rows.append((cpu, cycles / 200 / updates, multiplies / FMA_PIPES / updates,
                         len(body) / updates))
        return rows


def main():
    print("| kernel | processor | cycles per cell update | FP-port bound | instructions per update |")
    print("| --- | --- | --- | --- | --- |")
    for name, source, flags, function, cpus, compiler in KERNELS:
        try:
            rows = model(source, flags, function, cpus, compiler)
        except (subprocess.CalledProcessError, FileNotFoundError, StopIteration) as error:
            print("| %s | | not modelled: %s | | |" % (name, error))
            continue
        for cpu, per_update, bound, count in rows:
            print("| %s | %s | %.2f | %.2f | %.1f |" % (name, cpu, per_update, bound, count))


if __name__ == "__main__":
    sys.exit(main())
