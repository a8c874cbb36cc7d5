#!/usr/bin/python
# -*- coding: utf-8 -*-
from __future__ import absolute_import, division, print_function

__metaclass__ = type

DOCUMENTATION = r"""
---
module: recorder_register
short_description: Enter a recorder in the surveillance client's data file on the site's host
description:
  - Reads the data file with C(pellory-cli devices --format json). A device of the same name,
    address and port is already there and is left alone (C(changed=false)); otherwise
    C(pellory-cli register) enters it, with the data store's own checks and messages.
  - A device of that name, address and port whose channels, organisation or user name differ
    from the ones asked for fails the task; the data file is not changed, since the tool cannot
    change a device it holds. Its password cannot be compared, as the file only holds it
    enciphered.
  - In check mode the file is only read, and the task says whether the device would be entered;
    the data store's checks (a name or address held by another device, ...) run only for real.
  - A data file that does not exist yet is created, readable by its owner only.
extends_documentation_fragment:
  - zantrel.recorders.recorder.pellory_cli
  - zantrel.recorders.recorder.account
  - ansible.builtin.action_common_attributes
attributes:
  check_mode:
    support: full
  diff_mode:
    support: none
  platform:
    platforms: posix
options:
  data:
    description: The client's data file (C(Data.xml)) on the site's host.
    type: path
    required: true
  ip:
    description: The recorder's address.
    type: str
    required: true
  port:
    description: The recorder's port.
    type: int
    default: 37777
  name:
    description: Device name, stored as given (blanks at its ends trimmed).
    type: str
    required: true
  channels:
    description: Total channels, 1 to 16.
    type: int
    required: true
  org:
    description: Organisation id the data file holds; 0 is the top level.
    type: int
    default: 0
  camera_types:
    description: Camera type of each channel from the first, 0 normal camera, 1 speed dome; the rest are normal cameras.
    type: list
    elements: int
author: Kestrion and Pellory developers
"""

EXAMPLES = r"""
- name: Enter the lobby recorder in the client's data file
  zantrel.recorders.recorder_register:
    data: /srv/client/XML/Data.xml
    ip: 192.168.1.120
    name: Lobby
    channels: 4
    password: "{{ recorder_password }}"
"""

RETURN = r"""
device:
  description: The device as the data file holds it (id, name, host, port, channels, orgId, username); never its password.
  returned: when the device is in the file, or was entered
  type: dict
  sample: {id: 1, name: Lobby, host: 192.168.1.120, port: 37777, channels: 4, orgId: 0, username: admin}
result:
  description: C(registered), C(already registered), or C(would register) in check mode.
  returned: success
  type: str
"""

import os

from ansible.module_utils.basic import AnsibleModule
from ansible_collections.zantrel.recorders.plugins.module_utils.recorder_tools import (
    ACCOUNT_ARGS,
    PELLORY_CLI_ARGS,
    fail_tool,
    parse_json,
    run_tool,
)


def devices(module):
    """The devices the data file holds; none when it does not exist yet."""
    p = module.params
    if not os.path.lexists(p["data"]):
        return []
    cmd = [p["pellory_cli"], "devices", "--data", p["data"], "--format", "json"]
    rc, out, err = run_tool(module, cmd)
    if rc != 0:
        fail_tool(module, "pellory-cli devices", cmd, rc, out, err)
    listed = parse_json(module, "pellory-cli devices", out or "[]")
    if not isinstance(listed, list):
        module.fail_json(msg="pellory-cli devices gave no list", stdout=out)
    return listed


def same_device(device, p):
    return (device.get("name") == p["name"].strip() and device.get("host") == p["ip"]
            and device.get("port") == p["port"])


def differences(device, p):
    wanted = dict(channels=p["channels"], orgId=p["org"], username=p["user"])
    return ["%s is %s, not %s" % (k, device.get(k), v) for k, v in sorted(wanted.items()) if device.get(k) != v]


def register(module):
    p = module.params
    cmd = [p["pellory_cli"], "register", "--data", p["data"], "--ip", p["ip"], "--port", str(p["port"]),
           "--name", p["name"], "--user", p["user"], "--channels", str(p["channels"]), "--org", str(p["org"])]
    if p["camera_types"]:
        cmd += ["--camera-types", ",".join(str(t) for t in p["camera_types"])]
    rc, out, err = run_tool(module, cmd, password=p["password"])
    if rc != 0:
        fail_tool(module, "pellory-cli register", cmd, rc, out, err, changed=False)


def main():
    argument_spec = dict(PELLORY_CLI_ARGS)
    argument_spec.update(ACCOUNT_ARGS)
    argument_spec.update(
        data=dict(type="path", required=True),
        ip=dict(type="str", required=True),
        port=dict(type="int", default=37777),
        name=dict(type="str", required=True),
        channels=dict(type="int", required=True),
        org=dict(type="int", default=0),
        camera_types=dict(type="list", elements="int"),
    )
    module = AnsibleModule(argument_spec=argument_spec, supports_check_mode=True)
    p = module.params
    there = [d for d in devices(module) if same_device(d, p)]
    if there:
        wrong = differences(there[0], p)
        if wrong:
            module.fail_json(msg="%s is registered with other settings (%s); the data file is left as it is" % (
                p["name"], ", ".join(wrong)), device=there[0], changed=False)
        module.exit_json(changed=False, result="already registered", device=there[0])
    if module.check_mode:
        module.exit_json(changed=True, result="would register")
    register(module)
    entered = [d for d in devices(module) if same_device(d, p)]
    module.exit_json(changed=True, result="registered", device=entered[0] if entered else None)


if __name__ == "__main__":
    main()
