#!/usr/bin/python
# -*- coding: utf-8 -*-
from __future__ import absolute_import, division, print_function

__metaclass__ = type

DOCUMENTATION = r"""
---
module: recorder_scan
short_description: List the recorders that answer a search on the site's network
description:
  - Runs C(pellory-cli scan --format json) on the managed host and returns the recorders found.
  - Only reads the network, so check mode runs the search as usual.
options:
  pellory_cli:
    description: Path of C(pellory-cli); looked up on PATH by default.
    type: str
    default: pellory-cli
  timeout:
    description: Seconds to wait for answers.
    type: int
    default: 3
  target:
    description: Where the search goes (ADDR[:PORT]); the broadcast address by default.
    type: str
  bind_port:
    description: UDP port answers are taken in on.
    type: int
author: Kestrion and Pellory developers
"""

EXAMPLES = r"""
- name: Find the site's recorders
  zantrel.recorders.recorder_scan:
    timeout: 5
  register: scan
"""

RETURN = r"""
recorders:
  description: One entry per recorder, with mac, address, port, mask, gateway and, where the tool gives them, conflict and subnet.
  returned: success
  type: list
  elements: dict
"""

import json

from ansible.module_utils.basic import AnsibleModule


def normalise(entry):
    item = dict(entry)
    item["address"] = entry.get("ip")
    return item


def main():
    module = AnsibleModule(
        argument_spec=dict(
            pellory_cli=dict(type="str", default="pellory-cli"),
            timeout=dict(type="int", default=3),
            target=dict(type="str"),
            bind_port=dict(type="int"),
        ),
        supports_check_mode=True,
    )
    p = module.params
    cmd = [p["pellory_cli"], "scan", "--format", "json", "--timeout", str(p["timeout"])]
    if p["target"]:
        cmd += ["--target", p["target"]]
    if p["bind_port"] is not None:
        cmd += ["--bind-port", str(p["bind_port"])]
    rc, out, err = module.run_command(cmd)
    if rc != 0:
        module.fail_json(msg="pellory-cli scan failed", rc=rc, stderr=err, cmd=cmd)
    try:
        found = json.loads(out or "[]")
    except ValueError as exc:
        module.fail_json(msg="pellory-cli scan gave no JSON: %s" % exc, stdout=out)
    recorders = [normalise(e) for e in found]
    module.exit_json(changed=False, recorders=recorders,
                     ansible_facts=dict(recorders=recorders))


if __name__ == "__main__":
    main()
