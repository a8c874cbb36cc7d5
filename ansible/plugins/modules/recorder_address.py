#!/usr/bin/python
# -*- coding: utf-8 -*-
from __future__ import absolute_import, division, print_function

__metaclass__ = type

DOCUMENTATION = r"""
---
module: recorder_address
short_description: Give recorders their planned address, mask and gateway
description:
  - Searches the site's network with C(pellory-cli scan), compares each planned recorder's address,
    mask and gateway with what it reports, and sends C(pellory-cli assign) only for the recorders
    whose settings differ. A recorder already as planned is left alone and reported C(unchanged).
  - One recorder by C(mac), or many by C(plan).
  - The task fails when any planned recorder did not take its address or did not answer the search;
    the others are still changed, and C(recorders) holds every recorder's result.
  - In check mode nothing is sent to any recorder; the search runs, and C(recorders) says which
    recorder would change (C(would change)) and which would not.
extends_documentation_fragment:
  - zantrel.recorders.recorder.pellory_cli
  - zantrel.recorders.recorder.discovery
  - zantrel.recorders.recorder.account
  - ansible.builtin.action_common_attributes
attributes:
  check_mode:
    support: full
  diff_mode:
    support: full
  platform:
    platforms: posix
options:
  mac:
    description:
      - MAC address of the one recorder to change, as the search lists it.
      - Case and separators do not matter (C(00-12-34-56-78-9a), C(0012.3456.789a) and
        C(00123456789A) name the same recorder).
    type: str
  ip:
    description: New address of the recorder named by C(mac).
    type: str
  mask:
    description:
      - Subnet mask of the new addresses.
      - A plan entry's own mask comes first; without either, the recorder keeps its mask.
    type: str
  gateway:
    description:
      - Default gateway of the new addresses.
      - A plan entry's own gateway comes first; without either, the recorder keeps its gateway.
    type: str
  plan:
    description: Many recorders at once, each with C(mac), C(ip) and optionally C(mask), C(gateway).
    type: list
    elements: dict
  login_timeout:
    description: Seconds each recorder has for its login and its answer.
    type: int
    default: 5
author: Kestrion and Pellory developers
"""

EXAMPLES = r"""
- name: Give the lobby recorder its address
  zantrel.recorders.recorder_address:
    mac: "00:12:34:56:78:9A"
    ip: 192.168.1.120
    mask: 255.255.255.0
    gateway: 192.168.1.1
    password: "{{ recorder_password }}"

- name: Number the whole site
  zantrel.recorders.recorder_address:
    plan:
      - {mac: "00:12:34:56:78:9A", ip: 192.168.1.120}
      - {mac: "00:12:34:56:78:9B", ip: 192.168.1.121}
    mask: 255.255.255.0
    gateway: 192.168.1.1
    password: "{{ recorder_password }}"
  register: addressing
"""

RETURN = r"""
recorders:
  description:
    - One entry per planned recorder, in the plan's order, with C(mac), C(old_ip), C(old_mask),
      C(old_gateway) (as the search found them), C(ip), C(mask), C(gateway) (as planned),
      C(result), C(message) and C(changed).
    - C(result) is C(unchanged), C(would change) (check mode), C(not found), or the word
      C(pellory-cli assign) gives (C(modified), C(login refused), C(no answer to the login),
      C(refused), C(no answer), C(not sent)).
  returned: always
  type: list
  elements: dict
  sample:
    - {mac: "00:12:34:56:78:9A", old_ip: 192.168.1.108, old_mask: 255.255.255.0,
       old_gateway: 192.168.1.1, ip: 192.168.1.120, mask: 255.255.255.0, gateway: 192.168.1.1,
       result: modified, message: "Modified IP address successfully!", changed: true}
"""

import csv
import io

from ansible.module_utils.basic import AnsibleModule
from ansible_collections.zantrel.recorders.plugins.module_utils.recorder_tools import (
    ACCOUNT_ARGS,
    DISCOVERY_ARGS,
    PrivateDir,
    discovery_options,
    dotted,
    fail_tool,
    mac_key,
    parse_json,
    run_tool,
    scan,
)

PLAN_FIELDS = ("mac", "ip", "mask", "gateway")
# pellory-cli assign: 0 every recorder took its address, 12 some did not (its results say which).
ASSIGN_ANSWERED = (0, 12)


def planned_entries(module):
    p = module.params
    plan = p["plan"] if p["plan"] is not None else [dict(mac=p["mac"], ip=p["ip"])]
    seen = set()
    for entry in plan:
        for key in PLAN_FIELDS:
            if entry.get(key) is not None:
                entry[key] = str(entry[key]).strip()
        if not entry.get("mac") or not entry.get("ip"):
            module.fail_json(msg="every plan entry needs a mac and an ip: %s" % entry)
        unknown = set(entry) - set(PLAN_FIELDS)
        if unknown:
            module.fail_json(msg="plan entry %s: unknown keys %s" % (entry["mac"], ", ".join(sorted(unknown))))
        # In the one plain form the tools and the search give, so that equal settings compare
        # equal; a value that is no address ends the task here, before anything is sent.
        for key in ("ip", "mask", "gateway"):
            if entry.get(key):
                entry[key] = dotted(module, "%s of %s" % (key, entry["mac"]), entry[key])
        if mac_key(entry["mac"]) in seen:
            module.fail_json(msg="%s is planned twice" % entry["mac"])
        seen.add(mac_key(entry["mac"]))
    return plan


def compare(entry, found, params):
    """A planned recorder beside what the search found of it."""
    row = dict(mac=entry["mac"], ip=entry["ip"], old_ip=None, old_mask=None, old_gateway=None,
               changed=False, message="")
    if found is not None:
        row.update(mac=found["mac"], old_ip=found.get("ip"), old_mask=found.get("mask"),
                   old_gateway=found.get("gateway"))
    row["mask"] = entry.get("mask") or params["mask"] or row["old_mask"]
    row["gateway"] = entry.get("gateway") or params["gateway"] or row["old_gateway"]
    if found is None:
        row["result"] = "not found"
        row["message"] = "no recorder with this MAC address answered the search"
    elif (row["ip"], row["mask"], row["gateway"]) == (row["old_ip"], row["old_mask"], row["old_gateway"]):
        row["result"] = "unchanged"
    else:
        row["result"] = "would change"
    return row


def plan_text(rows):
    out = io.StringIO()
    writer = csv.writer(out, lineterminator="\n")
    writer.writerow(PLAN_FIELDS)
    for row in rows:
        writer.writerow([row[k] for k in PLAN_FIELDS])
    return out.getvalue()


def assign(module, rows):
    """Sends the changes; each row takes the result pellory-cli assign gives its recorder."""
    p = module.params
    with PrivateDir(module) as folder:
        cmd = [p["pellory_cli"], "assign", "--plan", folder.file("plan.csv", plan_text(rows)),
               "--user", p["user"], "--timeout", str(p["login_timeout"]),
               "--scan-time", str(p["timeout"]), "--format", "json"] + discovery_options(p)
        rc, out, err = run_tool(module, cmd, password=p["password"])
    if rc not in ASSIGN_ANSWERED:
        fail_tool(module, "pellory-cli assign", cmd, rc, out, err, recorders=rows, changed=False)
    answers = parse_json(module, "pellory-cli assign", out)
    if not isinstance(answers, list) or not all(isinstance(a, dict) for a in answers):
        module.fail_json(msg="pellory-cli assign gave no list of results", stdout=out, recorders=rows,
                         changed=False)
    by_mac = dict((mac_key(a.get("mac")), a) for a in answers)
    for row in rows:
        answer = by_mac.get(mac_key(row["mac"]), dict(result="not sent", message=""))
        row["result"] = answer.get("result")
        row["message"] = answer.get("message", "")
        row["changed"] = row["result"] == "modified"


def settings_text(rows, prefix):
    return "".join("%s %s/%s gateway %s\n" % (r["mac"], r[prefix + "ip"], r[prefix + "mask"],
                                              r[prefix + "gateway"]) for r in rows)


def main():
    argument_spec = dict(DISCOVERY_ARGS)
    argument_spec.update(ACCOUNT_ARGS)
    argument_spec.update(
        mac=dict(type="str"),
        ip=dict(type="str"),
        mask=dict(type="str"),
        gateway=dict(type="str"),
        plan=dict(type="list", elements="dict"),
        login_timeout=dict(type="int", default=5),
    )
    module = AnsibleModule(
        argument_spec=argument_spec,
        mutually_exclusive=[("plan", "mac"), ("plan", "ip")],
        required_one_of=[("plan", "mac")],
        required_together=[("mac", "ip")],
        supports_check_mode=True,
    )
    plan = planned_entries(module)
    found = {}
    for recorder in scan(module, module.params):
        found.setdefault(mac_key(recorder.get("mac")), recorder)
    for key in ("mask", "gateway"):
        if module.params[key]:
            module.params[key] = dotted(module, key, module.params[key])
    rows = [compare(entry, found.get(mac_key(entry["mac"])), module.params) for entry in plan]
    to_change = [r for r in rows if r["result"] == "would change"]
    if to_change and not module.check_mode:
        assign(module, to_change)
    moved = [r for r in rows if r["result"] in ("modified", "would change")]
    changed = bool(moved)
    diff = dict(before=settings_text(moved, "old_"), after=settings_text(moved, ""))
    failed = [r for r in rows if r["result"] not in ("unchanged", "would change", "modified")]
    if failed:
        module.fail_json(msg="%d of %d recorders did not take their address: %s" % (
            len(failed), len(rows), "; ".join("%s %s" % (r["mac"], r["result"]) for r in failed)),
            recorders=rows, changed=changed, diff=diff)
    module.exit_json(changed=changed, recorders=rows, diff=diff)


if __name__ == "__main__":
    main()
