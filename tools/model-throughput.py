#!/usr/bin/env python3
"""Predicts the speed of every batch kernel and generator variant on
processors we may not have, with llvm-mca, against that model's own floor.

For each kernel it compiles the source as the build does, takes the step
loop out of the assembly (the innermost loop with the most floating-point
work) and has llvm-mca run it on each processor modelled. The floor is
measured the same way: the bound meter's loops (benchmarks/boundmeter_*.cpp,
the arithmetic of one cell update on many independent vectors, no memory)
run through the same model, and the fastest of its forms and vector counts
for the kernel's instruction set is the floor. Each line gives cycles per
cell update, the floor and the fraction floor / kernel. A benchmark tool,
not a test.

    tools/model-throughput.py [NAME...]  (from anywhere; needs llvm-14, g++,
                                          g++-aarch64-linux-gnu for arm64)

With names ("buffer avx2", "neon"), only the kernels whose name holds one.
"""
import functools
import os
import re
import subprocess
import sys
import tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
COMMON = ["-O3", "-DNDEBUG", "-std=c++20", "-DPI_X86_KERNELS", "-DPI_NEON_KERNELS",
          "-I" + os.path.join(ROOT, "buffer"), "-I" + os.path.join(ROOT, "buffer", "kernels"),
          "-I" + os.path.join(ROOT, "generator"), "-I" + os.path.join(ROOT, "benchmarks")]

X86 = ["skylake", "skylake-avx512", "icelake-server", "sapphirerapids", "znver3"]
AVX512 = ["skylake-avx512", "icelake-server", "sapphirerapids"]
ARM64 = ["neoverse-n1", "cortex-a72", "cortex-a76", "apple-m1"]
GXX = "g++"
ARMGXX = "aarch64-linux-gnu-g++"

# The bound meter's loops per instruction set: source, flags, compiler,
# and the meter functions (a form and a vector count each) with their lanes.
METERS = {
    "avx512": ("benchmarks/boundmeter_avx512.cpp", ["-mavx512f"], GXX,
               [("avx512%s%d" % (f, k), 8) for f in ("floor", "adds", "rounddown") for k in (12, 16, 24)]),
    "avx2": ("benchmarks/boundmeter_avx2.cpp", ["-mavx2", "-mfma", "-frounding-math"], GXX,
             [("avx2%s%d" % (f, k), 4) for f in ("floor", "adds") for k in (8, 10, 12, 16)] +
             [("avx2rounddown%d" % k, 4) for k in (12, 16)]),
    "portable": ("benchmarks/boundmeter_portable.cpp", [], GXX,
                 [("portableadds%d" % k, 2) for k in (8, 12, 16, 24)]),
    "portable (arm64)": ("benchmarks/boundmeter_portable.cpp", [], ARMGXX,
                         [("portableadds%d" % k, 2) for k in (8, 12, 16, 24)]),
    "neon": ("benchmarks/boundmeter_neon.cpp", [], ARMGXX,
             [("neonfloor%d" % k, 2) for k in (8, 12, 16, 24)]),
}
# A kernel's floor is the fastest meter of these sets.
FLOORS = {"avx512": ["avx512"], "avx2": ["avx2"], "portable": ["portable"],
          "portable (arm64)": ["portable (arm64)"], "neon": ["neon", "portable (arm64)"]}

# name, source, extra flags, function whose loop is wanted (a name within
# its mangled one: the buffer's by its lanes), instruction set,
# processors, compiler
KERNELS = [
    ("buffer avx512", "buffer/kernels/avx512.cpp", ["-mavx512f"], "avx512lanes", "avx512", AVX512, GXX),
    ("buffer avx2", "buffer/kernels/avx2.cpp", ["-mavx2", "-mfma", "-frounding-math"], "avx2lanes", "avx2", X86, GXX),
    ("buffer avx2rounddown", "buffer/kernels/avx2.cpp", ["-mavx2", "-mfma", "-frounding-math"],
     "avx2rounddownlanes", "avx2", X86, GXX),
    ("buffer portable", "buffer/kernels/portable.cpp", [], "advanceportable", "portable", X86, GXX),
    ("buffer neon", "buffer/kernels/neon.cpp", [], "neonlanes", "neon", ARM64, ARMGXX),
    ("buffer portable (arm64)", "buffer/kernels/portable.cpp", [], "advanceportable", "portable (arm64)",
     ARM64, ARMGXX),
    ("generator avx512", "generator/variants/avx512.cpp", ["-mavx512f"], "advanceavx512", "avx512", AVX512, GXX),
    ("generator avx2", "generator/variants/avx2.cpp", ["-mavx2", "-mfma", "-frounding-math"], "advanceavx2", "avx2",
     X86, GXX),
    ("generator avx2rounddown", "generator/variants/avx2.cpp", ["-mavx2", "-mfma", "-frounding-math"],
     "advanceroundingdown", "avx2", X86, GXX),
    ("generator portable", "generator/passbatch.cpp", [], "advanceportable", "portable", X86, GXX),
    ("generator neon", "generator/variants/neon.cpp", [], "advanceneon", "neon", ARM64, ARMGXX),
    ("generator portable (arm64)", "generator/passbatch.cpp", [], "advanceportable", "portable (arm64)",
     ARM64, ARMGXX),
]

MULTIPLY = re.compile(r"^\s*(v?fn?m(add|sub)\d*[a-z]*p[sd]|v?mulp[sd]|fmla|fmls|fmul|fnmsub|fmadd|fmsub|fnmadd)\b")
ITERATIONS = 200


def lanes(line):
    """Doubles one instruction works on."""
    if "zmm" in line:
        return 8
    if "ymm" in line:
        return 4
    if re.search(r"^\s*\w+pd\b.*xmm|\.2d", line):
        return 2
    return 1


def function_lines(assembly, function):
    lines = assembly.splitlines()
    if function is None:
        return lines
    start = next(i for i, line in enumerate(lines)
                 if re.match(r"^_Z\w*?\d%s(?![a-z0-9])[\w.]*:" % function, line) or line.startswith(function + ":"))
    end = next(i for i in range(start, len(lines)) if lines[i].lstrip().startswith(".size"))
    return lines[start:end]


def step_loop(lines):
    """Of the innermost loops (a label, a later branch back to it and no
    loop inside), one with the widest multiplies: the vectorized step
    rather than a scalar fallback."""
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
    candidates = []
    for start, end in innermost:
        body = [l for l in lines[start + 1:end + 1]
                if l.startswith("\t") and not l.lstrip().startswith(".")]
        multiplies = [l for l in body if MULTIPLY.match(l)]
        if multiplies:
            candidates.append((max(map(lanes, multiplies)), len(multiplies), body))
    if not candidates:
        raise SystemExit("no loop found")
    widest = max(c[0] for c in candidates)
    most = max(c[1] for c in candidates if c[0] == widest)
    # Of the loops with the widest multiplies and at least half the most
    # of them, the densest in multiplies: the body of the run rather than
    # a chunk at an edge, which checks the ends of the cells.
    runs = [c for c in candidates if c[0] == widest and 2 * c[1] >= most]
    return max(runs, key=lambda c: (c[1] / len(c[2]), -len(c[2])))[2]


@functools.lru_cache(maxsize=None)
def assembly(source, flags, compiler):
    with tempfile.TemporaryDirectory() as work:
        out = os.path.join(work, "kernel.s")
        subprocess.run([compiler] + COMMON + list(flags) + ["-S", "-o", out, os.path.join(ROOT, source)],
                       check=True)
        return open(out).read()


def cycles_per_iteration(body, cpu, compiler):
    """llvm-mca's cycles for one pass through the loop body."""
    with tempfile.TemporaryDirectory() as work:
        loop = os.path.join(work, "loop.s")
        with open(loop, "w") as f:
            f.write("\n".join(body) + "\n")
        triple = "aarch64" if compiler == ARMGXX else "x86_64"
        result = subprocess.run(["llvm-mca-14", "-mtriple=" + triple, "-mcpu=" + cpu,
                                 "-iterations=%d" % ITERATIONS, loop],
                                check=True, capture_output=True, text=True).stdout
        return int(re.search(r"Total Cycles:\s+(\d+)", result).group(1)) / ITERATIONS


def kernel_cycles(source, flags, function, cpu, compiler):
    """Cycles per cell update of a kernel's step loop: each cell update
    takes four multiply-class operations (x * reciprocal, quotient *
    divisor, 10 * remainder, quotient * multiplier), so their lanes tell
    how many updates one iteration makes."""
    body = step_loop(function_lines(assembly(source, tuple(flags), compiler), function))
    updates = sum(lanes(l) for l in body if MULTIPLY.match(l)) / 4
    return cycles_per_iteration(body, cpu, compiler) / updates


@functools.lru_cache(maxsize=None)
def floor(instructionset, cpu):
    """The model's own floor for a cell update: the fastest meter of the
    instruction set, each meter's loop making chains x lanes updates."""
    best = None
    for name in FLOORS[instructionset]:
        source, flags, compiler, meters = METERS[name]
        text = assembly(source, tuple(flags), compiler)
        for function, width in meters:
            body = step_loop(function_lines(text, function))
            chains = int(re.search(r"(\d+)$", function).group(1))
            cycles = cycles_per_iteration(body, cpu, compiler) / (chains * width)
            best = cycles if best is None else min(best, cycles)
    return best


def main():
    print("| kernel | processor | cycles per cell update | model's floor | of floor |")
    print("| --- | --- | --- | --- | --- |")
    wanted = sys.argv[1:]
    for name, source, flags, function, instructionset, cpus, compiler in KERNELS:
        if wanted and not any(w in name for w in wanted):
            continue
        for cpu in cpus:
            try:
                cycles = kernel_cycles(source, flags, function, cpu, compiler)
                bound = floor(instructionset, cpu)
            except (subprocess.CalledProcessError, FileNotFoundError, StopIteration) as error:
                print("| %s | %s | not modelled: %s | | |" % (name, cpu, error))
                continue
            print("| %s | %s | %.3f | %.3f | %.0f%% |" % (name, cpu, cycles, bound, 100 * bound / cycles))
    return 0


if __name__ == "__main__":
    sys.exit(main())
