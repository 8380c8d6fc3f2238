#!/usr/bin/env python3
"""Checks the compiled string tables against the translation document.

    tools/check_string_tables.py TRANSLATIONS.md BUILD_DIR/tests/res_table_dump

Reads the texts out of the markdown document, and the wizard's added texts
out of res/added_texts.md, on its own (whole-row regular expressions, unlike
the cell splitter of gen_string_tables.py), runs the dump program in a UTF-8
locale, and compares language values, codes, identifiers, row order and every
text byte for byte. Prints each difference; exits 0 only when all texts
agree.
"""

import os
import re
import subprocess
import sys

# | 3 | "en" | English |
LANG_ROW = re.compile(r'^\|\s*(\d+)\s*\|\s*"([a-z]{2})"\s*\|\s*[A-Z][a-z]+\s*\|\s*$')
# | 1 | "IDS_WIZARD_BACK" | "< Back" | "< Назад" | `...` |
PAIR_ROW = re.compile(r'^\|\s*(\d+)\s*\|\s*"(ID[A-Z_]+)"\s*\|\s*"([^"]*)"\s*\|\s*"([^"]*)"\s*\|[^"]*$')
# Ukrainian, code "uk", `LangIdType` value 2:
SECTION = re.compile(r'code "([a-z]{2})", `LangIdType` value (\d+):\s*$')
# | 1 | "IDS_WIZARD_BACK" | "< Попередня" |
SINGLE_ROW = re.compile(r'^\|\s*(\d+)\s*\|\s*"(ID[A-Z_]+)"\s*\|\s*"([^"]*)"\s*\|\s*$')


ADDED_TEXTS = os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', 'res',
                           'added_texts.md')
# The original tables' 31 texts and the added ones, in twelve languages.
EXPECTED_TEXTS = 12 * (31 + 14)


def expected_texts(paths):
    """{(value, code, row, identifier): utf-8 bytes} from the documents; the
    language values come from the first one's language table."""
    values = {}
    rows = {}
    lines = []
    for path in paths:
        with open(path, 'rb') as f:
            lines += f.read().decode('utf-8').split('\n')
    section = None
    for line in lines:
        m = LANG_ROW.match(line)
        if m:
            values[m.group(2)] = int(m.group(1))
            continue
        m = PAIR_ROW.match(line)
        if m:
            row, ident = int(m.group(1)), m.group(2)
            rows[('en', row, ident)] = m.group(3)
            rows[('ru', row, ident)] = m.group(4)
            continue
        m = SECTION.search(line)
        if m:
            section = m.group(1)
            if values.get(section) != int(m.group(2)):
                sys.exit(f'{section}: value {m.group(2)} disagrees with the language table')
            continue
        m = SINGLE_ROW.match(line)
        if m and section:
            rows[(section, int(m.group(1)), m.group(2))] = m.group(3)
    return {(values[c], c, r, i): t.encode('utf-8') for (c, r, i), t in rows.items()}


def compiled_texts(dump):
    env = dict(os.environ, LC_ALL='C.UTF-8', LANG='C.UTF-8')
    out = subprocess.run([dump], check=True, capture_output=True, env=env).stdout
    texts = {}
    for line in out.decode('ascii').splitlines():
        value, code, row, ident, hexed = line.split('\t')
        texts[(int(value), code, int(row), ident)] = bytes.fromhex(hexed)
    return texts


def main(argv):
    if len(argv) != 3:
        sys.stderr.write(__doc__)
        return 2
    expected = expected_texts([argv[1], ADDED_TEXTS])
    actual = compiled_texts(argv[2])
    problems = 0
    for key in sorted(set(expected) | set(actual)):
        if key not in actual:
            print(f'missing in the program: {key}')
        elif key not in expected:
            print(f'not in the document: {key}')
        elif expected[key] != actual[key]:
            print(f'differs: {key}\n  document: {expected[key]!r}\n  program:  {actual[key]!r}')
        else:
            continue
        problems += 1
    languages = len({key[1] for key in expected})
    print(f'{len(expected)} texts in the document ({languages} languages), '
          f'{len(actual)} in the program, {problems} differences')
    return 0 if problems == 0 and len(expected) == EXPECTED_TEXTS else 1


if __name__ == '__main__':
    sys.exit(main(sys.argv))
