#!/usr/bin/env python3
"""Generates the string tables in res/ from the translation document.

    tools/gen_string_tables.py TRANSLATIONS.md [OUTPUT_DIR]

TRANSLATIONS.md is the markdown document that holds the translation tables:

  * the language table, rows "| <value> | "<code>" | <language name> |";
  * the two-language table whose header is
    "| # | Identifier | English text | Russian text | ... |";
  * one table per further language, introduced by a line
    '<Language>, code "<code>", `LangIdType` value <n>:' and made of rows
    '| <n> | "<identifier>" | "<text>" |'.

The wizard's own texts beyond those 31 identifiers are in res/added_texts.md
(beside the generated files in the repository, whatever OUTPUT_DIR is): one
table per language, introduced like the tables above, whose rows go on from
32 with the same identifiers in every language. They are appended to each
language's texts in their order.

A text is everything between the first and the last double quote of its cell.
The document holds the texts literally; a backslash anywhere in a row would
be a markdown escape whose meaning is ambiguous, so the script refuses it
instead of guessing.

Writes OUTPUT_DIR/lang_<code>.cc (one array per language, identifiers in
table order) and OUTPUT_DIR/lang_list.cc (the languages in ascending value).
OUTPUT_DIR defaults to res/ beside this script. The generated files are
committed, so the build itself never needs Python.
"""

import os
import re
import sys

EXPECTED_IDENTIFIERS = 31
EXPECTED_LANGUAGES = 12
ADDED_TEXTS = os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', 'res',
                           'added_texts.md')

LANGUAGE_ROW = re.compile(r'^\| (\d+) \| "([a-z]{2})" \| ([A-Za-z]+) \|$')
PAIR_HEADER = re.compile(r'^\| # \| Identifier \| English text \| Russian text \|')
LANGUAGE_INTRO = re.compile(r'^([A-Z][a-z]+), code "([a-z]{2})", `LangIdType` value (\d+):$')
NUMBERED_ROW = re.compile(r'^\| (\d+) \|')


class TableError(Exception):
    pass


def split_cells(line, lineno):
    """Cells of a markdown table row, without the outer bars, untrimmed."""
    if '\\' in line:
        raise TableError(f'line {lineno}: backslash in a table row; refusing to guess '
                         'what the escape means')
    if not (line.startswith('|') and line.endswith('|')):
        raise TableError(f'line {lineno}: not a table row')
    return [cell.strip(' ') for cell in line[1:-1].split('|')]


def quoted(cell, lineno):
    """The text between the first and the last double quote of a cell."""
    if len(cell) < 2 or not (cell.startswith('"') and cell.endswith('"')):
        raise TableError(f'line {lineno}: cell {cell!r} is not a quoted text')
    return cell[1:-1]


def parse(lines):
    """Returns (languages, tables).

    languages: list of (value, code, name) ascending by value.
    tables: dict code -> list of (identifier, text) in table order.
    """
    languages = []
    tables = {}
    state = None   # None, 'pairs' or a language code
    expected_row = 1
    for lineno, raw in enumerate(lines, 1):
        line = raw.rstrip('\n')
        m = LANGUAGE_ROW.match(line)
        if m and state is None:
            languages.append((int(m.group(1)), m.group(2), m.group(3)))
            continue
        if PAIR_HEADER.match(line):
            if 'en' in tables or 'ru' in tables:
                raise TableError(f'line {lineno}: second English/Russian table')
            tables['en'], tables['ru'] = [], []
            state, expected_row = 'pairs', 1
            continue
        m = LANGUAGE_INTRO.match(line)
        if m:
            code = m.group(2)
            if code in tables:
                raise TableError(f'line {lineno}: second table for {code}')
            tables[code] = []
            state, expected_row = code, 1
            continue
        if state is None:
            continue
        if line.startswith('| # |') or line.startswith('|---'):
            continue
        if not NUMBERED_ROW.match(line):
            # A table ends at its first line that is not a numbered row, but
            # only once all its rows were seen; a gap inside is an error.
            if line.strip() == '' and expected_row == 1:
                continue
            if expected_row != EXPECTED_IDENTIFIERS + 1:
                raise TableError(f'line {lineno}: table ended after {expected_row - 1} rows')
            state = None
            continue
        cells = split_cells(line, lineno)
        if int(cells[0]) != expected_row:
            raise TableError(f'line {lineno}: row {cells[0]}, expected {expected_row}')
        identifier = quoted(cells[1], lineno)
        if state == 'pairs':
            if len(cells) != 5:
                raise TableError(f'line {lineno}: {len(cells)} cells, expected 5')
            tables['en'].append((identifier, quoted(cells[2], lineno)))
            tables['ru'].append((identifier, quoted(cells[3], lineno)))
        else:
            if len(cells) != 3:
                raise TableError(f'line {lineno}: {len(cells)} cells, expected 3')
            tables[state].append((identifier, quoted(cells[2], lineno)))
        expected_row += 1
    return languages, tables


def validate(languages, tables):
    if [v for v, _, _ in languages] != list(range(1, EXPECTED_LANGUAGES + 1)):
        raise TableError(f'language values {[v for v, _, _ in languages]}')
    codes = [c for _, c, _ in languages]
    if sorted(codes) != sorted(tables):
        raise TableError(f'languages {codes} but tables for {sorted(tables)}')
    english = [identifier for identifier, _ in tables['en']]
    if len(english) != EXPECTED_IDENTIFIERS or len(set(english)) != len(english):
        raise TableError('English table does not hold 31 distinct identifiers')
    for code, pairs in tables.items():
        if [identifier for identifier, _ in pairs] != english:
            raise TableError(f'{code}: identifiers differ from English')


def add_texts(lines, tables):
    """Appends the added texts (res/added_texts.md) to `tables`.

    Each language's rows go on from the end of its table; every language has
    the same new identifiers in the same order, none of them already there.
    Returns how many identifiers were added.
    """
    added = {}
    code = None
    for lineno, raw in enumerate(lines, 1):
        line = raw.rstrip('\n')
        m = LANGUAGE_INTRO.match(line)
        if m:
            code = m.group(2)
            if code in added or code not in tables:
                raise TableError(f'line {lineno}: unexpected table for {code}')
            added[code] = []
            continue
        if code is None or not NUMBERED_ROW.match(line):
            continue
        cells = split_cells(line, lineno)
        if len(cells) != 3:
            raise TableError(f'line {lineno}: {len(cells)} cells, expected 3')
        expected_row = EXPECTED_IDENTIFIERS + len(added[code]) + 1
        if int(cells[0]) != expected_row:
            raise TableError(f'line {lineno}: row {cells[0]}, expected {expected_row}')
        added[code].append((quoted(cells[1], lineno), quoted(cells[2], lineno)))
    if sorted(added) != sorted(tables):
        raise TableError(f'added texts for {sorted(added)}, tables for {sorted(tables)}')
    new = [identifier for identifier, _ in added['en']]
    old = {identifier for identifier, _ in tables['en']}
    if not new or len(set(new)) != len(new) or old & set(new):
        raise TableError('the added identifiers are not new and distinct')
    for code, pairs in added.items():
        if [identifier for identifier, _ in pairs] != new:
            raise TableError(f'{code}: added identifiers differ from English')
        tables[code].extend(pairs)
    return len(new)


def c_literal(text):
    """A C++ narrow string literal holding the UTF-8 bytes of `text`."""
    out = []
    previous = ''
    for ch in text:
        if ch in '"\\':
            out.append('\\' + ch)
        elif ch == '?' and previous == '?':
            out.append('\\?')   # never let two question marks start a trigraph
        elif ord(ch) < 0x20 or ord(ch) == 0x7f:
            out.append('\\%03o' % ord(ch))
        else:
            out.append(ch)
        previous = ch
    return '"' + ''.join(out) + '"'


def array_name(code):
    return 'kStrings' + code.capitalize()


HEADER = '// Generated by tools/gen_string_tables.py from the translation tables;\n' \
         '// regenerate instead of editing by hand.\n'


def language_source(value, code, name, pairs):
    lines = [HEADER,
             f'// {name} texts (code "{code}", language {value}), in table order.',
             '#include "res/lang_tables.h"', '',
             # No bound here: a count that disagrees with kResStringCount
             # in res/lang_tables.h is then a compile error.
             f'const ResStringEntry {array_name(code)}[] = {{']
    for identifier, text in pairs:
        lines.append(f'    {{{c_literal(identifier)}, {c_literal(text)}}},')
    lines.append('};')
    return '\n'.join(lines) + '\n'


def list_source(languages):
    lines = [HEADER,
             '// The languages that have a table, ascending by value.',
             '#include "res/lang_tables.h"', '',
             'const LangTable kLangTables[kLangTableCount] = {']
    for value, code, name in languages:
        lines.append(f'    {{{value}, {c_literal(code)}, {array_name(code)}}},  // {name}')
    lines.append('};')
    return '\n'.join(lines) + '\n'


def main(argv):
    if len(argv) not in (2, 3):
        sys.stderr.write(__doc__)
        return 2
    out_dir = argv[2] if len(argv) == 3 else os.path.join(
        os.path.dirname(os.path.abspath(__file__)), '..', 'res')
    with open(argv[1], encoding='utf-8', newline='') as f:
        lines = f.read().split('\n')
    with open(ADDED_TEXTS, encoding='utf-8', newline='') as f:
        added_lines = f.read().split('\n')
    try:
        languages, tables = parse(lines)
        validate(languages, tables)
    except TableError as e:
        sys.stderr.write(f'{argv[1]}: {e}\n')
        return 1
    try:
        added = add_texts(added_lines, tables)
    except TableError as e:
        sys.stderr.write(f'{os.path.normpath(ADDED_TEXTS)}: {e}\n')
        return 1
    outputs = {'lang_list.cc': list_source(languages)}
    for value, code, name in languages:
        outputs[f'lang_{code}.cc'] = language_source(value, code, name, tables[code])
    for file_name, text in outputs.items():
        with open(os.path.join(out_dir, file_name), 'w', encoding='utf-8', newline='\n') as f:
            f.write(text)
    count = sum(len(pairs) for pairs in tables.values())
    print(f'{len(languages)} languages, {count} texts ({added} identifiers added) written to '
          f'{os.path.normpath(out_dir)}')
    return 0


if __name__ == '__main__':
    sys.exit(main(sys.argv))
