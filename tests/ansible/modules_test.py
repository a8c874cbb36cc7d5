#!/usr/bin/env python3
# Each module on its own against one recorder-sim on loopback: what check mode leaves alone, that
# a second run changes nothing, how a failure comes back, and that the password reaches the
# tools through their environment and never their command line.
import json
import os
import socket
import stat
import sys
import unittest

sys.dont_write_bytecode = True  # no __pycache__ beside the sources
from simsite import PASSWORD, Workspace  # noqa: E402

MAC1, MAC2 = "02:53:49:4D:00:01", "02:53:49:4D:00:02"
WRAPPER = """#!/bin/sh
# Notes how the module started the tool, then runs the real one.
{python} -c 'import json, os, sys; open(sys.argv[1], "a").write(json.dumps(dict(argv=sys.argv[2:],
    env=os.environ.get("ZANTREL_RECORDER_PASSWORD"))) + "\\n")' {log} "$@"
exec {tool} "$@"
"""


class Modules(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.work = Workspace(sys.argv[1], sys.argv[2])
        tcp, cls.udp = cls.work.start_sim("--count", "2", "--tcp-port", "0", "--udp-port", "0", "--verdict", "right",
                                          "--settle", "50")
        cls.tcp_port = int(tcp.rsplit(":", 1)[1])
        cls.log = os.path.join(cls.work.path, "calls.log")
        cls.tools = {}
        for name in ("pellory-cli", "kestrion-cli"):
            cls.tools[name] = cls.work.file(name + "-noted", WRAPPER.format(
                python=sys.executable, log=cls.log, tool=cls.work.tool(name)))
            os.chmod(cls.tools[name], 0o755)
        cls.page = os.path.join(cls.work.source, "demo", "web", "index.htm")

    @classmethod
    def tearDownClass(cls):
        cls.work.__exit__()

    def setUp(self):
        open(self.log, "w").close()

    def calls(self):
        with open(self.log) as handle:
            return [json.loads(line) for line in handle]

    def discovery(self, **more):
        args = dict(pellory_cli=self.tools["pellory-cli"], target=self.udp, bind_port=0, timeout=1)
        args.update(more)
        return args

    def scanned(self):
        rc, result = self.work.ansible("recorder_scan", self.discovery())
        self.assertEqual(rc, 0, result)
        return dict((r["mac"], r) for r in result["recorders"])

    def test_address_is_sent_only_when_it_differs_and_never_in_check_mode(self):
        plan = [dict(mac=MAC1, ip="127.0.0.1", gateway="127.0.0.9"), dict(mac=MAC2.lower(), ip="127.0.0.2")]
        cases = [
            # check mode, expected changed, results, what a search finds afterwards
            (True, True, ["would change", "unchanged"], "127.0.0.254"),
            (False, True, ["modified", "unchanged"], "127.0.0.9"),
            (False, False, ["unchanged", "unchanged"], "127.0.0.9"),
        ]
        for check, changed, results, gateway in cases:
            rc, result = self.work.ansible("recorder_address", self.discovery(plan=plan, password=PASSWORD), check)
            self.assertEqual((rc, result["changed"]), (0, changed), result)
            self.assertEqual([r["result"] for r in result["recorders"]], results)
            self.assertEqual(self.scanned()[MAC1]["gateway"], gateway)
        sent = [c for c in self.calls() if c["argv"][0] == "assign"]
        self.assertEqual(len(sent), 1)
        self.assertNotIn(PASSWORD, " ".join(sent[0]["argv"]))
        self.assertEqual((sent[0]["env"], sent[0]["argv"][-2:]), (PASSWORD, ["--password-env", "ZANTREL_RECORDER_PASSWORD"]))

    def test_address_failures_keep_the_other_results(self):
        cases = [
            # password, plan, results, what the message names
            ("wrong", [dict(mac=MAC2, ip="127.0.0.22")], ["login refused"], MAC2 + " login refused"),
            (PASSWORD, [dict(mac="02:53:49:4D:00:77", ip="127.0.0.77"), dict(mac=MAC2, ip="127.0.0.2")],
             ["not found", "unchanged"], "1 of 2 recorders"),
        ]
        for password, plan, results, named in cases:
            rc, result = self.work.ansible("recorder_address", self.discovery(plan=plan, password=password))
            self.assertNotEqual(rc, 0)
            self.assertEqual([r["result"] for r in result["recorders"]], results, result)
            self.assertIn(named, result["msg"])
        self.assertEqual(self.scanned()[MAC2]["ip"], "127.0.0.2")

    def test_address_matches_any_mac_spelling_and_a_mask_alone_is_a_change(self):
        before = self.scanned()[MAC2]
        other = "255.255.0.0" if before["mask"] != "255.255.0.0" else "255.255.255.0"
        cases = [
            # MAC as written, mask, result
            ("02-53-49-4d-00-02", other, "modified"),
            ("0253.494d.0002", other, "unchanged"),
            (" 025349 4D0002 ", before["mask"], "modified"),
            (MAC2.lower(), before["mask"], "unchanged"),
        ]
        for mac, mask, word in cases:
            plan = [dict(mac=mac, ip=before["ip"], mask=mask)]
            rc, result = self.work.ansible("recorder_address", self.discovery(plan=plan, password=PASSWORD))
            self.assertEqual((rc, result["changed"]), (0, word == "modified"), result)
            self.assertEqual([(r["mac"], r["result"]) for r in result["recorders"]], [(MAC2, word)])
            self.assertEqual(self.scanned()[MAC2]["mask"], mask)

    def test_passwords_reach_the_tool_exactly_and_odd_values_are_refused_before_sending(self):
        odd = 'q"u\'o\\te\nline \u00fc\u20ac'
        plan = [dict(mac=MAC2, ip="127.0.0.42")]
        rc, result = self.work.ansible("recorder_address", self.discovery(plan=plan, password=odd))
        self.assertEqual((rc != 0, [r["result"] for r in result["recorders"]]), (True, ["login refused"]), result)
        self.assertEqual([c["env"] for c in self.calls() if c["argv"][0] == "assign"], [odd])
        self.assertTrue(all(odd not in " ".join(c["argv"]) for c in self.calls()))

        refusals = [
            (dict(password="zero\u0000byte"), "zero character"),
            (dict(plan=[dict(mac=MAC2, ip="127.0.0.300")]), "is not an IPv4 address"),
            (dict(mask="255.255.255"), "is not an IPv4 address"),
            (dict(plan=[dict(mac=MAC2, ip="127.0.0.43"), dict(mac="02-53-49-4d-00-02", ip="127.0.0.44")]),
             "planned twice"),
        ]
        for change, said in refusals:
            open(self.log, "w").close()
            args = self.discovery(**dict(dict(plan=plan, password=PASSWORD), **change))
            rc, result = self.work.ansible("recorder_address", args)
            self.assertNotEqual(rc, 0)
            self.assertIn(said, result["msg"])
            self.assertNotIn("assign", [c["argv"][0] for c in self.calls()])
        self.assertEqual(self.scanned()[MAC2]["ip"], "127.0.0.2")

    def test_register_enters_a_device_once_and_check_mode_writes_nothing(self):
        data = os.path.join(self.work.path, "Data.xml")
        args = dict(pellory_cli=self.tools["pellory-cli"], data=data, ip="127.0.0.1", port=self.tcp_port, name="Lobby",
                    channels=4, password=PASSWORD)
        rc, result = self.work.ansible("recorder_register", args, check=True)
        self.assertEqual((rc, result["changed"], result["result"]), (0, True, "would register"), result)
        self.assertFalse(os.path.exists(data))
        for changed, word in ((True, "registered"), (False, "already registered")):
            rc, result = self.work.ansible("recorder_register", args)
            self.assertEqual((rc, result["changed"], result["result"]), (0, changed, word), result)
            self.assertEqual((result["device"]["name"], result["device"]["channels"]), ("Lobby", 4))
        self.assertEqual(stat.S_IMODE(os.stat(data).st_mode), 0o600)
        with open(data, "rb") as handle:
            saved = handle.read()
        self.assertNotIn(PASSWORD.encode(), saved)

        refusals = [
            (dict(channels=8), "channels is 4, not 8"),
            (dict(name="Hall"), "IP or domain name of this device has existed!"),
        ]
        for change, message in refusals:
            rc, result = self.work.ansible("recorder_register", dict(args, **change))
            self.assertNotEqual(rc, 0)
            self.assertIn(message, result["msg"])
            with open(data, "rb") as handle:
                self.assertEqual(handle.read(), saved)
        self.assertTrue(all(PASSWORD not in " ".join(c["argv"]) for c in self.calls()))

    def test_upgrade_returns_every_recorder_and_fails_when_one_failed(self):
        with socket.socket() as unused:
            unused.bind(("127.0.0.1", 0))
            closed = "127.0.0.1:%d" % unused.getsockname()[1]
        args = dict(kestrion_cli=self.tools["kestrion-cli"], files=[self.page], password=PASSWORD, jobs=2,
                    hosts=["127.0.0.1:%d" % self.tcp_port, closed])
        rc, result = self.work.ansible("recorder_upgrade", args)
        self.assertNotEqual(rc, 0)
        got = sorted((r["host"] + ":" + str(r["port"]), r["result"]) for r in result["results"])
        self.assertEqual(got, sorted([("127.0.0.1:%d" % self.tcp_port, "success"), (closed, "connect-failed")]))
        self.assertEqual((result["failed_count"], result["changed"]), (1, True))
        self.assertIn(closed + " connect-failed", result["msg"])

        # The same recorder named in a list file of pellory-cli scan's kind instead.
        listed = self.work.file("site.json", json.dumps([dict(ip="127.0.0.1", port=self.tcp_port)]))
        rc, result = self.work.ansible("recorder_upgrade", dict(args, hosts=None, hosts_from=listed))
        self.assertEqual((rc, [r["result"] for r in result["results"]]), (0, ["success"]), result)

    def test_a_tool_that_fails_or_answers_junk_fails_the_task_with_its_words(self):
        junk = self.work.file("junk-cli", "#!/bin/sh\necho 'not json'\necho 'pellory-cli: broken here' >&2\n")
        os.chmod(junk, 0o755)
        cases = [
            (self.work.file("failing-cli", "#!/bin/sh\necho 'pellory-cli: no socket' >&2\nexit 3\n"),
             "pellory-cli scan failed: pellory-cli: no socket"),
            (junk, "pellory-cli scan gave no JSON"),
            (self.work.file("numbers-cli", "#!/bin/sh\necho '[1, 2]'\n"), "pellory-cli scan gave no list"),
            (os.path.join(self.work.path, "missing-cli"), "No such file"),
        ]
        os.chmod(cases[0][0], 0o755)
        os.chmod(cases[2][0], 0o755)
        for tool, said in cases:
            for module, more in (("recorder_scan", {}), ("recorder_address", dict(mac=MAC1, ip="127.0.0.1",
                                                                                  password=PASSWORD))):
                rc, result = self.work.ansible(module, self.discovery(pellory_cli=tool, **more))
                self.assertNotEqual(rc, 0)
                self.assertIn(said, result["msg"])

    def test_upgrade_check_mode_only_classifies(self):
        cases = [([self.page], 0, "web pages"), ([self.work.file("notes.txt", "hello")], 2, "Not BIOS Upgrade file!")]
        for files, rc_wanted, said in cases:
            rc, result = self.work.ansible("recorder_upgrade", dict(
                kestrion_cli=self.tools["kestrion-cli"], files=files, password=PASSWORD,
                hosts=["127.0.0.1:%d" % self.tcp_port]), check=True)
            self.assertEqual(rc, rc_wanted, result)
            self.assertIn(said, result.get("classification", result.get("msg")))
        self.assertEqual([c["argv"][0] for c in self.calls()], ["classify", "classify"])


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1])
