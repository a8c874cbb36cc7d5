# -*- coding: utf-8 -*-
# Options the modules share, documented once.
from __future__ import absolute_import, division, print_function

__metaclass__ = type


class ModuleDocFragment(object):
    PELLORY_CLI = r"""
options:
  pellory_cli:
    description: Path of C(pellory-cli) on the site's host; looked up on PATH by default.
    type: str
    default: pellory-cli
"""

    DISCOVERY = r"""
options:
  target:
    description:
      - Where the search and the requests go (ADDR[:PORT]); the broadcast address by default.
      - A test points this at C(recorder-sim)'s discovery socket.
    type: str
  bind_port:
    description: UDP port answers are taken in on (0 takes any free port); 5050 by default.
    type: int
  interface:
    description: Send through this network interface only.
    type: str
  timeout:
    description: Seconds to collect answers to the search.
    type: int
    default: 3
"""

    ACCOUNT = r"""
options:
  user:
    description: User name to log in to the recorders with.
    type: str
    default: admin
  password:
    description:
      - Password of that account.
      - It reaches the tools through their environment only, never their command line, and is
        never logged.
    type: str
    required: true
"""
