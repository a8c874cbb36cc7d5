# -*- coding: utf-8 -*-
# Running pellory-cli and kestrion-cli on the site's host and reading their JSON: the one place
# the modules share, so every module hands over passwords and reports tool failures alike.
from __future__ import absolute_import, division, print_function

__metaclass__ = type

import ipaddress
import json
import os
import re
import shutil
import tempfile

# The tools read the password from this variable (--password-env): never from their argv,
# which every user of the host can read in the process list.
PASSWORD_VARIABLE = "ZANTREL_RECORDER_PASSWORD"

# Every module that runs pellory-cli takes its path.
PELLORY_CLI_ARGS = dict(pellory_cli=dict(type="str", default="pellory-cli"))

# Options every module that searches the site's network takes, as pellory-cli names them.
DISCOVERY_ARGS = dict(
    PELLORY_CLI_ARGS,
    target=dict(type="str"),
    bind_port=dict(type="int"),
    interface=dict(type="str"),
    timeout=dict(type="int", default=3),
)

ACCOUNT_ARGS = dict(
    user=dict(type="str", default="admin"),
    password=dict(type="str", required=True, no_log=True),
)


def discovery_options(params):
    """pellory-cli's options for where its requests go and where answers come in."""
    args = []
    if params.get("target"):
        args += ["--target", params["target"]]
    if params.get("bind_port") is not None:
        args += ["--bind-port", str(params["bind_port"])]
    if params.get("interface"):
        args += ["--interface", params["interface"]]
    return args


def mac_key(mac):
    """A MAC address in one spelling for matching: capitals, ':' between the pairs, whether it was
    written 00-12-34-56-78-9a, 0012.3456.789a or 00123456789A. Text that is no MAC address is
    only put in capitals, so that it still matches itself."""
    text = str(mac or "").strip().upper()
    digits = re.sub(r"[-:.\s]", "", text)
    if re.fullmatch(r"[0-9A-F]{12}", digits):
        return ":".join(digits[i:i + 2] for i in range(0, 12, 2))
    return text


def dotted(module, what, text):
    """An IPv4 address or mask in its plain dotted form, or the task fails naming the value."""
    try:
        return str(ipaddress.IPv4Address(str(text).strip()))
    except ValueError:
        module.fail_json(msg="%s %r is not an IPv4 address" % (what, text))


def run_tool(module, cmd, password=None, files=None):
    """Runs a tool; with a password, the tool finds it in its environment only. Files come last,
    after "--", so that a file name never reads as an option."""
    environ = {}
    cmd = list(cmd)
    if password is not None and "\0" in password:
        # An environment variable ends at the first zero byte: the recorder would get less.
        module.fail_json(msg="the password holds a zero character, which cannot be handed to the tools")
    if password is not None:
        environ[PASSWORD_VARIABLE] = password
        cmd += ["--password-env", PASSWORD_VARIABLE]
    if files is not None:
        cmd += ["--"] + list(files)
    return module.run_command(cmd, environ_update=environ)


def fail_tool(module, what, cmd, rc, out, err, **more):
    """Ends the task with the tool's own words: its last error line leads the message."""
    lines = [line for line in (err or "").splitlines() if line.strip()]
    reason = lines[-1] if lines else "exit status %d" % rc
    module.fail_json(msg="%s failed: %s" % (what, reason), rc=rc, cmd=cmd, stdout=out, stderr=err, **more)


def parse_json(module, what, text):
    """The tool's JSON document, or the task fails saying which tool gave something else."""
    try:
        return json.loads(text)
    except ValueError as exc:
        module.fail_json(msg="%s gave no JSON: %s" % (what, exc), stdout=text)


def parse_json_lines(module, what, text):
    """One JSON object per line, as kestrion-cli writes them while each recorder ends."""
    objects = []
    for line in (text or "").splitlines():
        if line.strip():
            objects.append(parse_json(module, what, line))
    return objects


def scan(module, params):
    """The recorders that answer pellory-cli scan, each with its address also under `address`."""
    cmd = [params["pellory_cli"], "scan", "--format", "json", "--timeout", str(params["timeout"])]
    cmd += discovery_options(params)
    rc, out, err = run_tool(module, cmd)
    if rc != 0:
        fail_tool(module, "pellory-cli scan", cmd, rc, out, err)
    found = parse_json(module, "pellory-cli scan", out or "[]")
    if not isinstance(found, list) or not all(isinstance(entry, dict) for entry in found):
        module.fail_json(msg="pellory-cli scan gave no list of recorders", stdout=out)
    recorders = []
    for entry in found:
        item = dict(entry)
        item["address"] = entry.get("ip")
        recorders.append(item)
    return recorders


class PrivateDir(object):
    """A folder only this module's user can enter, removed when the module is done with it."""

    def __init__(self, module):
        self.path = tempfile.mkdtemp(prefix="zantrel-", dir=module.tmpdir)
        os.chmod(self.path, 0o700)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        shutil.rmtree(self.path, ignore_errors=True)
        return False

    def file(self, name, text):
        path = os.path.join(self.path, name)
        fd = os.open(path, os.O_WRONLY | os.O_CREAT | os.O_EXCL, 0o600)
        with os.fdopen(fd, "w") as handle:
            handle.write(text)
        return path
