#!/usr/bin/env python3
# Every module's documented options (as ansible-doc shows them, shared fragments included) are
# the options its argument_spec takes, with the same type, default, required mark and elements.
# ansible-test's validate-modules checks this too but cannot run offline.
import glob
import json
import os
import subprocess
import sys
import unittest
from unittest import mock

sys.dont_write_bytecode = True  # no __pycache__ beside the sources
from simsite import Workspace  # noqa: E402
from ansible.module_utils import basic  # noqa: E402
from ansible.utils.collection_loader._collection_finder import _AnsibleCollectionFinder  # noqa: E402


class Captured(Exception):
    pass


def argument_spec(path):
    """The argument_spec a module hands AnsibleModule, caught before it reads any input."""
    seen = {}

    def capture(self, argument_spec, **kwargs):
        seen.update(argument_spec)
        raise Captured()

    source = open(path).read()
    with mock.patch.object(basic.AnsibleModule, "__init__", capture):
        scope = {"__name__": "captured"}
        exec(compile(source, path, "exec"), scope)
        try:
            scope["main"]()
        except Captured:
            pass
    return seen


def spec_view(option):
    return (option.get("type", "str"), option.get("default"), bool(option.get("required", False)),
            option.get("elements"))


class DocsMatch(unittest.TestCase):
    def test_documented_options_are_the_argument_spec(self):
        with Workspace(sys.argv[1], sys.argv[2]) as work:
            _AnsibleCollectionFinder(paths=[work.env["ANSIBLE_COLLECTIONS_PATH"]])._install()
            modules = sorted(glob.glob(os.path.join(work.source, "ansible", "plugins", "modules", "*.py")))
            self.assertGreaterEqual(len(modules), 5)
            for path in modules:
                name = "zantrel.recorders." + os.path.basename(path)[:-3]
                shown = subprocess.run(["ansible-doc", "--json", name], env=work.env, capture_output=True,
                                       text=True, check=True)
                documented = json.loads(shown.stdout)[name]["doc"]["options"]
                spec = argument_spec(path)
                with self.subTest(module=name):
                    self.assertEqual(dict((k, spec_view(v)) for k, v in documented.items()),
                                     dict((k, spec_view(v)) for k, v in spec.items()))
                    self.assertEqual([k for k, v in spec.items() if v.get("no_log")],
                                     [k for k in spec if k == "password"])


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1])
