#!/usr/bin/env python3
"""The tables of tools/benchmark-report.sh, from the benchmark programs'
JSON output and whole-process runs of the two discarding programs.

    benchmark-report.py WORKDIR BINDIR RUNS PLOT COUNT...

WORKDIR holds buffer.json and generator.json; PLOT is an SVG file name or
empty. Prints markdown on standard output."""

import json
import os
import re
import statistics
import subprocess
import sys
from pathlib import Path

# The largest count each number of fused passes serves with each division:
# rounded down (x86-64 with AVX-512), by FMA (AVX2 with FMA, every arm64)
# and with two roundings (any other processor); past it a run fuses one
# pass fewer.
FUSED_EDGES = {"rounded down": ((33777, 10), (337770, 9), (3377699, 8)),
               "by FMA": ((29519, 10), (325759, 9), (3366534, 8)),
               "with two roundings": ((10972, 10), (159957, 9), (1343337, 8), (11192256, 7))}
PROGRAMS = ("pi_buffer_discard", "pi_generator_discard")
# Benchmarks of a group of batches over large cells, and the meters: not
# the kernels' own rows.
GROUPED = ("bound/", "cells/", "unblocked/", "program/", "blocks/")


def cpuinfo():
    fields = {}
    try:
        for line in Path("/proc/cpuinfo").read_text().splitlines():
            key, _, value = line.partition(":")
            key = key.strip()
            if key and key not in fields:
                fields[key] = value.strip()
    except OSError:
        pass
    return fields


def divisionof(context):
    """How the kernel the programs pick here divides, as the benchmark
    names it."""
    kernel = context.get("chosen_kernel", "")
    if kernel == "avx512" or kernel.endswith("rounddown"):
        return "rounded down"
    return "with two roundings" if kernel == "portable" else "by FMA"


def compilerof(bindir):
    cache = Path(bindir).parent / "CMakeCache.txt"
    try:
        match = re.search(r"^CMAKE_CXX_COMPILER:\w+=(.*)$", cache.read_text(), re.M)
        if match:
            out = subprocess.run([match.group(1), "--version"], capture_output=True, text=True)
            return out.stdout.splitlines()[0]
    except (OSError, IndexError):
        pass
    return "unknown compiler"


def rate(value):
    if value >= 1e9:
        return f"{value / 1e9:.3g} G"
    return f"{value / 1e6:.3g} M"


# Each kernel's shape: the ring of the rotated lanes at their sixteen
# vectors in the kernel's form, or the portable lanes: its instruction
# set, meter and vectors.
SHAPES = {"avx512": ("avx512", "ring", "16"), "avx2": ("avx2", "ring", "16"),
          "avx2rounddown": ("avx2", "ringrounddown", "16"), "neon": ("neon", "ring", "16"),
          "portable": ("portable", "lanes", None)}


def repeated(results):
    """Each benchmark's repetitions, in the order first run: its name and
    its counters' medians and spreads (lowest, highest)."""
    runs = {}
    for b in results["benchmarks"]:
        if b.get("run_type", "iteration") == "iteration":
            runs.setdefault(b.get("run_name", b["name"]), []).append(b)
    table = []
    for name, each in runs.items():
        counters = {}
        for key in ("cell_updates", "of_bound", "pass_cells", "fused_passes"):
            values = [b[key] for b in each if key in b]
            if values:
                counters[key] = (statistics.median(values), min(values), max(values))
        table.append((name, counters))
    # By kernel (or meter), then count, whatever order they ran in.
    def order(entry):
        parts = entry[0].split("/")
        return [(0, int(p), "") if p.isdigit() else (1, 0, p) for p in parts]
    return sorted(table, key=order)


def share(counter):
    """A median share with its spread: 91% (89–92)."""
    middle, low, high = counter
    return f"{middle:.0%} ({low * 100:.0f}–{high * 100:.0f})"


def meters(results):
    """The bound meters' rows, bound/SET/FORM/VECTORS: set, form, vectors
    and counters."""
    for name, counters in repeated(results):
        parts = name.split("/")
        if len(parts) == 4 and parts[0] == "bound" and "of_bound" in counters:
            yield parts[1], parts[2], parts[3], counters


def shapesof(results):
    """Each kernel's shape: its median share of the bound."""
    found = {(instructionset, form, vectors): counters["of_bound"][0]
             for instructionset, form, vectors, counters in meters(results)}
    shares = {}
    for kernel, (instructionset, form, vectors) in SHAPES.items():
        for (s, f, v), value in found.items():
            if (s, f) == (instructionset, form) and vectors in (None, v):
                shares[kernel] = value
    return shares


def metertable(results):
    print("### What binds: the meters beside the bound")
    print()
    print("The bound is the fastest form of one update's arithmetic on independent vectors in registers "
          "(floor: a floor instruction; adds: rounding by two adds; rounddown: one FMA rounded down, "
          "by the instruction with AVX-512, by MXCSR with AVX2), "
          "at 8 to 24 vectors; with 16 AVX2 vectors the compiler spills some to the stack. A shape "
          "is the same update with what the kernels do around it: the ring of the rotated lanes "
          "(ring: three loads an update from L1, a slot renewed a step; ringadds: rounding by adds; "
          "ringoftwo: two numbers a slot, the divisor worked out; a name ending in rounddown, that "
          "meter in the form rounded down by MXCSR), its costs one at a time (ringloads: the loads "
          "alone, no slot renewed; ringrenewal: the renewal alone, the numbers in registers; "
          "ringrotated: the ring with the two shuffles a step of the rotation; ringdivided: the ring "
          "with a chunk's vector divisions of the entering reciprocals) and all of them "
          "(kernelstep: the kernel's step but for its loads and stores of cells), or the portable "
          "lanes (each works out its multiplier and divisor, and reads and writes its cell through "
          "arrays). No batch fills or drains, nothing is released. Medians of the repetitions, the "
          "lowest and highest in brackets.")
    print()
    print("| instruction set | meter | vectors | cell updates/s | of the bound |")
    print("| --- | --- | --- | --- | --- |")
    for instructionset, form, vectors, counters in meters(results):
        print(f"| {instructionset} | {form} | {vectors} | {rate(counters['cell_updates'][0])} | "
              f"{share(counters['of_bound'])} |")
    print()


def kerneltable(title, program, results):
    rows = [(name, counters) for name, counters in repeated(results)
            if not name.startswith(GROUPED)]
    shapes = shapesof(results)
    print(f"### {title} (`{program}`)")
    print()
    print("A cell update is one pass by 10^k over one cell; pass cells are digits × cells per second, "
          "which compare runs of any k. Medians of the repetitions, the lowest and highest share in "
          "brackets.")
    print()
    print("| kernel | N | k | cell updates/s | of its instruction set's bound | of its shape | pass cells/s |")
    print("| --- | --- | --- | --- | --- | --- | --- |")
    for name, counters in rows:
        kernel, _, count = name.partition("/")
        ofbound = share(counters["of_bound"]) if "of_bound" in counters else ""
        ofshape = f"{counters['of_bound'][0] / shapes[kernel]:.0%}" if "of_bound" in counters and kernel in shapes else ""
        k = f"{counters['fused_passes'][0]:.0f}" if "fused_passes" in counters else "1"
        passcells = counters.get("pass_cells", counters["cell_updates"])[0]
        print(f"| {kernel} | {count} | {k} | {rate(counters['cell_updates'][0])} | {ofbound} | {ofshape} | "
              f"{rate(passcells)} |")
    print()


def cachetable(title, results):
    """Each kernel's rate on the cells of large counts (a group of its
    batches, blocked) against its rate at 20,000 digits, and against the
    same batches unblocked, each batch over all the cells in turn; and the
    first group of a run as the program runs it against the same at
    20,000."""
    rates = {}
    for name, counters in repeated(results):
        kind, _, rest = name.partition("/")
        if kind in ("cells", "unblocked", "program"):
            kernel, _, count = rest.partition("/")
            rates[(kind, kernel, int(count))] = counters
    if not rates:
        return
    print(f"### {title} on the cells of large counts (a group of batches, medians of the repetitions)")
    print()
    print("cells: a group of batches, blocked; program: a run's first group as the program runs it (its "
          "plan's block, the cells made, the digits released, progress told), each against the same at "
          "20,000 digits.")
    print()
    print("| kernel | N | k | cells: updates/s | of its rate at 20,000 | blocked / unblocked "
          "| program: updates/s | of its rate at 20,000 |")
    print("| --- | --- | --- | --- | --- | --- | --- | --- |")

    def against(kind, kernel, count):
        here, incache = rates.get((kind, kernel, count)), rates.get((kind, kernel, 20000))
        if not here:
            return "", ""
        share = f"{here['cell_updates'][0] / incache['cell_updates'][0]:.0%}" if incache and count != 20000 else ""
        return rate(here["cell_updates"][0]), share

    for (kind, kernel, count), counters in sorted(rates.items()):
        if kind != "cells":
            continue
        unblocked = rates.get(("unblocked", kernel, count))
        here = counters["cell_updates"][0]
        blocked = f"{here / unblocked['cell_updates'][0]:.2f}×" if unblocked else ""
        k = f"{counters['fused_passes'][0]:.0f}" if "fused_passes" in counters else ""
        cells, ofcells = against("cells", kernel, count)
        program, ofprogram = against("program", kernel, count)
        print(f"| {kernel} | {count:,} | {k} | {cells} | {ofcells} | {blocked} | {program} | {ofprogram} |")
    print()


def blocktable(title, results):
    """A group over the cells of 1,000,000 digits in blocks from an
    eighth of the second-level cache to all of it."""
    context = results["context"]
    cache, plancells = int(context.get("l2_cache_bytes", 0)), int(context.get("block_cells", 0))
    rows = {}
    for name, counters in repeated(results):
        kind, _, rest = name.partition("/")
        if kind == "blocks":
            kernel, _, kib = rest.partition("/")
            rows.setdefault(kernel, []).append((int(kib), counters["cell_updates"][0]))
    if not rows:
        return
    print(f"### {title}: blocks against this processor's second-level cache "
          f"({cache // 1024} KiB; the plans take {plancells * 4 // 1024} KiB of cells)")
    print()
    print("A group over the cells of 1,000,000 digits, each block's rate against the plans' block's.")
    print()
    print("| kernel | block | of the cache | cell updates/s | of the plans' block's |")
    print("| --- | --- | --- | --- | --- |")
    for kernel, blocks in rows.items():
        plans = dict(blocks).get(plancells * 4 // 1024)
        for kib, value in sorted(blocks):
            ofcache = f"{kib * 1024 / cache:.3g}" if cache else ""
            ofplan = f"{value / plans:.2f}×" if plans else ""
            print(f"| {kernel} | {kib} KiB | {ofcache} | {rate(value)} | {ofplan} |")
    print()


def pairtable(buffer, generator):
    """The generator's variant against the buffer's kernel of the same
    instruction set, at each count both run."""
    def shares(results):
        return {name: counters["of_bound"][0] for name, counters in repeated(results)
                if not name.startswith(GROUPED) and "of_bound" in counters}
    ofbuffer, ofgenerator = shares(buffer), shares(generator)
    both = [name for name in ofbuffer if name in ofgenerator]
    if not both:
        return
    print("### The generator's variants against the buffer's kernels (median shares of the bound)")
    print()
    print("| instruction set | N | buffer | generator | generator − buffer |")
    print("| --- | --- | --- | --- | --- |")
    for name in both:
        kernel, _, count = name.partition("/")
        b, g = ofbuffer[name], ofgenerator[name]
        print(f"| {kernel} | {count} | {b:.0%} | {g:.0%} | {100 * (g - b):+.0f} points |")
    print()


def runonce(program, count):
    """CPU seconds of one run."""
    process = subprocess.Popen([program, str(count)], stdout=subprocess.DEVNULL)
    _, status, usage = os.wait4(process.pid, 0)
    if status != 0:
        sys.exit(f"{program} {count} failed")
    return usage.ru_utime + usage.ru_stime


def wholeprocesses(bindir, runs, counts):
    """Median CPU time per program and count, the runs interleaved so that
    a change in the machine's load meets all alike."""
    times = {(p, n): [] for p in PROGRAMS for n in counts}
    for _ in range(runs):
        for n in counts:
            for p in PROGRAMS:
                times[(p, n)].append(runonce(os.path.join(bindir, p), n))
    return {key: statistics.median(value) for key, value in times.items()}


def plotsvg(path, counts, medians, division):
    data = "\n".join(f"{n} {medians[(PROGRAMS[0], n)]} {medians[(PROGRAMS[1], n)]}" for n in counts)
    leave = ""
    for last, k in FUSED_EDGES[division]:
        if counts[0] <= last < counts[-1]:
            edge = last + 0.5
            leave += (f"set arrow from {edge}, graph 0 to {edge}, graph 1 nohead dashtype 2\n"
                      f"set label 'k = {k} to {last:,}' at {edge}, graph 0.08 right offset -1,0\n")
    script = f"""set terminal svg size 800,520 dynamic noenhanced font 'sans,12'
set output '{path}'
set title 'Whole-process CPU time against the digit count'
set xlabel 'digits, N'
set ylabel 'CPU seconds (median)'
set logscale xy
set grid
set key top left
{leave}$data << EOD
{data}
EOD
plot $data using 1:2 with linespoints title '{PROGRAMS[0]}', \\
     $data using 1:3 with linespoints title '{PROGRAMS[1]}'
"""
    subprocess.run(["gnuplot"], input=script, text=True, check=True)


def main():
    work, bindir, runs, plot = sys.argv[1], sys.argv[2], int(sys.argv[3]), sys.argv[4]
    counts = sorted(int(n) for n in sys.argv[5:])
    buffer = json.loads(Path(work, "buffer.json").read_text())
    generator = json.loads(Path(work, "generator.json").read_text())
    info = cpuinfo()
    context = buffer["context"]
    division = divisionof(context)

    name = info.get("model name", os.uname().machine)
    family, model = info.get("cpu family"), info.get("model")
    identity = f", family {family} model {model}" if family and model else ""
    features = [f for f in ("avx512f", "avx2", "fma") if f in info.get("flags", "").split()]
    clock = context.get("clock_ghz")
    print(f"## {name}{identity}")
    print()
    print(f"- features: {', '.join(features) or os.uname().machine}; "
          f"{context.get('num_cpus', '?')} processors seen; {compilerof(bindir)}")
    if clock:
        print(f"- clock, as the benchmarks measure it (a chain of dependent adds): {float(clock):.2f} GHz")
    bounds = sorted((k[len("bound_"):-len("_gups")], float(v)) for k, v in context.items()
                    if k.startswith("bound_") and k.endswith("_gups"))
    if bounds:
        print("- bounds measured in this run, cell updates/s: " +
              ", ".join(f"{s} {v:.3g} G" for s, v in bounds))
    chosen = {key[len("family_"):]: value for key, value in context.items() if key.startswith("family_")}
    if "chosen_kernel" in context:
        print(f"- kernel chosen here: {context['chosen_kernel']} (buffer), "
              f"{generator['context'].get('chosen_kernel', '?')} (generator), for "
              f"{info.get('vendor_id', '?')} family {family}")
    if chosen:
        print("- each family's choice where its instruction set has more than one form: " +
              "; ".join(f"{family.replace('_', ' ')}: {kernel}" for family, kernel in sorted(chosen.items())))
    edges = ", ".join(f"k = {k} to {last:,} digits" for last, k in FUSED_EDGES[division])
    print(f"- passes fused (division {division}): {edges}, {FUSED_EDGES[division][-1][1] - 1} above")
    print()
    metertable(buffer)
    kerneltable("Buffer kernels", "buffer_benchmark", buffer)
    kerneltable("Generator variants", "generator_benchmark", generator)
    pairtable(buffer, generator)
    cachetable("Buffer kernels", buffer)
    cachetable("Generator variants", generator)
    blocktable("Buffer kernels", buffer)
    blocktable("Generator variants", generator)

    medians = wholeprocesses(bindir, runs, counts)
    print(f"### Whole processes (CPU time, median of {runs} interleaved runs)")
    print()
    print("| N | pi_buffer_discard | pi_generator_discard | generator / buffer |")
    print("| --- | --- | --- | --- |")
    for n in counts:
        b, g = medians[(PROGRAMS[0], n)], medians[(PROGRAMS[1], n)]
        ratio = f"{g / b:.2f}×" if b > 0 else ""
        print(f"| {n:,} | {b:.3f} s | {g:.3f} s | {ratio} |")
    print()
    if plot:
        plotsvg(plot, counts, medians, division)
        print(f"The plot is in {plot}.", file=sys.stderr)


if __name__ == "__main__":
    main()
