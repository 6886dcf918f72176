#!/usr/bin/env python3
"""The name checks find what they are for: a bundled header declaring a name
the platform lacks (or in another header, or without the platform's
deprecation), and a source using a platform-looking name that nothing declares.
Usage: platform_names_test.py [clang]"""
import os
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import platform_names  # noqa: E402

CLANG = 'clang'

NAMES = """# header\tkind\tname
libubox/thing.h\tstruct\tthing
libubox/thing.h\tprototype\tthing_new
libubox/thing.h\tprototype\tthing_old
libubox/thing.h\tmacro\tTHING_MAX
libubox/thing.h\tenumerator\tTHING_A
libubox/thing.h\tenum\tthing_kind
libubox/other.h\tprototype\tother_only
libubox/thing.h\tdeprecated\tthing_old
"""

GOOD_HEADER = """#ifndef OUR_THING_H
#define OUR_THING_H
#define THING_MAX 4
enum thing_kind { THING_A };
struct thing { int n; };
struct thing *thing_new(void);
int thing_old(void) __attribute__((deprecated));
#endif
"""


def write(root, rel, text):
    path = os.path.join(root, rel)
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, 'w', encoding='utf-8') as f:
        f.write(text)
    return path


class HeaderCheck(unittest.TestCase):
    def check(self, header):
        with tempfile.TemporaryDirectory() as d:
            names = write(d, 'names.txt', NAMES)
            write(d, 'include/libubox/thing.h', header)
            return platform_names.check_headers(os.path.join(d, 'include'), names, CLANG)

    def test_a_header_of_platform_names_passes(self):
        self.assertEqual(self.check(GOOD_HEADER), [])

    def test_names_the_platform_lacks_are_found_by_kind(self):
        extra = GOOD_HEADER.replace('#endif', """#define THING_PRIVATE 1
enum { THING_A_LAST = 2 };
static inline int thing_helper(void) { return 0; }
extern int thing_count;
typedef int thing_size_t;
#endif""")
        problems = '\n'.join(self.check(extra))
        for name in ('THING_PRIVATE', 'THING_A_LAST', 'thing_helper', 'thing_count', 'thing_size_t'):
            self.assertIn(' %s is not a platform name' % name, problems)
        self.assertNotIn('OUR_THING_H', problems)  # the include guard

    def test_a_name_in_another_platform_header_is_found(self):
        problems = self.check(GOOD_HEADER.replace('#endif', 'int other_only(void);\n#endif'))
        self.assertEqual(problems, ['libubox/thing.h: function other_only is declared by the '
                                    'platform in libubox/other.h'])

    def test_deprecation_must_match_the_platform(self):
        undeprecated = GOOD_HEADER.replace(' __attribute__((deprecated))', '')
        self.assertEqual(self.check(undeprecated),
                         ['libubox/thing.h: thing_old is not marked deprecated, the platform marks it'])
        over = GOOD_HEADER.replace('thing_new(void);', 'thing_new(void) __attribute__((deprecated));')
        self.assertEqual(self.check(over),
                         ['libubox/thing.h: thing_new is marked deprecated, the platform does not'])


class SourceCheck(unittest.TestCase):
    def check(self, sources):
        with tempfile.TemporaryDirectory() as d:
            names = write(d, 'names.txt', 'h.h\tprototype\tubus_connect\nh.h\tmacro\tBLOB_ATTR_ID_MASK\n')
            for rel, text in sources.items():
                write(d, rel, text)
            return platform_names.check_sources(d, names)

    def test_unknown_platform_names_are_found(self):
        problems = self.check({'mast/a.cc': 'int f() { return UBUS_UNIX_SOCKET[0] + ubus_connect(0); }\n'})
        self.assertEqual(problems, ['mast/a.cc: UBUS_UNIX_SOCKET is neither a platform name '
                                    'nor defined by the project'])

    def test_bundled_headers_define_nothing_for_the_project(self):
        problems = self.check({
            'platform/include/libubus.h': '#define UBUS_MAX_MSGLEN 1048576\n',
            'mast/bridge.cc': 'unsigned n = UBUS_MAX_MSGLEN;\n'})
        self.assertEqual(len(problems), 1)
        self.assertIn('UBUS_MAX_MSGLEN', problems[0])

    def test_names_the_project_defines_and_text_are_not_uses(self):
        problems = self.check({'rrm/store.cc': '''#define BLOB_LOCAL 3
struct list_entry_of_ours { int x; };
enum { UBUS_OURS_A, UBUS_OURS_B = 2 };
static int blob_helper(const char *list_name, int &list_size);
// ubus_in_a_comment
const char *s = "ubus_in_a_string", *r = R"x(uci_in_a_raw_string)x";
#include <libubox/blobmsg_json.h>
int g() { return BLOB_LOCAL + UBUS_OURS_B + BLOB_ATTR_ID_MASK + blob_helper(nullptr, n); }
'''})
        self.assertEqual(problems, [])


if __name__ == '__main__':
    if len(sys.argv) > 1:
        CLANG = sys.argv.pop(1)
    unittest.main(verbosity=2)
