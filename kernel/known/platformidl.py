#!/usr/bin/env python3
"""Copies the platform's IDL files that an IDL file imports (and what those
import, in turn) into a folder of their own, in the form widl's type-library
writer can describe:

- an empty union arm ("[default] ;") makes it crash: dropped (no layout changes);
- so does a typedef of VARIANTARG, itself a typedef of an imported type: VARIANT;
- a [wire_marshal] type is written as its wire form (a handle as a pointer to a
  union, STGMEDIUM as a crash): the attribute goes, the type stays the caller's;
- a method pair [local] Name / [call_as(Name)] RemoteName is described by the
  remote one: the local one, which is what callers' method tables hold, stays;
- a function pointer cannot be described: it is shown as the address it is;
- a handle is a pointer to nothing: [public] keeps its name in the library.

usage: platformidl.py <idl> <platform include folder> <output folder>
"""
import os
import re
import sys

IMPORT = re.compile(r'^\s*(?:import|#\s*include)\s+"([^"]+\.idl)"', re.M)
EMPTY_ARM = re.compile(r'^\s*\[(?:default|case\([^)]*\))\]\s*;\s*$\n?', re.M)
WIRE_MARSHAL = re.compile(r'\[\s*wire_marshal\([\w#]+\)\s*\]\s*')
CALL_AS = re.compile(r'\[\s*call_as\(\w+\)\s*\][^;]*;')
HANDLE = re.compile(r'typedef\s+void\s*\*\s*(?=(?:H\w*|name)\b)')
ATTRIBUTES = re.compile(r'\[([^\[\]]*)\]')
FUNCTION_POINTER = re.compile(r'(?m)^(?!.*cpp_quote)(.*?)\b\w+\s*\(\s*(?:\w+\s+)?\*\s*(\w+)\s*\)\s*\([^)]*\)')


def without_local(match):
    parts = [p for p in match.group(1).split(',') if p.strip() != 'local']
    return '[' + ','.join(parts) + ']' if parts else ''


def fixed(text):
    text = EMPTY_ARM.sub('', text)
    text = re.sub(r'(?m)^(?!typedef VARIANT VARIANTARG;)(.*)$',
                  lambda m: re.sub(r'\bVARIANTARG\b', 'VARIANT', m.group(1)), text)
    text = WIRE_MARSHAL.sub('', text)
    text = FUNCTION_POINTER.sub(r'\1ULONG_PTR \2', text)
    text = HANDLE.sub(r'typedef [public] void *', text)
    if CALL_AS.search(text):
        text = CALL_AS.sub('', text)
        text = ATTRIBUTES.sub(lambda m: without_local(m) if re.search(r'\blocal\b', m.group(1)) else m.group(0), text)
    return text


def main():
    idl, platform, out = sys.argv[1:4]
    os.makedirs(out, exist_ok=True)
    with open(idl) as f:
        pending = IMPORT.findall(f.read())
    seen = set()
    while pending:
        name = pending.pop()
        if name in seen:
            continue
        seen.add(name)
        source = os.path.join(platform, name)
        if not os.path.exists(source):
            continue
        with open(source) as f:
            text = f.read()
        pending.extend(IMPORT.findall(text))
        target = os.path.join(out, name)
        text = fixed(text)
        old = None
        if os.path.exists(target):
            with open(target) as f:
                old = f.read()
        if old != text:  # unchanged copies keep their time: no rebuild for nothing
            with open(target, 'w') as f:
                f.write(text)


if __name__ == '__main__':
    main()
