#!/usr/bin/python3
"""Prints what a screen reader sees of one program, through AT-SPI.

    atspi_tree.py --check       exit 0 when AT-SPI can be read here, else 77
    atspi_tree.py PID           the accessibility tree of process PID

One line per object, depth first: role, name, states (focused, checked,
showing), the current value (for objects that have one) and the names of
the objects it is labelled by, separated by tabs. Waits up to 10 s for the
program to appear on the accessibility bus (exit 2 when it does not).
"""
import glob
import sys
import time

try:
    import pyatspi
except ImportError:
    pyatspi = None

# GTK's accessibility bridge module, where Debian-like and other systems
# keep GTK 2's modules.
BRIDGE = ('/usr/lib/*/gtk-2.0/modules/libatk-bridge.so',
          '/usr/lib*/gtk-2.0/modules/libatk-bridge.so')


def line(node):
    states = node.getState()
    shown = [name for name, state in (('focused', pyatspi.STATE_FOCUSED),
                                      ('checked', pyatspi.STATE_CHECKED),
                                      ('showing', pyatspi.STATE_SHOWING))
             if states.contains(state)]
    try:
        value = '%g' % node.queryValue().currentValue
    except NotImplementedError:
        value = ''
    labels = [relation.getTarget(i).name for relation in node.getRelationSet()
              if relation.getRelationType() == pyatspi.RELATION_LABELLED_BY
              for i in range(relation.getNTargets())]
    return '\t'.join([node.getRoleName(), node.name or '', ','.join(shown), value,
                      ','.join(labels)])


def walk(node):
    print(line(node))
    for i in range(node.childCount):
        walk(node.getChildAtIndex(i))


def main(argv):
    if pyatspi is None or not any(glob.glob(pattern) for pattern in BRIDGE):
        return 77
    if argv[1] == '--check':
        return 0
    pid = int(argv[1])
    for _ in range(100):
        desktop = pyatspi.Registry.getDesktop(0)
        for app in (desktop.getChildAtIndex(i) for i in range(desktop.childCount)):
            if app is not None and app.get_process_id() == pid:
                walk(app)
                return 0
        time.sleep(0.1)
    return 2


if __name__ == '__main__':
    sys.exit(main(sys.argv))
