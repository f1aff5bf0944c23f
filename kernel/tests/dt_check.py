#!/usr/bin/python3
"""Checks the board's device-tree bindings and board trees with dt-schema.

    dt_check.py schema WORK           bindings: yamllint, dt-doc-validate,
                                      processed schema, their examples
    dt_check.py tree WORK FILE.dts... board trees against the processed schema
    dt_check.py boards WORK           every testbed/qemu/arm64/*.dts (exit 77: none)

The bindings are checked among the kernel's own (Debian's linux-source-6.1,
unpacked once into WORK): their $refs resolve there, the board trees are
validated against every kernel binding, and the vendor prefixes are merged
into the kernel's list. dt-validate reports violations but exits 0, so any
output of it, of dt-doc-validate or of dtc fails the check.
"""

import hashlib
import os
import re
import shutil
import subprocess
import sys
import tarfile

HERE = os.path.dirname(os.path.abspath(__file__))
KERNEL = os.path.dirname(HERE)
OURS = os.path.join(KERNEL, 'Documentation', 'devicetree', 'bindings')
BOARDS = os.path.join(os.path.dirname(KERNEL), 'testbed', 'qemu', 'arm64')
LINUX_SOURCE = os.environ.get('KX_LINUX_SOURCE', '/usr/src/linux-source-6.1.tar.xz')
BINDINGS_IN_TAR = 'Documentation/devicetree/bindings/'
DT_INCLUDES_IN_TAR = 'include/dt-bindings/'

# compatibles of this board's drivers; a board tree must carry both
PPSTIMER = 'gtop,ppstimer'
PPS_UART = 'quellon,pps-uart'

# dtc warnings as the kernel builds trees with W=1 (it always turns off
# interrupt_provider, whose demand of #address-cells the schemas forbid) ...
TREE_DTC_FLAGS = ['-Wno-interrupt_provider']
# ... and binding examples
EXAMPLE_DTC_FLAGS = TREE_DTC_FLAGS + ['-Wno-avoid_unnecessary_addr_size', '-Wno-graph_child_address',
                                      '-Wno-unique_unit_address']


class CheckFailed(Exception):
    pass


def run(cmd, what, allow_output=False):
    """Runs a tool; a failure, or any output where none is allowed, fails."""
    res = subprocess.run(cmd, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    out = res.stdout.strip()
    if res.returncode != 0 or (out and not allow_output):
        raise CheckFailed(f'{what}: {" ".join(cmd)} (exit {res.returncode})\n{out}')
    return out


def our_bindings():
    files = []
    for root, _, names in os.walk(OURS):
        files += [os.path.join(root, n) for n in names if n.endswith('.yaml')]
    return sorted(files)


def unpack_linux(work):
    """The kernel's bindings and dt-bindings headers, unpacked once per tarball."""
    st = os.stat(LINUX_SOURCE)
    stamp = f'{LINUX_SOURCE} {st.st_size} {int(st.st_mtime)}'
    dest = os.path.join(work, 'linux')
    stamp_file = os.path.join(work, 'linux.stamp')
    if os.path.exists(stamp_file) and open(stamp_file).read() == stamp:
        return dest
    shutil.rmtree(dest, ignore_errors=True)
    os.makedirs(dest)
    with tarfile.open(LINUX_SOURCE) as tar:
        def wanted():
            for m in tar:
                name = m.name.split('/', 1)[-1]
                if (m.isfile() and not m.name.startswith('/') and '..' not in m.name
                        and name.startswith((BINDINGS_IN_TAR, DT_INCLUDES_IN_TAR))):
                    m.name = name
                    yield m
        tar.extractall(dest, members=wanted())
    open(stamp_file, 'w').write(stamp)
    return dest


PREFIX_RE = re.compile(r'^  "\^([^,"]+),\.\*":$')


def prefix_entries(lines):
    """(prefix, entry lines) of a vendor-prefixes.yaml's alphabetical list."""
    entries = []
    for i, line in enumerate(lines):
        m = PREFIX_RE.match(line)
        if m:
            end = i + 1
            while end < len(lines) and lines[end].startswith('    '):
                end += 1
            entries.append((m.group(1), i, lines[i:end]))
    return entries


def merge_vendor_prefixes(kernel_file, ours_file):
    """Inserts our entries into the kernel's list, keeping its order."""
    lines = open(kernel_file).read().splitlines(True)
    theirs = prefix_entries(lines)
    for prefix, _, entry in prefix_entries(open(ours_file).read().splitlines(True)):
        if any(p == prefix for p, _, _ in theirs):
            raise CheckFailed(f'vendor prefix "{prefix}" is already in the kernel\'s list')
        after = [i for p, i, _ in theirs if p > prefix]
        at = after[0] if after else theirs[-1][1] + len(theirs[-1][2])
        lines[at:at] = entry
        theirs = prefix_entries(lines)
    open(kernel_file, 'w').writelines(lines)


def schema_tree(work, linux):
    """WORK/bindings: the kernel's bindings with ours laid over them."""
    tree = os.path.join(work, 'bindings')
    shutil.rmtree(tree, ignore_errors=True)
    shutil.copytree(os.path.join(linux, BINDINGS_IN_TAR), tree)
    placed = []
    for src in our_bindings():
        rel = os.path.relpath(src, OURS)
        dst = os.path.join(tree, rel)
        if rel == 'vendor-prefixes.yaml':
            merge_vendor_prefixes(dst, src)
        else:
            if os.path.exists(dst):
                raise CheckFailed(f'{rel} is also a kernel binding')
            os.makedirs(os.path.dirname(dst), exist_ok=True)
            shutil.copyfile(src, dst)
        placed.append(dst)
    return tree, placed


def processed_schema(work, tree):
    """dt-mk-schema over the whole tree, redone only when a binding changed."""
    out = os.path.join(work, 'processed-schema.json')
    key = hashlib.sha256()
    for f in our_bindings() + [os.path.join(work, 'linux.stamp')]:
        key.update(f.encode() + b'\0' + open(f, 'rb').read())
    key_file = out + '.key'
    if os.path.exists(out) and os.path.exists(key_file) and open(key_file).read() == key.hexdigest():
        return out
    res = subprocess.run(['dt-mk-schema', '-j', '-o', out, tree],
                         stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    # the kernel's own schemas may draw remarks from this dt-schema; ours may not
    ours = [l for l in res.stdout.splitlines()
            if any(os.path.relpath(f, OURS) in l for f in our_bindings())]
    if res.returncode != 0 or ours:
        raise CheckFailed(f'dt-mk-schema (exit {res.returncode}):\n{res.stdout}')
    open(key_file, 'w').write(key.hexdigest())
    return out


def compile_dts(src, dtb, linux, dtc_flags):
    pre = dtb[:-4] + '.pre.dts'
    run(['cpp', '-P', '-nostdinc', '-undef', '-D__DTS__', '-x', 'assembler-with-cpp',
         '-I', os.path.dirname(src), '-I', os.path.join(linux, 'include'),
         '-o', pre, src], f'preprocessing {src}')
    run(['dtc', '-I', 'dts', '-O', 'dtb', *dtc_flags,
         '-o', dtb, pre], f'compiling {src}')


def validate(dtb, schema):
    run(['dt-validate', '-s', schema, dtb], f'validating {dtb}')


def check_schema(work):
    os.makedirs(work, exist_ok=True)
    linux = unpack_linux(work)
    tree, placed = schema_tree(work, linux)
    lint = os.path.join(linux, BINDINGS_IN_TAR, '.yamllint')
    run(['yamllint', '--strict', '-f', 'parsable', '-c', lint] + our_bindings(), 'yamllint')
    for f in placed:
        run(['dt-doc-validate', '-u', tree, f], 'dt-doc-validate')
    schema = processed_schema(work, tree)
    exdir = os.path.join(work, 'examples')
    os.makedirs(exdir, exist_ok=True)
    for f in placed:
        if os.path.basename(f) == 'vendor-prefixes.yaml':
            continue
        name = os.path.splitext(os.path.basename(f))[0]
        dts = os.path.join(exdir, name + '.example.dts')
        open(dts, 'w').write(run(['dt-extract-example', f], 'dt-extract-example',
                                 allow_output=True))
        dtb = dts[:-4] + '.dtb'
        compile_dts(dts, dtb, linux, EXAMPLE_DTC_FLAGS)
        validate(dtb, schema)
        print(f'ok  {os.path.relpath(f, tree)} and its example')


# ---- board trees: the links the drivers follow -------------------------------

NODE_RE = re.compile(r'^\s*(\S+) \{$')
PROP_RE = re.compile(r'^\s*([^\s=]+)(?: = (.*))?;$')


def read_tree(dtb):
    """The nodes of a compiled tree: {path: {property: raw value or None}}."""
    text = run(['dtc', '-I', 'dtb', '-O', 'dts', dtb], f'decompiling {dtb}', allow_output=True)
    nodes, stack = {}, []
    for line in text.splitlines():
        m = NODE_RE.match(line)
        if m:
            stack.append(m.group(1))
            path = '/' + '/'.join(stack[1:])
            nodes[path] = {}
            continue
        if line.strip() == '};':
            stack.pop()
            continue
        m = PROP_RE.match(line)
        if m and stack:
            nodes['/' + '/'.join(stack[1:])][m.group(1)] = m.group(2)
    return nodes


def cells(value):
    m = re.fullmatch(r'<(.*)>', value or '')
    return [int(c, 0) for c in m.group(1).split()] if m else []


def strings(value):
    return re.findall(r'"([^"]*)"', value or '')


def check_links(nodes):
    """What the drivers look up beyond the schemas: pwm4's interrupt, the
    MACs' PHYs, the receiver under a UART. Returns the problems found."""
    by_phandle = {cells(p['phandle'])[0]: path for path, p in nodes.items()
                  if cells(p.get('phandle'))}
    problems = []

    def follow(path, prop):
        target = by_phandle.get((cells(nodes[path].get(prop)) or [None])[0])
        if target is None:
            problems.append(f'{path}: {prop} does not lead to a node')
        return target

    timers = [p for p, n in nodes.items() if PPSTIMER in strings(n.get('compatible'))]
    uarts = [p for p, n in nodes.items() if PPS_UART in strings(n.get('compatible'))]
    for compat, found in ((PPSTIMER, timers), (PPS_UART, uarts)):
        if not found:
            problems.append(f'no node is compatible with "{compat}"')
    if timers:
        pwm4 = [p for p, n in nodes.items() if p.rsplit('/', 1)[-1].split('@')[0] == 'pwm4']
        if not pwm4 or not ({'interrupts', 'interrupts-extended'} & set(nodes[pwm4[0]])):
            problems.append('no node named "pwm4" with an interrupt (the pulse capture)')
    for timer in timers:
        for port in ('port0-mac', 'port1-mac'):
            mac = follow(timer, port)
            if mac:
                follow(mac, 'phy-handle')
    for uart in uarts:
        parent = uart.rsplit('/', 1)[0]
        if not parent or 'compatible' not in nodes[parent]:
            problems.append(f'{uart}: not the child of a UART node')
    return problems


def check_trees(work, files):
    linux = os.path.join(work, 'linux')
    schema = os.path.join(work, 'processed-schema.json')
    if not os.path.exists(schema):
        raise CheckFailed(f'no {schema}: run "{sys.argv[0]} schema {work}" first')
    outdir = os.path.join(work, 'trees')
    os.makedirs(outdir, exist_ok=True)
    for src in files:
        dtb = os.path.join(outdir, os.path.splitext(os.path.basename(src))[0] + '.dtb')
        compile_dts(src, dtb, linux, TREE_DTC_FLAGS)
        validate(dtb, schema)
        problems = check_links(read_tree(dtb))
        if problems:
            raise CheckFailed(f'{src}:\n  ' + '\n  '.join(problems))
        print(f'ok  {src}')


def main(argv):
    if len(argv) < 3 or argv[1] not in ('schema', 'tree', 'boards'):
        print(__doc__, file=sys.stderr)
        return 2
    work = os.path.abspath(argv[2])
    try:
        if argv[1] == 'schema':
            check_schema(work)
        elif argv[1] == 'tree':
            check_trees(work, argv[3:])
        else:
            boards = sorted(os.path.join(BOARDS, f) for f in os.listdir(BOARDS)
                            if f.endswith('.dts')) if os.path.isdir(BOARDS) else []
            if not boards:
                print(f'no board trees in {BOARDS}')
                return 77
            check_trees(work, boards)
    except CheckFailed as e:
        print(f'FAIL {e}', file=sys.stderr)
        return 1
    return 0


if __name__ == '__main__':
    sys.exit(main(sys.argv))
