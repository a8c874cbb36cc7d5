#!/usr/bin/python
# -*- coding: utf-8 -*-
from __future__ import absolute_import, division, print_function

__metaclass__ = type

DOCUMENTATION = r"""
---
module: recorder_upgrade
short_description: Upgrade the site's recorders with files already on the site's host
description:
  - Runs C(kestrion-cli upgrade --format json) on the managed host, C(jobs) recorders at a time,
    and returns each recorder's result object.
  - The recorders come from C(recorders) (the result of M(zantrel.recorders.recorder_scan)),
    C(hosts), a C(hosts_from) list file on the host, or any of them together.
  - The task fails when any recorder failed; C(results) then still holds every recorder's result.
  - A recorder cannot be asked which version it runs, so a successful upgrade is always a change
    and running the task again upgrades again.
  - Check mode goes no further than classifying the files with C(kestrion-cli classify), as the
    tool does before any upgrade; no recorder is contacted.
extends_documentation_fragment:
  - zantrel.recorders.recorder.account
  - ansible.builtin.action_common_attributes
attributes:
  check_mode:
    support: partial
    details: Only classifies the files; does not contact the recorders.
  diff_mode:
    support: none
  platform:
    platforms: posix
options:
  kestrion_cli:
    description: Path of C(kestrion-cli) on the site's host; looked up on PATH by default.
    type: str
    default: kestrion-cli
  files:
    description: Upgrade files on the site's host (at most 10, all of one kind).
    type: list
    elements: path
    required: true
  recorders:
    description: Recorders as M(zantrel.recorders.recorder_scan) returns them; their C(ip) and C(port) are used.
    type: list
    elements: dict
  hosts:
    description: Recorders as ADDR[:PORT].
    type: list
    elements: str
  hosts_from:
    description: A C(pellory-cli scan) list file (csv or json) on the site's host.
    type: path
  port:
    description: Port of recorders named without one.
    type: int
    default: 37777
  jobs:
    description: Upgrade up to this many recorders at the same time.
    type: int
    default: 1
  wait:
    description: Seconds to wait for each recorder's verdict.
    type: int
    default: 1200
  login_wait:
    description: Seconds to wait for each login's answer.
    type: int
    default: 10
author: Kestrion and Pellory developers
"""

EXAMPLES = r"""
- name: Find the site's recorders
  zantrel.recorders.recorder_scan:
  register: scan

- name: Upgrade them all, four at a time
  zantrel.recorders.recorder_upgrade:
    recorders: "{{ scan.recorders }}"
    files: [/srv/upgrade/index.htm, /srv/upgrade/live.htm]
    jobs: 4
    password: "{{ recorder_password }}"
  register: upgrade
"""

RETURN = r"""
results:
  description:
    - One object per recorder, as C(kestrion-cli) gives it - host, port, result (C(success),
      C(connect-failed), C(login-refused), ...), status (the tool's exit status for that
      recorder), lastPercent (-1 without a report), bytesSent and seconds.
  returned: always, when the tool ran
  type: list
  elements: dict
  sample:
    - {host: 192.168.1.120, port: 37777, result: success, status: 0, lastPercent: 100, bytesSent: 1458, seconds: 42.5}
failed_count:
  description: How many recorders failed.
  returned: when the tool ran
  type: int
classification:
  description: What C(kestrion-cli classify) says of the files (check mode).
  returned: check mode
  type: str
"""

from ansible.module_utils.basic import AnsibleModule
from ansible_collections.zantrel.recorders.plugins.module_utils.recorder_tools import (
    ACCOUNT_ARGS,
    fail_tool,
    parse_json_lines,
    run_tool,
)

# kestrion-cli upgrade: 0 every recorder succeeded; 5 to 11 a recorder's own ending (connect,
# login, send, verdict), the results saying whose.
RECORDER_STATUSES = range(5, 12)


def recorder_options(module):
    p = module.params
    args = []
    for recorder in p["recorders"] or []:
        if not recorder.get("ip"):
            module.fail_json(msg="a recorder without an ip: %s" % recorder)
        args += ["--host", "%s:%s" % (recorder["ip"], recorder.get("port") or p["port"])]
    for host in p["hosts"] or []:
        args += ["--host", host]
    if p["hosts_from"]:
        args += ["--hosts-from", p["hosts_from"]]
    return args


def classify(module):
    cmd = [module.params["kestrion_cli"], "classify"]
    rc, out, err = run_tool(module, cmd, files=module.params["files"])
    if rc != 0:
        fail_tool(module, "kestrion-cli classify", cmd, rc, out, err)
    lines = out.strip().splitlines()
    module.exit_json(changed=True, classification=lines[-1] if lines else "")


def main():
    argument_spec = dict(ACCOUNT_ARGS)
    argument_spec.update(
        kestrion_cli=dict(type="str", default="kestrion-cli"),
        files=dict(type="list", elements="path", required=True),
        recorders=dict(type="list", elements="dict"),
        hosts=dict(type="list", elements="str"),
        hosts_from=dict(type="path"),
        port=dict(type="int", default=37777),
        jobs=dict(type="int", default=1),
        wait=dict(type="int", default=1200),
        login_wait=dict(type="int", default=10),
    )
    module = AnsibleModule(argument_spec=argument_spec, supports_check_mode=True,
                           required_one_of=[("recorders", "hosts", "hosts_from")])
    p = module.params
    targets = recorder_options(module)
    if not targets:
        module.exit_json(changed=False, results=[], failed_count=0, msg="no recorder to upgrade")
    if module.check_mode:
        classify(module)
    cmd = [p["kestrion_cli"], "upgrade"] + targets + [
        "--port", str(p["port"]), "--jobs", str(p["jobs"]), "--wait", str(p["wait"]),
        "--login-wait", str(p["login_wait"]), "--user", p["user"], "--format", "json"]
    rc, out, err = run_tool(module, cmd, password=p["password"], files=p["files"])
    results = parse_json_lines(module, "kestrion-cli upgrade", out)
    failed = [r for r in results if r.get("result") != "success"]
    changed = len(failed) < len(results)
    if rc == 0 and not failed:
        module.exit_json(changed=changed, results=results, failed_count=0)
    if rc in RECORDER_STATUSES:
        module.fail_json(msg="%d of %d recorders failed: %s" % (len(failed), len(results), ", ".join(
            "%s:%s %s" % (r.get("host"), r.get("port"), r.get("result")) for r in failed)),
            results=results, failed_count=len(failed), changed=changed, rc=rc, stderr=err)
    fail_tool(module, "kestrion-cli upgrade", cmd, rc, out, err, results=results,
              failed_count=len(failed), changed=changed)


if __name__ == "__main__":
    main()
