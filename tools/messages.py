#!/usr/bin/env python3
"""The control's texts, from their one catalogue (src/control/Messages.txt), in the forms the
build and the page SDK take, with the codes they go by read where they are defined: the crypto
engine's statuses from src/interfaces/ovalon.h, the zip core's statuses and their system error
codes from src/core/zip/zipcore.h.
  --header OUT   C++ header of wide literals (msg::kName), for the control
  --rc OUT       string table entries of the module (STRINGTABLE lines, escaped)
  --sdk OUT      the page SDK's messages.js (from tools/messages.sdk.js.in)
  --check-sdk F  exit 1 unless F is what --sdk would write
The SDK's file also holds the English texts of src/control/Messages.en.txt (an object opened with
{ language: 'en' }); the header and the string table take the Chinese catalogue alone.
"""
import argparse
import os
import re
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
CATALOGUE = os.path.join(ROOT, 'src', 'control', 'Messages.txt')
ENGLISH = os.path.join(ROOT, 'src', 'control', 'Messages.en.txt')
SDK_TEMPLATE = os.path.join(ROOT, 'tools', 'messages.sdk.js.in')
ENGINE_HEADER = os.path.join(ROOT, 'src', 'interfaces', 'ovalon.h')
ZIP_HEADER = os.path.join(ROOT, 'src', 'core', 'zip', 'zipcore.h')


def engine_statuses(path=ENGINE_HEADER):
    """The crypto engine's failure statuses, {OVALON_E_NAME: value}, as ovalon.h defines them."""
    with open(path, encoding='utf-8') as f:
        found = re.findall(r'^#define\s+(OVALON_E_\w+)\s+(0x[0-9A-Fa-f]+|\d+)\b', f.read(), re.M)
    if not found:
        sys.exit(f'{path}: no OVALON_E_ status defined')
    return {name: int(value, 0) for name, value in found}


def zip_statuses(path=ZIP_HEADER):
    """The zip core's statuses in their order, [(Name, text, system error code)], from the
    X(Name, "text", code) lines of ZIPCORE_STATUSES in zipcore.h."""
    with open(path, encoding='utf-8') as f:
        source = f.read()
    block = re.search(r'#define ZIPCORE_STATUSES\(X\)(.*?)\n\s*\n', source, re.S)
    if not block:
        sys.exit(f'{path}: no ZIPCORE_STATUSES list')
    rows = [(name, text, int(code)) for name, text, code in
            re.findall(r'\bX\((\w+),\s*"([^"]*)",\s*(\d+)\)', block.group(1))]
    if len(rows) != block.group(1).count('X('):
        sys.exit(f'{path}: a ZIPCORE_STATUSES line is not X(Name, "text", code)')
    return rows


class Entry:
    def __init__(self, name, section, attributes, text):
        self.name, self.section, self.attributes, self.text = name, section, attributes, text


def read_catalogue(path=CATALOGUE):
    entries, section = [], ''
    with open(path, encoding='utf-8') as f:
        for number, line in enumerate(f, 1):
            line = line.rstrip('\n')
            if not line.strip() or line.startswith('#'):
                continue
            if re.fullmatch(r'\[\w*\]', line):
                section = line[1:-1]
                continue
            head, bar, text = line.partition(' | ')
            if not bar:
                sys.exit(f'{path}:{number}: no " | " between name and text')
            words = head.split()
            attributes = dict(w.split('=', 1) for w in words[1:])
            entries.append(Entry(words[0], section, attributes, text))
    statuses = engine_statuses()
    for e in entries:
        status = e.attributes.get('engine')
        if status and status != 'unknown':
            if status not in statuses:
                sys.exit(f'{path}: {e.name}: engine={status} is not a status of {ENGINE_HEADER}')
            e.engine = statuses[status]
        else:
            e.engine = None
    texted = {e.attributes.get('engine') for e in entries}
    untexted = sorted(set(statuses) - texted)
    if untexted:
        sys.exit(f'{path}: no text for the crypto engine statuses {untexted}')
    if 'unknown' not in texted:
        sys.exit(f'{path}: no text for an unknown engine status (engine=unknown)')
    names = [e.name for e in entries]
    duplicates = {n for n in names if names.count(n) > 1}
    if duplicates:
        sys.exit(f'{path}: names used twice: {sorted(duplicates)}')
    texts = [e.text for e in entries if not e.name.startswith('sdk:')]
    twice = {t for t in texts if texts.count(t) > 1}
    if twice:
        sys.exit(f'{path}: texts written twice: {sorted(twice)}')
    return entries


CONVERSION = re.compile(r'%(?:s|d|u|lu|lld|04X)')


def read_english(entries, path=ENGLISH):
    """{Name: English text} for every line of the catalogue a page can meet (sdk=, sdk:, engine=),
    each with the Chinese text's conversions in the same order and no line break."""
    english = {}
    with open(path, encoding='utf-8') as f:
        for number, line in enumerate(f, 1):
            line = line.rstrip('\n')
            if not line.strip() or line.startswith('#'):
                continue
            name, bar, text = line.partition(' | ')
            if not bar or ' ' in name:
                sys.exit(f'{path}:{number}: not "Name | text"')
            if name in english:
                sys.exit(f'{path}:{number}: {name} written twice')
            english[name] = text
    by_name = {e.name: e for e in entries}
    unknown = sorted(set(english) - set(by_name))
    if unknown:
        sys.exit(f'{path}: names not in {CATALOGUE}: {unknown}')
    needed = [e for e in entries if e.name.startswith('sdk:') or 'sdk' in e.attributes or 'engine' in e.attributes]
    needed += [by_name[n] for e in needed for n in re.findall(r'\{(\w+)\}', e.text)]
    for e in needed:
        if e.name not in english:
            sys.exit(f'{path}: no English text for {e.name}')
        if CONVERSION.findall(english[e.name]) != CONVERSION.findall(e.text):
            sys.exit(f'{path}: {e.name}: the conversions differ from the Chinese text\'s')
    for name, text in english.items():
        if re.search(r'[\r\n]', text):
            sys.exit(f'{path}: {name}: a line break inside the text')
    return english


def cpp_literal(text):
    return 'L"' + text.replace('\\', '\\\\').replace('"', '\\"') + '"'


def header(entries):
    out = ['// Generated by tools/messages.py from src/control/Messages.txt: never edit by hand.',
           '// The control\'s texts as UTF-16 literals, whatever the desktop\'s code page.',
           '#pragma once', '', 'namespace msg {']
    sections = []
    for e in entries:
        if e.name.startswith('sdk:'):
            continue
        if e.section not in sections:
            sections.append(e.section)
    for section in sections:
        if section:
            out.append(f'namespace {section} {{')
        for e in entries:
            if e.section == section and not e.name.startswith('sdk:'):
                out.append(f'constexpr wchar_t k{e.name}[] = {cpp_literal(e.text)};')
        if section:
            out.append(f'}}  // namespace {section}')
    qualified = [(f'{e.section}::' if e.section else '') + 'k' + e.name
                 for e in entries if not e.name.startswith('sdk:')]
    out.append('// The text of a crypto engine status (src/interfaces/ovalon.h); the unknown text for any other.')
    out.append('inline const wchar_t* EngineStatusText(int status) {')
    out.append('    switch (status) {')
    unknown = None
    for e in entries:
        qualified_name = (f'{e.section}::' if e.section else '') + 'k' + e.name
        if e.engine is not None:
            out.append(f'    case 0x{e.engine:04X}: return {qualified_name};  // {e.attributes["engine"]}')
        elif e.attributes.get('engine') == 'unknown':
            unknown = qualified_name
    out.append('    }')
    out.append(f'    return {unknown};')
    out.append('}')
    out.append('// Every text of the catalogue, for checks that go over them all.')
    out.append('constexpr const wchar_t* kAllTexts[] = {' + ', '.join(qualified) + '};')
    out.append('}  // namespace msg')
    return '\n'.join(out) + '\n'


def rc(entries):
    out = ['// Generated by tools/messages.py from src/control/Messages.txt: never edit by hand.']
    for e in entries:
        if 'resource' not in e.attributes:
            continue
        escaped, previous_escaped = '', False
        for c in e.text:
            if ord(c) > 0x7e or c in '"\\':
                escaped += '\\x%04x' % ord(c)
                previous_escaped = True
            else:
                if previous_escaped and c in '0123456789abcdefABCDEF':
                    sys.exit(f'{e.name}: a hex digit after an escape would join it')
                escaped += c
                previous_escaped = False
        out.append(f'    {e.attributes["resource"]} L"{escaped}"')
    return '\n'.join(out) + '\n'


def js_literal(text):
    body = ''.join(c if 0x20 <= ord(c) < 0x7f and c != '\\' else
                   ('\\u%04x' % ord(c) if ord(c) > 0x7f else {'\r': '\\r', '\n': '\\n', '\\': '\\\\'}[c])
                   for c in text)
    if "'" in text:
        return '"' + body.replace('"', '\\"') + '"'
    return "'" + body + "'"


def sdk_texts(entries, text_of):
    def expand(text):
        return re.sub(r'\{(\w+)\}', lambda m: text_of(m.group(1)), text)

    texts, engine, unknown = [], [], None
    for e in entries:
        if e.name.startswith('sdk:'):
            texts.append(f'  {e.name[4:]}: {js_literal(expand(text_of(e.name)))},')
        elif 'sdk' in e.attributes:
            texts.append(f'  {e.attributes["sdk"]}: {js_literal(text_of(e.name))},')
        if e.attributes.get('engine') == 'unknown':
            unknown = js_literal(text_of(e.name))
        elif e.engine is not None:
            engine.append(f'  0x{e.engine:04X}: {js_literal(text_of(e.name))},  // {e.attributes["engine"]}')
    return texts, engine, unknown


def sdk(entries):
    by_name = {e.name: e for e in entries}
    english = read_english(entries)
    texts, engine, unknown = sdk_texts(entries, lambda name: by_name[name].text)
    texts_en, engine_en, unknown_en = sdk_texts(entries, lambda name: english[name])
    statuses = zip_statuses()
    zip_names = [f'  {name}: {js_literal(text)},' for name, text, _ in statuses]
    zip_codes = [f'  {js_literal(text)}: {code},' for name, text, code in statuses if name != 'Ok']
    with open(SDK_TEMPLATE, encoding='utf-8') as f:
        template = f.read()
    return (template.replace('@TEXT@', '\n'.join(texts)).replace('@ENGINE@', '\n'.join(engine))
            .replace('@ENGINE_UNKNOWN@', unknown).replace('@TEXT_EN@', '\n'.join(texts_en))
            .replace('@ENGINE_EN@', '\n'.join(engine_en)).replace('@ENGINE_UNKNOWN_EN@', unknown_en).replace('@ZIP_NAMES@', '\n'.join(zip_names))
            .replace('@ZIP_CODES@', '\n'.join(zip_codes)))


def write(path, text):
    # Left alone when unchanged, so that what depends on it is not rebuilt.
    if os.path.exists(path):
        with open(path, encoding='utf-8', newline='') as f:
            if f.read() == text:
                return
    with open(path, 'w', encoding='utf-8', newline='\n') as f:
        f.write(text)


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument('--header')
    parser.add_argument('--rc')
    parser.add_argument('--sdk')
    parser.add_argument('--check-sdk')
    args = parser.parse_args()
    entries = read_catalogue()
    if args.header:
        write(args.header, header(entries))
    if args.rc:
        write(args.rc, rc(entries))
    if args.sdk:
        write(args.sdk, sdk(entries))
    if args.check_sdk:
        with open(args.check_sdk, encoding='utf-8', newline='') as f:
            if f.read() != sdk(entries):
                print(f'{args.check_sdk} is not what src/control/Messages.txt, Messages.en.txt, ovalon.h and zipcore.h give: run '
                      f'python3 tools/messages.py --sdk {args.check_sdk}', file=sys.stderr)
                return 1
        print(f'{args.check_sdk} matches the catalogue')
    return 0


if __name__ == '__main__':
    sys.exit(main())
