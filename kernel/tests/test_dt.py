"""The device-tree check against broken board trees.

Each case breaks dt/board-min.dts in one way; dt_check.py must fail and name
the fault. The unbroken tree must pass, so a failure is the break's doing.
Needs the processed schema of "dt_check.py schema" in $KX_DT_WORK.
"""

import os
import re
import subprocess

import pytest

HERE = os.path.dirname(os.path.abspath(__file__))
CHECK = os.path.join(HERE, 'dt_check.py')
BASE = os.path.join(HERE, 'dt', 'board-min.dts')
WORK = os.environ.get('KX_DT_WORK', '')

# (case, [(text in the tree, replacement)...], what the check must say)
BREAKS = [
    ('intact', [], None),
    ('missing port1-mac', [('\t\tport1-mac = <&eth1>;\n', '')],
     r"'port1-mac' is a required property"),
    ('misspelt LED property', [('pps-led-gpios', 'ppsled-gpios')], r'ppsled-gpios'),
    ('two LEDs', [('<&gpio2 3 GPIO_ACTIVE_HIGH>', '<&gpio2 3 0>, <&gpio2 4 0>')],
     r'pps-led-gpios.* is too long'),
    ('MAC with an argument', [('port0-mac = <&eth0>', 'port0-mac = <&eth0 1>')], r'port0-mac'),
    ('speed as text', [('current-speed = <9600>', 'current-speed = "9600"')], r'current-speed'),
    ('flow control with a value', [('hw-flow-control;', 'hw-flow-control = <1>;')],
     r'hw-flow-control'),
    ('unknown receiver property', [('hw-flow-control;', 'hw-flow-control;\n\t\t\tbaud = <1>;')],
     r"'baud' was unexpected"),
    ('receiver node not named gnss', [('\t\tgnss {', '\t\tgps {')], r"'gps' does not match"),
    ('misspelt timer compatible', [('"gtop,ppstimer"', '"gtop,pps-timer"')],
     r'no node is compatible with "gtop,ppstimer"'),
    ('no receiver', [('"quellon,pps-uart"', '"quellon,pps-uart2"')],
     r'no node is compatible with "quellon,pps-uart"'),
    ('capture node renamed', [('pwm4@424f0000', 'pwm@424f0000')],
     r'no node named "pwm4" with an interrupt'),
    ('capture node without interrupt',
     [('\t\tinterrupts = <GIC_SPI 76 IRQ_TYPE_LEVEL_HIGH>;\n', '')],
     r'no node named "pwm4" with an interrupt'),
    ('MAC without PHY', [('\t\tphy-handle = <&phy1>;\n', '')],
     r'/ethernet-1: phy-handle does not lead to a node'),
    ('MAC pointing at no node', [('port0-mac = <&eth0>', 'port0-mac = <0x7777>')],
     r'port0-mac does not lead to a node'),
    # outside a UART the serial bus never sees the receiver
    ('receiver at the root',
     [('\n\t\tgnss {\n\t\t\tcompatible = "quellon,pps-uart";\n'
       '\t\t\tcurrent-speed = <9600>;\n\t\t\thw-flow-control;\n\t\t};\n', ''),
      ('\tpps-timer {', '\tgnss {\n\t\tcompatible = "quellon,pps-uart";\n\t};\n\n\tpps-timer {')],
     r'/gnss: not the child of a UART node'),
    # any dtc warning fails too
    ('unit address without reg', [('\t\treg = <0x0 0x424f0000 0x0 0x1000>;\n', '')],
     r'unit_address_vs_reg'),
]


def broken_tree(tmp_path, edits):
    text = open(BASE).read()
    for find, replace in edits:
        assert text.count(find) == 1, f'{find!r} must occur once in the base tree'
        text = text.replace(find, replace)
    path = tmp_path / 'board.dts'
    path.write_text(text)
    return path


@pytest.mark.parametrize('case,edits,expect', BREAKS, ids=[b[0] for b in BREAKS])
def test_broken_tree_is_refused(tmp_path, case, edits, expect):
    assert WORK, 'KX_DT_WORK names the work directory of "dt_check.py schema"'
    tree = broken_tree(tmp_path, edits)
    res = subprocess.run(['/usr/bin/python3', CHECK, 'tree', WORK, str(tree)],
                         stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    if expect is None:
        assert res.returncode == 0, res.stdout
    else:
        assert res.returncode == 1, res.stdout
        assert re.search(expect, res.stdout), res.stdout
