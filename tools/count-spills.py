#!/usr/bin/env python3
"""What the compiler spilled in each function's hottest loop: the vector
stores to the stack and the loads back, beside the loop's size.

    count-spills.py OBJECT [NAME-FILTER]

Each loop counted holds no other loop (a backward branch whose body holds
no backward branch) and at least MINIMUM instructions: in a kernel, its
unrolled chunks of steps. x86-64 objects, as objdump prints them."""

import re
import subprocess
import sys

FUNCTION = re.compile(r"^([0-9a-f]+) <(.*)>:$")
INSTRUCTION = re.compile(r"^\s+([0-9a-f]+):\s+(\S+)\s*(.*)$")
JUMP = re.compile(r"^j\w+$")
STACK = r"-?(?:0x[0-9a-f]+)?\(%r[sb]p(?:,[^)]*)?\)"
VECTOR = r"%[xyz]mm\d+"
SPILL_STORE = re.compile(rf"^{VECTOR},{STACK}$")
SPILL_LOAD = re.compile(rf"^{STACK},{VECTOR}$")
MINIMUM = 40


def functions(path):
    listing = subprocess.run(["objdump", "-d", "--no-show-raw-insn", "-C", path],
                             capture_output=True, text=True, check=True).stdout
    name, body = None, []
    for line in listing.splitlines():
        if m := FUNCTION.match(line):
            if name:
                yield name, body
            name, body = m.group(2), []
        elif name and (m := INSTRUCTION.match(line)):
            body.append((int(m.group(1), 16), m.group(2), m.group(3)))
    if name:
        yield name, body


def innermostloops(body):
    """(first, last) indices of each backward branch's body that holds no
    other backward branch."""
    index = {address: i for i, (address, _, _) in enumerate(body)}
    loops = []
    for i, (address, op, operands) in enumerate(body):
        target = operands.split()[0] if operands else ""
        if JUMP.match(op) and re.match(r"^[0-9a-f]+$", target) and int(target, 16) <= address:
            first = index.get(int(target, 16))
            if first is not None:
                loops.append((first, i))
    return [(a, b) for a, b in loops if not any(a <= c and d <= b and (c, d) != (a, b) for c, d in loops)]


def main():
    path = sys.argv[1]
    pattern = re.compile(sys.argv[2]) if len(sys.argv) > 2 else None
    print("| function | loop instructions | vector stores to the stack | vector loads from it |")
    print("| --- | --- | --- | --- |")
    for name, body in functions(path):
        if pattern and not pattern.search(name):
            continue
        # The name without its return type, namespaces or arguments.
        short = re.sub(r"\(anonymous namespace\)::", "", name)
        short = re.sub(r"^void ", "", short).split("(")[0]
        for first, last in innermostloops(body):
            if last - first + 1 < MINIMUM:
                continue
            moves = [operands for _, op, operands in body[first:last + 1] if op.startswith("vmov")]
            stores = sum(bool(SPILL_STORE.match(m)) for m in moves)
            loads = sum(bool(SPILL_LOAD.match(m)) for m in moves)
            print(f"| {short} | {last - first + 1} | {stores} | {loads} |")


if __name__ == "__main__":
    main()
