#!/usr/bin/env python3
"""The schema of ts_showdisk's --json document against docs/json.md.

    check_schema.py SOURCE_ROOT

The example document of docs/json.md must be valid, and copies of it with one
fault each must be refused: a member of another build, a member missing, a
member of the wrong type, the LUNs of a run that did not list. Exit 0 when
every case holds, 1 otherwise (a missing jsonschema module too).
"""

import copy
import json
import os
import re
import sys


def main():
    try:
        import jsonschema
    except ImportError:
        print("FAIL: the Python module jsonschema (Debian python3-jsonschema) is missing")
        return 1
    root = sys.argv[1]
    with open(os.path.join(root, "docs/schema/ts_showdisk.schema.json")) as f:
        schema = json.load(f)
    jsonschema.Draft202012Validator.check_schema(schema)
    validator = jsonschema.Draft202012Validator(schema)
    with open(os.path.join(root, "docs/json.md")) as f:
        example = json.loads(re.search(r"```json\n(.*?)```", f.read(), re.S).group(1))

    failures = []
    errors = [e.message for e in validator.iter_errors(example)]
    if errors:
        failures.append("the example of docs/json.md is refused: %s" % errors)

    def path0(doc):
        return doc["luns"][0]["paths"][0]

    def faulty(change):
        doc = copy.deepcopy(example)
        change(doc)
        return doc

    def esxi(doc):
        doc["platform"] = "esxi"
        del doc["multipath"]
        for lun in doc["luns"]:
            del lun["port_type"], lun["host_adapter"]
            for path in lun["paths"]:
                for name in ("lun_name", "wwn", "vendor", "ctrl", "host_lun_id", "array_name"):
                    del path[name]

    if list(validator.iter_errors(faulty(esxi))):
        failures.append("the example made an ESXi document is refused")
    cases = {
        "an ESXi document with the multipath note": lambda d: (esxi(d), d.update(multipath=True)),
        "an ESXi LUN with a port type": lambda d: (esxi(d), d["luns"][0].update(port_type="FC")),
        "an ESXi path with a WWN": lambda d: (esxi(d), path0(d).update(wwn="6e")),
        "a Linux path without its own WWN": lambda d: path0(d).pop("wwn"),
        "a path without shown": lambda d: path0(d).pop("shown"),
        "a shown port type that is a number": lambda d: path0(d)["shown"].update(port_type=3),
        "a host LUN id as text": lambda d: d["luns"][0].update(host_lun_id="1"),
        "a host adapter as text": lambda d: path0(d).update(host_adapter="3"),
        "a member the schema does not know": lambda d: d["luns"][0].update(size=1),
        "LUNs of a refused run": lambda d: d.update(result="product_installed"),
        "a listed run without LUNs": lambda d: d.pop("luns"),
        "a Linux document without its log": lambda d: d.pop("log"),
        "schema version 2": lambda d: d.update(schema_version=2),
        "LUNs in a Solaris document": lambda d: d.update(platform="solaris"),
    }
    for name, change in cases.items():
        if not list(validator.iter_errors(faulty(change))):
            failures.append("the schema takes %s" % name)

    solaris = {"schema_version": 1, "program": "ts_showdisk", "platform": "solaris",
               "result": "listed", "disks": [{"disk_name": "/dev/rdsk/c1t0d0s0", "messages": [],
                                              "opened": False}]}
    if list(validator.iter_errors(solaris)):
        failures.append("a Solaris device that did not open is refused")
    solaris["disks"][0]["opened"] = True
    if not list(validator.iter_errors(solaris)):
        failures.append("the schema takes an opened Solaris device without its columns")

    for failure in failures:
        print("FAIL: " + failure)
    if not failures:
        print("the example is valid, %d faulty documents refused" % (len(cases) + 1))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
