#!/usr/bin/python
# -*- coding: utf-8 -*-
from __future__ import absolute_import, division, print_function

__metaclass__ = type

DOCUMENTATION = r"""
---
module: recorder_report
short_description: Write one CSV file of every site's recorder results
description:
  - Meant for the control machine, after the sites were serviced - one row per recorder and site,
    from what M(zantrel.recorders.recorder_scan), M(zantrel.recorders.recorder_address),
    M(zantrel.recorders.recorder_register) and M(zantrel.recorders.recorder_upgrade) returned there.
  - A site that never reported gets one row that says so, so no site goes missing from the report.
  - Text from recorders is written with control characters shown as C(\xHH), and a text cell that
    starts like a spreadsheet formula (C(=), C(+), C(-), C(@)) gets a leading apostrophe.
  - The file is replaced whole (written beside it, then renamed); in check mode it is not written,
    and C(changed) says whether it would differ.
extends_documentation_fragment:
  - ansible.builtin.action_common_attributes
attributes:
  check_mode:
    support: full
  diff_mode:
    support: none
  platform:
    platforms: posix
options:
  dest:
    description: The CSV file to write.
    type: path
    required: true
  sites:
    description:
      - Each site's results by site name. Every value may hold C(recorders) (a scan's list),
        C(addresses) (recorder_address's C(recorders)), C(registrations) (the C(results) of a loop
        over recorder_register), C(upgrades) (recorder_upgrade's C(results)) and C(error) (why the
        site stopped).
    type: dict
    required: true
author: Kestrion and Pellory developers
"""

EXAMPLES = r"""
- name: Write every site's results to one CSV file
  zantrel.recorders.recorder_report:
    dest: /srv/reports/recorders.csv
    sites: "{{ dict(groups['sites'] | zip(groups['sites'] | map('extract', hostvars) | map(attribute='site_report', default={}))) }}"
"""

RETURN = r"""
rows:
  description: Number of recorder rows written (the heading not counted).
  returned: success
  type: int
"""

import os
import tempfile

from ansible.module_utils.basic import AnsibleModule

COLUMNS = ("site", "mac", "ip", "port", "address", "address_message", "registration", "device_id",
           "upgrade", "upgrade_status", "last_percent", "bytes_sent", "seconds", "site_error")
FORMULA_STARTS = ("=", "+", "-", "@", "\t", "\r")


def visible(text):
    """Control characters (C0 but tab, DEL, C1) as \\xHH of their UTF-8 bytes."""
    out = []
    for ch in text:
        code = ord(ch)
        if (code < 0x20 and ch != "\t") or 0x7F <= code <= 0x9F:
            out.append("".join("\\x%02x" % b for b in bytearray(ch.encode("utf-8"))))
        else:
            out.append(ch)
    return "".join(out)


def csv_field(value):
    if value is None:
        return ""
    if isinstance(value, bool):
        return "yes" if value else "no"
    if isinstance(value, (int, float)):
        return str(value)
    text = visible(value if isinstance(value, str) else str(value))
    if text.startswith(FORMULA_STARTS):
        text = "'" + text
    if any(c in text for c in ',"\n') or text != text.strip(" "):
        text = '"' + text.replace('"', '""') + '"'
    return text


def recorder_key(ip, port):
    return "%s:%s" % (ip, port)


def registration_of(result):
    """The recorder and the outcome one item of a recorder_register loop tells."""
    item = result.get("item") or {}
    device = result.get("device") or {}
    key = recorder_key(item.get("ip", device.get("host")), item.get("port", device.get("port")))
    if result.get("skipped"):
        return key, "skipped", None
    if result.get("failed"):
        return key, "failed: %s" % result.get("msg", ""), None
    return key, result.get("result", ""), device.get("id")


def site_rows(name, site):
    """One row per recorder the site's results name, scanned ones first."""
    rows, by_mac, by_key = [], {}, {}

    def row_for(mac=None, ip=None, port=None):
        found = by_mac.get((mac or "").upper()) if mac else by_key.get(recorder_key(ip, port))
        if found is None:
            found = dict((c, None) for c in COLUMNS)
            found.update(site=name, mac=mac, ip=ip, port=port, site_error=site.get("error"))
            rows.append(found)
            if mac:
                by_mac[mac.upper()] = found
            if ip:
                by_key[recorder_key(ip, port)] = found
        return found

    for r in site.get("recorders") or []:
        row_for(r.get("mac"), r.get("ip"), r.get("port"))
    for a in site.get("addresses") or []:
        row = row_for(a.get("mac"))
        row.update(address=a.get("result"), address_message=a.get("message"))
    for result in site.get("registrations") or []:
        key, outcome, device_id = registration_of(result)
        row = by_key.get(key) or row_for(None, *key.rsplit(":", 1))
        row.update(registration=outcome, device_id=device_id)
    for u in site.get("upgrades") or []:
        row = row_for(None, u.get("host"), u.get("port"))
        row.update(upgrade=u.get("result"), upgrade_status=u.get("status"), last_percent=u.get("lastPercent"),
                   bytes_sent=u.get("bytesSent"), seconds=u.get("seconds"))
    if not rows:
        row = row_for()
        row["site_error"] = site.get("error") or ("no results" if not site else "no recorder found")
    return rows


def report_text(sites):
    lines = [",".join(COLUMNS)]
    count = 0
    for name in sorted(sites):
        for row in site_rows(name, sites[name] or {}):
            lines.append(",".join(csv_field(row[c]) for c in COLUMNS))
            count += 1
    return "\n".join(lines) + "\n", count


def main():
    module = AnsibleModule(
        argument_spec=dict(dest=dict(type="path", required=True), sites=dict(type="dict", required=True)),
        supports_check_mode=True,
    )
    dest = module.params["dest"]
    text, count = report_text(module.params["sites"])
    old = None
    if os.path.exists(dest):
        with open(dest, "rb") as handle:
            old = handle.read()
    changed = old != text.encode("utf-8")
    if changed and not module.check_mode:
        fd, temp = tempfile.mkstemp(prefix=".report-", dir=os.path.dirname(os.path.abspath(dest)))
        with os.fdopen(fd, "wb") as handle:
            handle.write(text.encode("utf-8"))
        module.atomic_move(temp, dest)
    module.exit_json(changed=changed, rows=count, dest=dest)


if __name__ == "__main__":
    main()
