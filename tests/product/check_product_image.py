#!/usr/bin/env python3
"""Checks the shipped watchdog.exe: a 32-bit x86 console program for Windows XP (subsystem
5.01) with an asInvoker manifest, importing only from kernel32, user32, shell32 and msvcrt, and
only functions that Windows XP SP3 has (the reviewed list given by --allowed-imports).

  check_product_image.py --objdump OBJDUMP --allowed-imports LIST watchdog.exe
"""
import argparse
import re
import subprocess
import sys

ALLOWED_DLLS = {"kernel32.dll", "user32.dll", "shell32.dll", "msvcrt.dll"}


def imports(dump):
    """(dll, function) pairs of the import tables, as objdump -p prints them."""
    found, dll = [], None
    for line in dump.splitlines():
        named = re.match(r"\s*DLL Name: (\S+)", line)
        if named:
            dll = named.group(1).lower()
            continue
        entry = re.match(r"\t[0-9a-f]+\t +\d+ +(\S+)$", line)
        if dll and entry:
            found.append((dll, entry.group(1)))
    return found


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--objdump", required=True)
    parser.add_argument("--allowed-imports", required=True)
    parser.add_argument("image")
    args = parser.parse_args()

    objdump = subprocess.run([args.objdump, "-p", args.image], capture_output=True, text=True)
    if objdump.returncode != 0:
        print(f"FAIL: {args.objdump} cannot read {args.image}: {objdump.stderr.strip()}")
        return 1
    dump = objdump.stdout
    with open(args.image, "rb") as image:
        content = image.read()
    with open(args.allowed_imports) as listing:
        allowed = {tuple(line.split()) for line in listing if line.strip() and not line.startswith("#")}
        allowed = {(dll.lower(), function) for dll, function in allowed}

    problems = []
    def check(condition, what):
        if not condition:
            problems.append(what)

    check("file format pei-i386" in dump, "not a PE32 image for i386")
    check(re.search(r"^Magic\s+010b", dump, re.M), "optional header is not PE32")
    check(re.search(r"^Subsystem\s+00000003", dump, re.M), "subsystem is not the console (Windows CUI)")
    check(re.search(r"^MajorSubsystemVersion\s+5$", dump, re.M) and re.search(r"^MinorSubsystemVersion\s+1$", dump, re.M),
          "subsystem version is not 5.01")
    # RT_MANIFEST (24) with id 1, holding the execution level.
    check(re.search(r"Entry: ID: 0x000018,.*\n.*\n[0-9a-f]+\s+Entry: ID: 0x000001,", dump), "no RT_MANIFEST resource with id 1")
    check(re.search(rb'<requestedExecutionLevel\s+level="asInvoker"\s+uiAccess="false"\s*/>', content),
          "manifest does not request asInvoker without uiAccess")

    pairs = imports(dump)
    check(pairs, "no imports found in the objdump listing")
    dlls = {dll for dll, _ in pairs}
    check(dlls <= ALLOWED_DLLS, f"imports from other DLLs: {sorted(dlls - ALLOWED_DLLS)}")
    unknown = sorted(set(pairs) - allowed)
    check(not unknown, "imports not reviewed against Windows XP SP3: " + ", ".join(f"{d}!{f}" for d, f in unknown))

    for problem in problems:
        print("FAIL:", problem)
    print(f"{args.image}: {len(content)} bytes, {len(pairs)} imported functions from {', '.join(sorted(dlls))}")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
