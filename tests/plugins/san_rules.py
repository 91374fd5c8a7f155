"""What a simulated host's topology says of its vluns, worked out from the
host file alone (as `sansim expand` lays it out), never from the programs:

- a path is active when the listing shows it active and it answers: its
  dm_state is active (the default) and it is not dead; a path with a fault
  that these rules do not model raises Unmodelled, so that a host the rules
  cannot judge fails the test instead of passing it on a guess;
- a path's target port is the one its page 0xC0 names (bytes 192..432, NUL
  padded): its port's identifier, or the text a patch writes there;
- a vlun's single points are the components (HBA, fabric, target port,
  controller) that all of its active paths go through;
- a vlun is redundant with two active paths or more and no single point.
"""

import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "harness"))
from hostrun import expand  # noqa: E402,F401  (the host laid out, for the checks)


class Unmodelled(Exception):
    pass


def path_active(path):
    faults = path.get("faults") or {}
    unknown = set(faults) - {"dead", "patches"}
    if unknown or path.get("device_state", "running") != "running":
        raise Unmodelled("path %s: %s" % (path["sd"], sorted(unknown) or path["device_state"]))
    return path.get("dm_state", "active") == "active" and not faults.get("dead")


def components(topo, path):
    """The components a path goes through, by kind, as check redundancy
    names them."""
    number = int(path["hctl"].split(":")[0])
    host = next(h for h in topo["scsi_hosts"] if h["number"] == number)
    array = next(a for a in topo["arrays"]
                 if any(p["id"] == path["target_port"] for p in a["target_ports"]))
    port = next(p for p in array["target_ports"] if p["id"] == path["target_port"])
    found = {"hba": "host%d" % number, "target_port": ascii_lower(page_c0_port(path, port)),
             "controller": "%s:%s" % (array["serial"], port["controller"])}
    if topo.get("transport_classes"):
        if host["driver"].startswith("iscsi"):
            found["fabric"] = host.get("ip_address", "10.0.%d.1" % number)
        else:
            found["fabric"] = host.get("fabric_name",
                                       "10000005" + host["initiator_port"][-8:]).lower()
    return found


def page_c0_port(path, port):
    """The target port identifier that the path's page 0xC0 carries."""
    text = port["identifier"].encode("latin-1")
    for patch in (path.get("faults") or {}).get("patches", []):
        offset = int(str(patch["offset"]), 0)
        data = bytes.fromhex(patch["hex"].replace(" ", "").replace(":", ""))
        if str(patch["page"]).lower() != "0xc0" or offset + len(data) <= 192 or offset > 432:
            continue
        if offset != 192:
            raise Unmodelled("path %s: a patch of page 0xC0 at %d" % (path["sd"], offset))
        text = data + text[len(data):]
    return text.split(b"\0", 1)[0].decode("latin-1")


def ascii_lower(text):
    return "".join(c.lower() if c.isascii() else c for c in text)


def filtered_name(text):
    """A name as a text line shows it: every character outside printable
    ASCII as '?'."""
    return "".join(c if " " <= c <= "~" else "?" for c in text)


def vluns(topo):
    """Each vlun (dm name) with its active path count and its single points
    ({kind: name}); only vluns with a dm node."""
    result = {}
    for lun in topo["luns"]:
        if not lun.get("dm"):
            continue
        active = [components(topo, p) for p in lun["paths"] if path_active(p)]
        single = {}
        if active:
            for kind in active[0]:
                names = {c[kind] for c in active}
                if len(names) == 1:
                    single[kind] = names.pop()
        result[lun["dm"]] = {"active_paths": len(active), "single_points": single,
                             "failed_paths": len(lun["paths"]) - len(active)}
    return result


def not_redundant(topo):
    """The dm names of the vluns that have lost redundancy."""
    return {name for name, v in vluns(topo).items()
            if v["active_paths"] < 2 or v["single_points"]}


def nagios_state(topo):
    """The plugin's exit status by the alarm rules: CRITICAL (2) when a vlun
    has no active path, WARNING (1) when a path is down, a vlun has one
    active path or all of them lead to one controller, else OK (0)."""
    found = vluns(topo)
    if any(v["active_paths"] == 0 for v in found.values()):
        return 2
    if any(v["failed_paths"] or v["active_paths"] == 1 or "controller" in v["single_points"]
           for v in found.values()):
        return 1
    return 0
