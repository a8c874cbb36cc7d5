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
extends_documentation_fragment:
  - zantrel.recorders.recorder.pellory_cli
  - zantrel.recorders.recorder.discovery
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
  description:
    - One entry per recorder, as C(pellory-cli scan) gives it (no, ip, port, mask, gateway, mac,
      conflict, subnet), with the address also under C(address).
    - Also set as the fact C(recorders).
  returned: success
  type: list
  elements: dict
  sample:
    - {"no": 1, ip: 192.168.1.108, address: 192.168.1.108, port: 37777, mask: 255.255.255.0,
       gateway: 192.168.1.1, mac: "00:12:34:56:78:9A", conflict: false, subnet: local}
"""

from ansible.module_utils.basic import AnsibleModule
from ansible_collections.zantrel.recorders.plugins.module_utils.recorder_tools import (
    DISCOVERY_ARGS,
    scan,
)


def main():
    module = AnsibleModule(argument_spec=dict(DISCOVERY_ARGS), supports_check_mode=True)
    recorders = scan(module, module.params)
    module.exit_json(changed=False, recorders=recorders, ansible_facts=dict(recorders=recorders))


if __name__ == "__main__":
    main()
