#!/usr/bin/python3
"""The NTP segment writer's store order in its arm64 machine code.

    shm_store_order.py OBJDUMP OBJECT...   check shm_write_sample in ntp_shm.cpp.o
    shm_store_order.py --self-test         the check against listings of known order

An arm64 core may make two stores to different addresses visible to another
core in either order; only a barrier (dmb) or a store-release (stlr, for the
stores before it) orders them. An NTP daemon takes a sample when count is the
same before and after its copy of the fields and the copy's valid is 1; the
writer clears valid, raises count, stores the fields, raises count again and
sets valid. Each step must reach the other core in that order, so the code
must have

  - valid's clearing ordered before the first count store (stlr, or a barrier),
  - a barrier between that count store and the first field store,
  - every field store ordered before the second count store (stlr, or a
    barrier between),
  - the second count store ordered before the final store of valid.

The emulated runs of the unit tests cannot show a missing barrier (qemu-user
on this machine keeps the host's stronger order); the code can.
"""

import re
import subprocess
import sys

# The segment's layout, fixed by the protocol (static_asserts in ntp_shm.h).
COUNT, VALID = 4, 48
FIELDS = {8, 16, 24, 32, 36, 52, 56}   # time stamps and leap

STORE_RE = re.compile(r'^(stp|stlr[bh]?|stu?r[bh]?)\s+(\w+),\s*(?:(\w+),\s*)?\[(\w+)(?:,\s*#(-?\w+))?\]$')
ADD_RE = re.compile(r'^add\s+(\w+),\s*(\w+),\s*#(\w+)$')
MOV_RE = re.compile(r'^mov\s+(\w+),\s*(\w+)$')
DEST_RE = re.compile(r'^(?!st|cmp|cmn|tst|b\b|b\.|cb|tb|ret|dmb|dsb|isb|nop)\w+\s+([wx]\d+)\b')


def base(reg):
    return 'x' + reg[1:] if reg[0] in 'wx' else reg


def events(listing):
    """('store', offsets, release) and ('barrier',) in program order."""
    regs = {'x0': 0}   # registers holding the segment's address + offset
    out = []
    for line in listing:
        ins = line.split('//')[0].strip()
        if ins.startswith(('dmb', 'dsb')):
            out.append(('barrier',))
            continue
        m = STORE_RE.match(ins)
        if m:
            op, rt, rt2, rn, imm = m.groups()
            rn = base(rn)
            if rn not in regs:
                raise ValueError(f'store through an unknown address: {ins}')
            off = regs[rn] + (int(imm, 0) if imm else 0)
            size = 8 if rt.startswith('x') else 4
            offs = [off, off + size] if op == 'stp' else [off]
            out.append(('store', offs, op.startswith('stlr')))
            continue
        m = ADD_RE.match(ins)
        if m and base(m.group(2)) in regs:
            regs[base(m.group(1))] = regs[base(m.group(2))] + int(m.group(3), 0)
            continue
        m = MOV_RE.match(ins)
        if m and base(m.group(2)) in regs:
            regs[base(m.group(1))] = regs[base(m.group(2))]
            continue
        m = DEST_RE.match(ins)
        if m:
            regs.pop(base(m.group(1)), None)
    return out


def order_faults(listing):
    """What the code lets a reader on another core see out of order."""
    ev = events(listing)
    stores = [i for i, e in enumerate(ev) if e[0] == 'store']
    fields = [i for i in stores if set(ev[i][1]) & FIELDS]
    valid = [i for i in stores if VALID in ev[i][1]]
    count = [i for i in stores if COUNT in ev[i][1]]
    if not fields or len(valid) < 2 or len(count) != 2:
        return ['the writer does not clear valid, raise count, store fields, '
                'raise count again and set valid']
    barrier = lambda a, b: any(e[0] == 'barrier' for e in ev[a + 1:b])
    # b is seen after a: b comes later and is a store-release or a barrier
    # lies between
    ordered = lambda a, b: a < b and (ev[b][2] or barrier(a, b))
    first_field, last_field = fields[0], fields[-1]
    first_count, second_count = count
    faults = []
    if not ordered(valid[0], first_count):
        faults.append('count may be seen raised before valid is cleared')
    if not (first_count < first_field and barrier(first_count, first_field)):
        faults.append('a field may be seen before count is raised')
    if not ordered(last_field, second_count):
        faults.append('count may be seen raised again before a field')
    if valid[-1] < last_field or not ordered(second_count, valid[-1]):
        faults.append('valid may be seen set before count is raised again')
    return faults


def disassemble(objdump, obj):
    text = subprocess.run([objdump, '-d', '--no-show-raw-insn', '-C', obj],
                          stdout=subprocess.PIPE, check=True, text=True).stdout
    m = re.search(r'<shm_write_sample\(.*?\)>:\n(.*?)(?:\n\n|\Z)', text, re.S)
    if not m:
        raise ValueError(f'no shm_write_sample in {obj}')
    return [l.split('\t', 1)[1] for l in m.group(1).splitlines() if '\t' in l]


# listings of known order: plain stores; count raised once (the old
# writer); store-releases and a fence; a plain final valid; the releases
# through an add; barriers only
SELF_TEST = [
    (['str wzr, [x0, #48]', 'ldr w7, [x0, #4]', 'add w3, w7, #0x1', 'str w3, [x0, #4]',
      'str x1, [x0, #8]', 'stp w1, w2, [x0, #52]', 'str wzr, [x0, #36]', 'add w7, w7, #0x2',
      'str w7, [x0, #4]', 'str w8, [x0, #48]'], 4),
    (['str wzr, [x0, #48]', 'str w3, [x0, #4]', 'dmb ish', 'str x1, [x0, #8]',
      'str w2, [x0, #52]', 'str wzr, [x0, #36]', 'add x0, x0, #0x30', 'stlr w8, [x0]'], 1),
    (['str wzr, [x0, #48]', 'add x4, x0, #0x4', 'stlr w3, [x4]', 'dmb ish',
      'str x1, [x0, #8]', 'str w2, [x0, #52]', 'str wzr, [x0, #36]', 'stlr w5, [x4]',
      'add x0, x0, #0x30', 'stlr w8, [x0]'], 0),
    (['str wzr, [x0, #48]', 'add x4, x0, #0x4', 'stlr w3, [x4]', 'dmb ish',
      'str x1, [x0, #8]', 'stlr w5, [x4]', 'str w8, [x0, #48]'], 1),
    (['str wzr, [x0, #48]', 'dmb ishst', 'str w3, [x0, #4]', 'dmb ishst', 'str x1, [x0, #8]',
      'add x2, x0, #0x30', 'mov x6, x0', 'dmb ish', 'str w5, [x6, #4]', 'mov x0, x5',
      'stlr w8, [x2]'], 0),
]


def self_test():
    bad = [(l, n, order_faults(l)) for l, n in SELF_TEST if len(order_faults(l)) != n]
    for listing, n, got in bad:
        print(f'self-test: expected {n} faults, found {got} in:\n  ' + '\n  '.join(listing))
    return not bad


def main(argv):
    if not self_test():
        return 1
    if argv[1:] == ['--self-test']:
        return 0
    # ctest hands a target's objects over as one ';'-separated argument
    objdump = argv[1]
    objs = [o for a in argv[2:] for o in a.split(';') if o.endswith('ntp_shm.cpp.o')]
    if len(objs) != 1:
        print('no ntp_shm.cpp.o among the objects', file=sys.stderr)
        return 2
    listing = disassemble(objdump, objs[0])
    faults = order_faults(listing)
    for f in faults:
        print(f'shm_write_sample: {f}')
    if faults:
        print('  ' + '\n  '.join(listing))
        return 1
    print(f'shm_write_sample: stores ordered ({len(listing)} instructions)')
    return 0


if __name__ == '__main__':
    sys.exit(main(sys.argv))
