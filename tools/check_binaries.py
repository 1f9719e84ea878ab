#!/usr/bin/env python3
"""Checks the binary interface between the hook stub and the kernel, and that
every shipped binary imports only system DLLs.

    check_binaries.py OBJDUMP ARCH KORBIN_DLL STUB_DLL [OTHER_BINARY...]

ARCH is i686 or x86_64. Exit code 0 when all holds, 1 with one line per
difference otherwise.
"""
import re
import subprocess
import sys

KERNEL_EXPORTS = {
    "i686": [
        "?InitZorNumber@@YGJK@Z",
        "?DetachZorNumber@@YGJK@Z",
        "?MyDllCanUnloadNow@@YGJK@Z",
        "?MyDllGetClassObject@@YGJABU_GUID@@0PAPAXK@Z",
        "?MyDllRegisterServer@@YGJK@Z",
        "?MyDllUnregisterServer@@YGJK@Z",
    ],
    "x86_64": [
        "?InitZorNumber@@YAJK@Z",
        "?DetachZorNumber@@YAJK@Z",
        "?MyDllCanUnloadNow@@YAJK@Z",
        "?MyDllGetClassObject@@YAJAEBU_GUID@@0PEAPEAXK@Z",
        "?MyDllRegisterServer@@YAJK@Z",
        "?MyDllUnregisterServer@@YAJK@Z",
    ],
}

STUB_EXPORTS = ["DllCanUnloadNow", "DllGetClassObject", "DllRegisterServer", "DllUnregisterServer"]

# What a binary may import: the system's own DLLs, nothing of the compiler's
# runtime (libstdc++, libgcc, winpthread) that a client machine lacks.
SYSTEM_DLLS = {
    "kernel32.dll", "user32.dll", "gdi32.dll", "advapi32.dll", "ole32.dll", "oleaut32.dll",
    "msvcrt.dll", "shell32.dll", "shlwapi.dll", "comctl32.dll", "comdlg32.dll", "version.dll",
    "rpcrt4.dll", "ntdll.dll", "uuid.dll",
}


def objdump(tool, path):
    return subprocess.run([tool, "-p", path], check=True, capture_output=True, text=True).stdout


def exports(text):
    """{name: ordinal} from the export table."""
    base_match = re.search(r"Ordinal Base\s+(\d+)", text)
    base = int(base_match.group(1)) if base_match else 1
    table = text.split("[Ordinal/Name Pointer] Table", 1)
    if len(table) < 2:
        return {}
    result = {}
    for line in table[1].splitlines()[1:]:
        m = re.match(r"\s+\[\s*(\d+)\]\s+(\S+)\s*$", line)
        if not m:
            break
        result[m.group(2)] = int(m.group(1)) + base
    return result


def imports(text):
    """{dll name: [imported names]} from the import tables."""
    result = {}
    current = None
    for line in text.splitlines():
        m = re.match(r"\s+DLL Name: (\S+)", line)
        if m:
            current = result.setdefault(m.group(1), [])
            continue
        m = re.match(r"\s+[0-9a-f]+\s+\d+\s+(\S+)\s*$", line)
        if current is not None and m:
            current.append(m.group(1))
        elif not line.strip():
            current = None
    return result


def check(objdump_tool, arch, korbin, stub, others):
    problems = []
    expected_kernel = KERNEL_EXPORTS[arch]

    korbin_text = objdump(objdump_tool, korbin)
    got = sorted(exports(korbin_text))
    if got != sorted(expected_kernel):
        problems.append(f"Korbin.dll exports {got}, expected exactly {sorted(expected_kernel)}")

    stub_text = objdump(objdump_tool, stub)
    stub_exports = exports(stub_text)
    wanted = {name: i + 1 for i, name in enumerate(STUB_EXPORTS)}
    if stub_exports != wanted:
        problems.append(f"Vexilo.dll exports {stub_exports}, expected {wanted}")
    stub_imports = imports(stub_text)
    from_kernel = stub_imports.get("Korbin.dll")
    if from_kernel is None:
        problems.append("Vexilo.dll does not import Korbin.dll")
    elif sorted(from_kernel) != sorted(expected_kernel):
        problems.append(f"Vexilo.dll imports {sorted(from_kernel)} from Korbin.dll, expected {sorted(expected_kernel)}")

    for path, text in [(korbin, korbin_text), (stub, stub_text)] + [(p, objdump(objdump_tool, p)) for p in others]:
        for dll in imports(text):
            if dll.lower() not in SYSTEM_DLLS and not (path == stub and dll == "Korbin.dll"):
                problems.append(f"{path} imports {dll}, which is not a system DLL")
    return problems


def main(argv):
    if len(argv) < 5 or argv[2] not in KERNEL_EXPORTS:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    problems = check(argv[1], argv[2], argv[3], argv[4], argv[5:])
    for p in problems:
        print(p)
    if not problems:
        print(f"{argv[2]}: binary interface as specified; only system DLLs imported")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
