#!/usr/bin/python3
# Prints what a screen reader sees of the program whose process id is the
# argument, through AT-SPI: one line per object, depth first, with its role,
# name, states (focused, checked, showing, in that order), current value and
# the names of the objects it is labelled by, separated by tabs. Exits with
# 77 without pyatspi, and with 2 when the program has not appeared on the
# accessibility bus within 10 s.
import sys
import time

try:
    import pyatspi
except ImportError:
    sys.exit(77)


def walk(node):
    states = ','.join(name for name in ('focused', 'checked', 'showing')
                      if node.getState().contains(getattr(pyatspi, 'STATE_' + name.upper())))
    value = '%g' % node.queryValue().currentValue if 'Value' in node.get_interfaces() else ''
    labels = ','.join(r.getTarget(i).name for r in node.getRelationSet()
                      if r.getRelationType() == pyatspi.RELATION_LABELLED_BY
                      for i in range(r.getNTargets()))
    print('\t'.join([node.getRoleName(), node.name or '', states, value, labels]))
    for child in node:
        walk(child)


for _ in range(100):
    for app in pyatspi.Registry.getDesktop(0):
        if app is not None and app.get_process_id() == int(sys.argv[1]):
            walk(app)
            sys.exit(0)
    time.sleep(0.1)
sys.exit(2)
