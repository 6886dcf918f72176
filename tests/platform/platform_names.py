#!/usr/bin/env python3
"""Checks the project's use of the platform's C API against the platform's own
list of names (macros, functions, types, tags, enumerators of the installed
public headers of libubox, libubus, libblobmsg_json and libuci).

  platform_names.py headers <include dir> <names.txt[,more.txt]> [clang]
      Every name that a bundled public header declares is declared by the
      platform's header of the same path; a function the platform marks
      deprecated is marked deprecated here, and nothing else is.
  platform_names.py sources <source root> <names.txt[,more.txt]>
      Every platform-looking identifier (ubus_, UBUS_, blob_, blobmsg_, BLOB,
      uloop_, ustream_, kvlist_, uci_, UCI_, avl_, list_) used in a product,
      test or benchmark source is either a platform name or one the project
      defines itself.

A program built on a device sees only the platform's headers: a name found
only in our bundled copies compiles here and fails there.
"""
import json
import os
import re
import subprocess
import sys

PLATFORM_PREFIX = re.compile(
    r'^(ubus_|UBUS_|blob_|blobmsg_|BLOB|uloop_|ustream_|kvlist_|uci_|UCI_|avl_|list_)')
SOURCE_SUFFIXES = ('.c', '.cc', '.cpp', '.h', '.hpp')
# Sources of the project that are not its own code: the bundled public
# headers (their names are what is checked) and build trees.
SKIPPED_DIRS = {'.git', 'node_modules'}
C_KEYWORDS = {
    'return', 'case', 'else', 'sizeof', 'new', 'delete', 'throw', 'goto',
    'co_return', 'co_await', 'co_yield', 'not', 'and', 'or', 'typeid',
    'alignof', 'decltype', 'if', 'while', 'for', 'switch', 'do', 'defined',
    'static_assert', 'noexcept', 'operator', 'using', 'namespace', 'typedef',
}


def load_names(paths):
    """Returns {name: set(headers)} and the set of deprecated names of the
    lists given, separated by commas."""
    names, deprecated = {}, set()
    for path in paths.split(','):
        with open(path, encoding='utf-8') as f:
            for line in f:
                if line.startswith('#') or not line.strip():
                    continue
                header, kind, name = line.rstrip('\n').split('\t')
                if kind == 'deprecated':
                    deprecated.add(name)
                else:
                    names.setdefault(name, set()).add(header)
    return names, deprecated


def strip_comments_and_strings(text):
    """Blanks comments, string and character literals, keeping line breaks."""
    pattern = re.compile(
        r'//[^\n]*|/\*.*?\*/|\bR"([^(\s]*)\(.*?\)\1"'
        r'|"(?:\\.|[^"\\\n])*"|\'(?:\\.|[^\'\\\n])*\'',
        re.S)

    def blank(m):
        s = m.group(0)
        keep = '""' if s.startswith(('"', 'R"')) else ' '
        return keep + '\n' * s.count('\n')
    return pattern.sub(blank, text)


def strip_includes(text):
    """Blanks #include lines: a header's file name is no identifier."""
    return re.sub(r'^[ \t]*#[ \t]*include\b[^\n]*', '', text, flags=re.M)


# ---------------------------------------------------------------- headers

def header_macros(text):
    """Macros a header defines, without its include guard."""
    text = strip_comments_and_strings(text)
    defines = re.findall(r'^[ \t]*#[ \t]*define[ \t]+(\w+)', text, re.M)
    guard = re.search(r'^[ \t]*#[ \t]*ifndef[ \t]+(\w+)\s*\n[ \t]*#[ \t]*define[ \t]+(\w+)',
                      text, re.M)
    if guard and guard.group(1) == guard.group(2):
        defines = [d for d in defines if d != guard.group(1)]
    return defines


class FileTracker:
    """clang's JSON dump names a location's file only where it changes, in
    document order: walking the dump in that order recovers every node's file."""

    def __init__(self):
        self.current = None

    def walk(self, node):
        if isinstance(node, dict):
            for key, value in node.items():
                if key == 'includedFrom':
                    continue
                if key == 'file':
                    self.current = value
                else:
                    self.walk(value)
        elif isinstance(node, list):
            for item in node:
                self.walk(item)

    def file_of(self, decl):
        """The file of decl's own location (its expansion, for a location in a
        macro); the rest of decl is walked after, to keep the tracking going."""
        self.walk(decl.get('loc', {}))
        here = self.current
        self.walk({k: v for k, v in decl.items() if k != 'loc'})
        return here


def declared_names(decl, out):
    """(kind, name, deprecated) for decl and the tags and enumerators in it."""
    kind = decl.get('kind')
    if decl.get('isImplicit'):
        return
    name = decl.get('name')
    inner = decl.get('inner', [])
    if kind == 'FunctionDecl':
        deprecated = any(a.get('kind') == 'DeprecatedAttr' for a in inner)
        out.append(('function', name, deprecated))
        return
    if kind in ('VarDecl', 'TypedefDecl'):
        out.append((kind, name, False))
    elif kind in ('RecordDecl', 'EnumDecl'):
        if name:
            out.append((decl.get('tagUsed', 'enum'), name, False))
        for child in inner:
            if child.get('kind') == 'EnumConstantDecl':
                out.append(('enumerator', child['name'], False))
            elif child.get('kind') in ('RecordDecl', 'EnumDecl'):
                declared_names(child, out)


def header_declarations(include_dir, header, clang):
    """Declarations of one bundled header, as clang sees them when the header
    is compiled alone as C."""
    source = '#include <%s>\n' % header
    result = subprocess.run(
        [clang, '-x', 'c', '-std=gnu11', '-fsyntax-only', '-Xclang', '-ast-dump=json',
         '-I', include_dir, '-'],
        input=source, capture_output=True, text=True, check=False)
    if result.returncode != 0:
        raise RuntimeError('%s does not compile alone:\n%s' % (header, result.stderr))
    tu = json.loads(result.stdout)
    path = os.path.realpath(os.path.join(include_dir, header))
    tracker = FileTracker()
    out = []
    for decl in tu.get('inner', []):
        where = tracker.file_of(decl)
        if where and os.path.realpath(where) == path:
            declared_names(decl, out)
    return out


def bundled_headers(include_dir):
    found = []
    for dirpath, _, files in os.walk(include_dir):
        for f in files:
            if f.endswith('.h'):
                found.append(os.path.relpath(os.path.join(dirpath, f), include_dir))
    return sorted(found)


def check_headers(include_dir, names_file, clang='clang'):
    names, deprecated = load_names(names_file)
    problems = []
    for header in bundled_headers(include_dir):
        with open(os.path.join(include_dir, header), encoding='utf-8') as f:
            macros = header_macros(f.read())
        entries = [('macro', m, False) for m in macros]
        entries += header_declarations(include_dir, header, clang)
        for kind, name, marked in entries:
            where = names.get(name)
            if where is None:
                problems.append('%s: %s %s is not a platform name' % (header, kind, name))
            elif header not in where:
                problems.append('%s: %s %s is declared by the platform in %s' %
                                (header, kind, name, ', '.join(sorted(where))))
            if kind == 'function' and marked != (name in deprecated):
                problems.append('%s: %s is %smarked deprecated, the platform %s' % (
                    header, name, '' if marked else 'not ',
                    'does not' if marked else 'marks it'))
    return problems


# ---------------------------------------------------------------- sources

IDENT = re.compile(r'[A-Za-z_]\w*|::|->|&&|[^\sA-Za-z_0-9]')


def source_files(root, skip):
    for dirpath, dirs, files in os.walk(root):
        rel = os.path.relpath(dirpath, root)
        dirs[:] = [d for d in dirs
                   if d not in SKIPPED_DIRS and not d.startswith('build')
                   and os.path.normpath(os.path.join(rel, d)) not in skip]
        for f in files:
            if f.endswith(SOURCE_SUFFIXES):
                yield os.path.join(dirpath, f)


def project_definitions(tokens, text):
    """Platform-looking names the project itself defines in one source: macros,
    tags, enumerators, and declarations (a name right after a type name or a
    declarator's * or &)."""
    defined = set(re.findall(r'^[ \t]*#[ \t]*define[ \t]+(\w+)', text, re.M))
    defined.update(re.findall(r'\b(?:struct|union|enum|class)\s+(\w+)', text))
    for body in re.findall(r'\benum\b[^{;()]*\{([^}]*)\}', text):
        defined.update(re.findall(r'(?:^|,)\s*(\w+)', body))
    for prev, tok in zip(tokens, tokens[1:]):
        if not PLATFORM_PREFIX.match(tok):
            continue
        if prev in ('*', '&', '&&') or (re.match(r'[A-Za-z_]\w*$', prev) and prev not in C_KEYWORDS):
            defined.add(tok)
    return defined


def check_sources(root, names_file):
    names, _ = load_names(names_file)
    skip = {os.path.normpath('platform/include')}
    used, defined = {}, set()
    for path in source_files(root, skip):
        with open(path, encoding='utf-8', errors='replace') as f:
            text = strip_includes(strip_comments_and_strings(f.read()))
        tokens = IDENT.findall(text)
        defined |= project_definitions(tokens, text)
        for tok in tokens:
            if PLATFORM_PREFIX.match(tok):
                used.setdefault(tok, os.path.relpath(path, root))
    return ['%s: %s is neither a platform name nor defined by the project' % (where, name)
            for name, where in sorted(used.items())
            if name not in names and name not in defined]


def main(argv):
    if len(argv) >= 4 and argv[1] == 'headers':
        problems = check_headers(argv[2], argv[3], *(argv[4:5]))
    elif len(argv) == 4 and argv[1] == 'sources':
        problems = check_sources(argv[2], argv[3])
    else:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    for p in problems:
        print(p)
    return 1 if problems else 0


if __name__ == '__main__':
    sys.exit(main(sys.argv))
