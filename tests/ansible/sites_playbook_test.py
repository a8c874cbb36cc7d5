#!/usr/bin/env python3
# The example playbook against three sites on this machine, each a recorder-sim on loopback
# addresses of its own reached with connection local. At "bay" the second recorder refuses every
# login: the address step fails there, with the other recorders' results intact, while "anchor"
# and "cove" carry on to the end. The CSV report on the control machine is read back with
# Python's csv module and compared with the rows written out below.
import csv
import json
import os
import subprocess
import sys
import unittest

sys.dont_write_bytecode = True  # no __pycache__ beside the sources
from simsite import PASSWORD, USER, Workspace  # noqa: E402

# The first recorder at cove names itself like a spreadsheet formula with an escape sequence:
# its MAC text (the first 17 bytes) must reach the report neutralised and visible.
HOSTILE_MAC = '=SUM(1,2)"\x1b[31mxy'
HOSTILE_CELL = "'=SUM(1,2)\"\\x1b[31mxy"

SITES = {
    # site: (first address, recorder-sim options, address plan, data file)
    "anchor": ("127.0.41.1", ["--count", "2"],
               [{"mac": "02:53:49:4D:00:01", "ip": "127.0.41.1", "gateway": "127.0.41.254"},
                {"mac": "02:53:49:4D:00:02", "ip": "127.0.41.2"}], True),
    "bay": ("127.0.42.1", ["--count", "3", "--refuse-login-of", "2"],
            [{"mac": "02:53:49:4D:00:01", "ip": "127.0.42.1", "gateway": "127.0.42.254"},
             {"mac": "02:53:49:4D:00:02", "ip": "127.0.42.12"},
             {"mac": "02:53:49:4D:00:03", "ip": "127.0.42.3"}], True),
    "cove": ("127.0.43.1", ["--count", "2", "--identity", HOSTILE_MAC], [], False),
}

FAST = ["--tcp-port", "0", "--udp-port", "0", "--settle", "50", "--progress-interval", "5"]
ADDRESS_FAILED = ("Give the recorders their planned addresses: 1 of 3 recorders did not take their address: "
                  "02:53:49:4D:00:02 login refused")

# (site, mac, last octet, address, registration, upgrade, last percent, site error)
FIRST_RUN = [
    ("anchor", "02:53:49:4D:00:01", 1, "modified", "registered", "success", "100", ""),
    ("anchor", "02:53:49:4D:00:02", 2, "unchanged", "registered", "success", "100", ""),
    ("bay", "02:53:49:4D:00:01", 1, "modified", "", "", "", ADDRESS_FAILED),
    ("bay", "02:53:49:4D:00:02", 2, "login refused", "", "", "", ADDRESS_FAILED),
    ("bay", "02:53:49:4D:00:03", 3, "unchanged", "", "", "", ADDRESS_FAILED),
    ("cove", HOSTILE_CELL, 1, "", "skipped", "success", "100", ""),
    ("cove", "02:53:49:4D:00:02", 2, "", "skipped", "success", "100", ""),
]


def host_vars(work, site, udp):
    first, _, plan, data = SITES[site]
    hv = {"ansible_connection": "local", "ansible_python_interpreter": sys.executable,
          "pellory_cli": work.tool("pellory-cli"), "kestrion_cli": work.tool("kestrion-cli"),
          "recorder_target": udp, "recorder_bind_port": 0, "recorder_search_seconds": 1,
          "recorder_user": USER, "recorder_password": PASSWORD, "upgrade_jobs": 2}
    pages = [os.path.join(work.source, "demo", "web", p) for p in ("index.htm", "live.htm")]
    if site == "cove":
        # Files that come from the control machine, copied to the site's host first.
        hv.update(upgrade_sources=pages, upgrade_dir=os.path.join(work.path, site + "-files"))
        os.makedirs(hv["upgrade_dir"])
    else:
        hv["upgrade_files"] = pages
    if plan:
        hv["address_plan"] = plan
    if data:
        hv["client_data_file"] = os.path.join(work.path, site, "Data.xml")
        os.makedirs(os.path.dirname(hv["client_data_file"]))
    return hv


class SitesPlaybook(unittest.TestCase):
    def setUp(self):
        self.work = Workspace(sys.argv[1], sys.argv[2])
        self.addCleanup(self.work.__exit__)
        hosts = {}
        for site, (first, options, _, _) in SITES.items():
            _, udp = self.work.start_sim("--tcp-address", first, "--udp-address", first, *(FAST + options))
            hosts[site] = host_vars(self.work, site, udp)
        self.inventory = self.work.file("inventory.json", json.dumps({"sites": {"hosts": hosts}}))
        self.playbook = os.path.join(self.work.source, "ansible", "examples", "sites.yml")

    def run_sites(self, report):
        path = os.path.join(self.work.path, report)
        run = self.work.playbook(self.playbook, self.inventory, "-e", "report_csv=" + path)
        with open(path, newline="") as handle:
            return run, list(csv.DictReader(handle))

    def check_rows(self, rows, expected, run):
        got = [(r["site"], r["mac"], r["ip"], r["address"], r["registration"], r["upgrade"], r["last_percent"],
                r["site_error"]) for r in rows]
        want = [(site, mac, "127.0.%d.%d" % (40 + " abc".index(site[0]), octet), address, registration, upgrade,
                 percent, error) for site, mac, octet, address, registration, upgrade, percent, error in expected]
        self.assertEqual(got, want, run.stdout[-3000:])

    def test_one_refused_login_stops_its_site_only_and_the_report_keeps_everything(self):
        run, rows = self.run_sites("first.csv")
        self.assertNotEqual(run.returncode, 0, run.stdout[-3000:])
        self.assertIn("Stopped: bay. Without results: none.", run.stdout)
        self.check_rows(rows, FIRST_RUN, run)
        upgraded = [r for r in rows if r["upgrade"] == "success"]
        self.assertEqual({r["upgrade_status"] for r in upgraded}, {"0"})
        self.assertEqual(len({r["bytes_sent"] for r in upgraded}), 1)  # the same package everywhere
        self.assertGreater(int(upgraded[0]["bytes_sent"]), 0)
        self.assertEqual(rows[3]["address_message"], "Invalid password!")
        listed = subprocess.run([self.work.tool("pellory-cli"), "devices", "--data",
                                 os.path.join(self.work.path, "anchor", "Data.xml"), "--format", "json"],
                                capture_output=True, text=True, check=True)
        ids = {"%s:%s" % (d["host"], d["port"]): str(d["id"]) for d in json.loads(listed.stdout)}
        self.assertEqual(ids, {"%s:%s" % (r["ip"], r["port"]): r["device_id"] for r in rows[:2]})

        # Everything is as planned now except at bay: nothing is sent again, nothing entered twice.
        run, rows = self.run_sites("second.csv")
        again = [(s, m, o, "unchanged" if a == "modified" else a, "already registered" if r == "registered" else r, u, p, e)
                 for s, m, o, a, r, u, p, e in FIRST_RUN]
        self.check_rows(rows, again, run)
        self.assertRegex(run.stdout, r"anchor\s+: ok=\d+\s+changed=1 ")  # the upgrade alone


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1])
