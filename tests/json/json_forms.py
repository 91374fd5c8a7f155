"""The --json form of an end-to-end scenario: the document its words print
must rebuild the table form's expected output.

A scenario's words run again with --json before them (tests/harness runs
them on the scenario's host, beside the table form), and check_document
holds the run to:

- its exit status must be the scenario's status (and the document's
  exit_status the program's);
- standard output must be one JSON document valid against the kind's schema
  in the schema folder (docs/schema), unless the words make the program print
  a text that --json leaves alone (a version or usage text): then standard
  output must be the scenario's expected one;
- the renderer of KIND rebuilds from the document what the table form prints
  and compares it with the scenario's expected standard output. The LUN
  tables are compared cell by cell (each row with its runs of blanks
  squeezed, so widths do not count); the Solaris table, whose widths are
  fixed, is rebuilt whole.

A renderer is one function of (document, words, expected standard output as
bytes) that returns the list of differences; RENDERERS maps each KIND to its
renderer, to the function that says whether the words leave the output in
text form, and to its schema. Another program's kind plugs in there.
"""

import json
import os
import re
import struct


def terminal_text(text):
    """A document's string as the tables print it: every character outside
    U+0020..U+007E (one for each byte the device sent) as '?'."""
    return "".join(c if 0x20 <= ord(c) <= 0x7E else "?" for c in text)


def terminal_bytes(text):
    """A message or report of the document as the text form prints it: the
    bytes it escapes (one code point a byte), each outside 0x20..0x7E as
    '?'."""
    return terminal_text(text).encode("latin-1")


def squeeze(line):
    return " ".join(piece for piece in line.split(" ") if piece)


# ---- ts_showdisk for Linux and ESXi ----

LUN_HEADINGS = ("DiskName LunName WWN Path PathStatus HostAdapter Capacity Vendor "
                "Ctrl(Own/Work) HostLunID ArrayName PortType")
LUN_ATTRIBUTES = ("lun_name", "wwn", "vendor", "ctrl", "host_lun_id", "array_name")
NO_DISK = b"There is no Qelmar disk\n"
PRODUCT = b"Tessaro is installed in the OS. Please use Tessaro CLI.\n"
NOT_MULTIPATH = "These disks are not managed by Multipath."


def cell(value):
    """A text member's cell: null is "--"."""
    if value is None:
        return "--"
    if isinstance(value, int):
        return str(value)
    return terminal_text(value)


def adapter_cell(value):
    """The host adapter's cell: null is an empty cell (no number known)."""
    return "" if value is None else str(value)


def float32(value):
    return struct.unpack("f", struct.pack("f", value))[0]


def capacity_text_of_bytes(size):
    """The capacity text of a sysfs size: sectors / 2 KiB in single precision,
    scaled by 1024 up to P, one decimal below 10."""
    value = float32(float((size // 512) // 2))
    units = "KMGTP"
    unit = 0
    while value >= 1024 and unit < len(units) - 1:
        value = float32(value / 1024)
        unit += 1
    return ("%.1f" if value < 10 else "%.0f") % value + units[unit]


def lun_rows(doc, failures):
    """The table's rows from the document, each a list of twelve cells; the
    "shown" values are checked against the platform's row rule first."""
    linux = doc["platform"] == "linux"
    rows = []
    for lun in doc["luns"]:
        if lun["capacity_bytes"] is not None and doc.get("multipath"):
            # A multipath LUN's size is the listing's rounded text.
            listed = re.match(r"^([0-9.]+)([KMGTP])$", lun["capacity"] or "")
            shown = float(listed.group(1)) * LISTING_UNITS[listed.group(2)] if listed else None
            if shown is None or abs(lun["capacity_bytes"] - shown) > 0.05 * shown:
                failures.append("%s: capacity_bytes %d, the listing says %r" %
                                (lun["dev_name"], lun["capacity_bytes"], lun["capacity"]))
        elif lun["capacity_bytes"] is not None:
            text = capacity_text_of_bytes(lun["capacity_bytes"])
            if text != lun["capacity"]:
                failures.append("%s: capacity_bytes %d gives %s, capacity is %r" %
                                (lun["dev_name"], lun["capacity_bytes"], text, lun["capacity"]))
        if not lun["paths"]:
            if linux:
                rows.append([cell(lun["dev_name"]), cell(lun["lun_name"]), cell(lun["wwn"]),
                             "--", "--", adapter_cell(lun["host_adapter"]),
                             cell(lun["capacity"]), cell(lun["vendor"]), cell(lun["ctrl"]),
                             cell(lun["host_lun_id"]), cell(lun["array_name"]),
                             cell(lun["port_type"])])
            continue
        for path in lun["paths"]:
            shown = path["shown"]
            # Linux: the path's own value, the LUN's where the path's is "--";
            # ESXi: the LUN's attributes, the path listing's transport.
            for name in LUN_ATTRIBUTES + ("port_type",):
                if linux:
                    want = path[name] if path[name] is not None else lun[name]
                elif name == "port_type":
                    want = path[name]
                else:
                    want = lun[name]
                if shown[name] != want:
                    failures.append("%s %s: shown %s is %r, the row rule gives %r" %
                                    (lun["dev_name"], path["path"], name, shown[name], want))
            rows.append([cell(lun["dev_name"]), cell(shown["lun_name"]), cell(shown["wwn"]),
                         cell(path["path"]), cell(path["path_status"]),
                         adapter_cell(path["host_adapter"]), cell(lun["capacity"]),
                         cell(shown["vendor"]), cell(shown["ctrl"]),
                         cell(shown["host_lun_id"]), cell(shown["array_name"]),
                         cell(shown["port_type"])])
    return rows


def render_lun_table(doc, words, expected):
    failures = []
    log = b"".join(terminal_bytes(line) + b"\n" for line in doc["log"])
    if not expected.startswith(log):
        failures.append("the log is not what the table form prints first:\n  log: %r\n"
                        "  expected: %r" % (log, expected[:len(log) + 80]))
        return failures
    rest = expected[len(log):]
    result = doc["result"]
    if result == "product_installed":
        want = PRODUCT
    elif result != "listed":
        want = b""
    elif not doc["luns"]:
        want = NO_DISK
    else:
        want = None
    if want is not None:
        if rest != want:
            failures.append("result %s, but the table form prints %r after the log" %
                            (result, rest))
        return failures

    lines = rest.decode("latin-1").split("\n")
    if lines and lines[-1] == "":
        lines.pop()
    if len(lines) < 2 or not re.fullmatch(r"-+", lines[0]):
        return failures + ["the expected table has no rule line and headings: %r" % lines[:2]]
    if squeeze(lines[1]) != LUN_HEADINGS:
        failures.append("headings differ: %r" % lines[1])
    body = lines[2:]
    if doc["platform"] == "linux":
        tail = [lines[0]] + ([] if doc["multipath"] else [NOT_MULTIPATH])
        if body[-len(tail):] != tail:
            failures.append("the table ends with %r, the document gives %r" %
                            (body[-len(tail):], tail))
        body = body[:-len(tail)]
    rows = lun_rows(doc, failures)
    if len(rows) != len(body):
        failures.append("%d rows from the document, %d in the table" % (len(rows), len(body)))
    for number, (row, line) in enumerate(zip(rows, body), start=1):
        if squeeze(" ".join(row)) != squeeze(line):
            failures.append("row %d differs:\n  document: %s\n  table:    %s" %
                            (number, squeeze(" ".join(row)), squeeze(line)))
    return failures


# The text forms take the words after the leading --json that the check puts
# first: --help there, or a first word of old that prints a text.
def linux_text_form(words):
    return bool(words) and words[0] in ("-v", "--help")


def esxi_text_form(words):
    return bool(words) and words[0] not in ("-l", "-L")


# ---- ts_showdisk for Solaris ----

SOLARIS_RULE = "-" * 178 + "\n"
SOLARIS_HEAD = ("%-52s%-35s%-12s%-10s%-16s%-13s%-22s\n" %
                ("Disk Name", "Lun Name", "Vendor ID", "Type", "Serial Number", "Dev Lun ID",
                 "Device WWN"))
SOLARIS_WIDTHS = (52, 35, 12, 10, 16, 12, 22)
SOLARIS_COLUMNS = ("lun_name", "vendor_id", "type", "serial_number", "dev_lun_id", "wwn")


def render_solaris_table(doc, words, expected):
    del words  # the Solaris build reads none of them
    result = doc["result"]
    if result == "out_of_memory":
        text = "Malloc memory fail!\n"
    else:
        text = SOLARIS_RULE + SOLARIS_HEAD
    if result == "listed":
        for disk in doc["disks"]:
            for message in disk["messages"]:
                text += terminal_bytes(message).decode("latin-1") + "\n"
            if not disk["opened"]:
                continue
            cells = [terminal_text(disk["disk_name"])]
            for name in SOLARIS_COLUMNS:
                value = disk[name]
                cells.append("UNKNOWN" if value is None else terminal_text(str(value)))
            text += "".join(c.ljust(w) for c, w in zip(cells, SOLARIS_WIDTHS)) + "\n\n"
        text += SOLARIS_RULE
    rebuilt = text.encode("latin-1")
    if rebuilt != expected:
        return ["the output rebuilt from the document differs:\n  rebuilt:  %r\n"
                "  expected: %r" % (rebuilt, expected)]
    return []


# ---- tsexTool ----

TOOL_HEADINGS = {
    "vluns": "Vlun WWN Status Capacity DevLunName Vendor/Product Ctrl(Own/Work) ArrayName "
             "ArraySN DevLunID",
    "paths": "H:C:T:L Vlun Path Status Controller ArrayName ArraySN PortType PortID "
             "InitiatorPort TargetPort",
    "phypaths": "H:C:T Status Controller ArrayName ArraySN PortType PortID InitiatorPort "
                "TargetPort",
    "devices": "Device DevLunName WWN Status Capacity Vendor/Product Ctrl(Own/Work) ArrayName "
               "ArraySN DevLunID",
    "alarms": "AlarmLevel AlarmDescription",
    "redundancy": "Vlun WWN ActivePaths HBA Fabric TargetPort Controller",
    "failover": "Vlun WWN ActivePaths PathsLeft RemainingPaths",
}
REDUNDANCY_KINDS = ("hba", "fabric", "target_port", "controller")
PORT_CELLS = ("controller", "array_name", "array_sn", "port_type", "port_id", "initiator_port",
              "target_port")
# The words whose output keeps its text form: help, the version, usage and
# input errors, and the checks made before any command runs.
TOOL_TEXT_STARTS = ("Usage:", "Error: Input Option", "Error: Need", "tsexTool version:",
                    "Please run as root!", "Tessaro was installed",
                    "Cannot enter special characters")


def tool_cells(values):
    return squeeze(" ".join(cell(v) for v in values))


LISTING_UNITS = {"B": 1, "K": 1 << 10, "M": 1 << 20, "G": 1 << 30, "T": 1 << 40, "P": 1 << 50}


def vlun_capacity_agrees(vlun, failures, name="vlun"):
    """The exact size (READ CAPACITY, sysfs) and the cell's rounded size
    text agree to within the text's rounding; a size is known exactly
    wherever the cell shows one."""
    match = re.match(r"^([0-9.]+)([BKMGTP])$", vlun["capacity"] or "")
    exact = vlun["capacity_bytes"]
    if exact is None and match is not None and name == "path":
        failures.append("%s: capacity %s without capacity_bytes" % (vlun[name], vlun["capacity"]))
    if exact is None or match is None:
        return
    shown = float(match.group(1)) * LISTING_UNITS[match.group(2)]
    # The texts round to a tenth of their unit, and a sector count to whole
    # KiB.
    if abs(exact - shown) > max(0.05 * shown, 1024):
        failures.append("%s: capacity_bytes %d, the cell says %s" %
                        (vlun[name], exact, vlun["capacity"]))


def state_agrees(what, record, unchecked, failures):
    """A record's state word follows from the table's cell: "active" when
    the cell says so, "unknown" only for a node the deadline left unasked,
    "failed" otherwise."""
    cell_active = record["status_text"] == "active"
    if cell_active:
        want = ("active",)
    elif record.get("path", record.get("device")) in unchecked:
        want = ("unknown",)
    else:
        want = ("failed",)
    if record["status"] not in want:
        failures.append("%s: status %r beside the cell %r, expected %s" %
                        (what, record["status"], record["status_text"], " or ".join(want)))


def group_state(states, own_cell):
    """A vlun's or physical path's state from its paths' states."""
    if "active" in states:
        return "active"
    if "unknown" in states:
        return "unknown"
    if states:
        return "failed"
    return "active" if own_cell == "active" else "failed"


def vlun_states_agree(vlun, unchecked, failures):
    for path in vlun["paths"]:
        state_agrees(path["path"], path, unchecked, failures)
        vlun_capacity_agrees(path, failures, "path")
    states = [p["status"] for p in vlun["paths"]]
    own = vlun["rows"][0]["status_text"] if vlun["rows"] else None
    if vlun["status"] != group_state(states, own):
        failures.append("%s: status %r, its paths say %r" % (vlun["vlun"], vlun["status"], states))
    for row in vlun["rows"]:
        if (row["status"] == "active") != (row["status_text"] == "active"):
            failures.append("%s: a row's status %r beside the cell %r" %
                            (vlun["vlun"], row["status"], row["status_text"]))
    if vlun["wwid"] != (None if vlun["wwn"] is None else "3" + vlun["wwn"]):
        failures.append("%s: wwid %r is not the listing's form of %r" %
                        (vlun["vlun"], vlun["wwid"], vlun["wwn"]))


def vlun_rows(vlun, failures, unchecked=()):
    vlun_capacity_agrees(vlun, failures)
    vlun_states_agree(vlun, unchecked, failures)
    return [tool_cells([vlun["vlun"], vlun["wwn"], row["status_text"], vlun["capacity"],
                        row["lun_name"], row["vendor_product"], row["ctrl_own_work"],
                        row["array_name"], row["array_sn"], row["dev_lun_id"]])
            for row in vlun["rows"]]


def numbers_agree(text, numbers, failures):
    """The numbers beside a "H:C:T[:L]" text are its parts, or all null."""
    if all(n is None for n in numbers):
        return
    if text is None or text.split(":") != [str(n) for n in numbers]:
        failures.append("%r does not match the numbers %r" % (text, numbers))


def path_row(path, failures=None):
    if failures is not None:
        numbers_agree(path["hctl"], [path[k] for k in ("host", "channel", "target", "lun")],
                      failures)
    return tool_cells([path["hctl"], path["vlun"], path["path"], path["status_text"]] +
                      [path[name] for name in PORT_CELLS])


def tool_block(doc, failures):
    """The table block the document stands for, from its first rule line to
    its last, each line a rule ("=" or "-") or squeezed cells; and the
    messages the block holds."""
    inner = []
    view = doc["view"]
    unchecked = set((doc.get("deadline") or {}).get("not_checked") or [])
    for record in doc.get("paths") or []:
        state_agrees(record["path"], record, unchecked, failures)
        vlun_capacity_agrees(record, failures, "path")
    for record in doc.get("devices") or []:
        state_agrees(record["device"], record, unchecked, failures)
        vlun_capacity_agrees(record, failures, "device")
    for phypath in doc.get("phypaths") or []:
        states = [p["status"] for p in phypath["paths"]]
        if phypath["status"] != group_state(states, phypath["status_text"]):
            failures.append("phypath %s: status %r, its paths say %r" %
                            (phypath["hct"], phypath["status"], states))
    if view == "vluns":
        if not doc["vluns"]:
            return [], []
        lines = ["=", TOOL_HEADINGS["vluns"]]
        for vlun in doc["vluns"]:
            lines += vlun_rows(vlun, failures, unchecked)
        return lines + ["="], inner
    if view == "vlun_paths":
        if not doc["vluns"]:
            return [], []
        vlun = doc["vluns"][0]
        lines = ["=", TOOL_HEADINGS["vluns"]] + vlun_rows(vlun, failures, unchecked) + ["-"]
        if vlun["paths"]:
            lines += [TOOL_HEADINGS["paths"]] + [path_row(p, failures) for p in vlun["paths"]]
        else:
            inner = ["There is no path in device[%s]." % vlun["dm_name"]]
            lines += inner
        return lines + ["="], inner
    if view == "redundancy":
        # A row for each vlun with a single point of failure or no active
        # path, "--" where the paths are redundant.
        rows = []
        for vlun in doc["redundancy"]:
            shared = {p["kind"]: p["name"] for p in vlun["single_points"]}
            if shared or not vlun["active_paths"]:
                rows.append(tool_cells([vlun["path"], vlun["wwn"], str(vlun["active_paths"])] +
                                       [shared.get(k) for k in REDUNDANCY_KINDS]))
        return (["=", TOOL_HEADINGS[view]] + rows + ["="], inner) if rows else ([], [])
    if view == "failover":
        rows = [tool_cells([v["path"], v["wwn"], str(v["active_paths"]),
                            str(len(v["remaining_paths"])),
                            ",".join(p["path"] for p in v["remaining_paths"]) or None])
                for v in doc["failover"]]
        return (["=", TOOL_HEADINGS[view]] + rows + ["="], inner) if rows else ([], [])
    for key, row in (("paths", lambda p: path_row(p, failures)),
                     ("phypaths", lambda p: tool_cells([p["hct"], p["status_text"]] +
                                                       [p[n] for n in PORT_CELLS])),
                     ("devices", lambda d: tool_cells([d[n] for n in (
                         "device", "lun_name", "wwn", "status_text", "capacity",
                         "vendor_product",
                         "ctrl_own_work", "array_name", "array_sn", "dev_lun_id")])),
                     ("alarms", lambda a: tool_cells([a["level"], a["description"]]))):
        if view == key:
            if not doc[key]:
                return [], []
            return ["=", TOOL_HEADINGS[key]] + [row(r) for r in doc[key]] + ["="], inner
    return [], []


def render_tool(doc, words, expected):
    del words
    failures = []
    lines = expected.decode("latin-1").split("\n")
    if lines and lines[-1] == "":
        lines.pop()
    rules = [i for i, line in enumerate(lines) if re.fullmatch(r"=+", line)]
    table, others = [], lines
    if rules:
        first, last = rules[0], rules[-1]
        for line in lines[first:last + 1]:
            if re.fullmatch(r"=+", line):
                table.append("=")
            elif re.fullmatch(r"-+", line):
                table.append("-")
            else:
                table.append(squeeze(line))
        others = lines[:first] + lines[last + 1:]
    block, inner = tool_block(doc, failures)
    if block != table:
        failures.append("the table rebuilt from the document differs:\n  rebuilt:  %s\n"
                        "  expected: %s" % ("\n            ".join(block),
                                            "\n            ".join(table)))
    said = [terminal_bytes(line).decode("latin-1") for line in doc["log"]]
    said += [terminal_bytes(m).decode("latin-1") for m in doc["messages"] if m not in inner]
    if sorted(said) != sorted(others):
        failures.append("the log and messages are not the lines around the table:\n"
                        "  document: %r\n  expected: %r" % (said, others))
    return failures


def tool_text_form(expected):
    return expected.decode("latin-1").startswith(TOOL_TEXT_STARTS)


RENDERERS = {
    "showdisk-linux": (render_lun_table, linux_text_form, "ts_showdisk.schema.json"),
    "showdisk-esxi": (render_lun_table, esxi_text_form, "ts_showdisk.schema.json"),
    "showdisk-solaris": (render_solaris_table, lambda words: words[:1] == ["--help"],
                         "ts_showdisk.schema.json"),
    # tsexTool's text forms are known by what the table form printed.
    "tsextool": (render_tool, None, "tsexTool.schema.json"),
}


# ---- the check of one run ----

def check_document(kind, words, expected, stdout, status, schema_dir):
    """The failures of a --json run of a scenario's words: its standard
    output (bytes) and exit status against the scenario's expected output
    (bytes) of the table form. The run's standard error and audit log are
    held to the scenario's rules by its caller."""
    import jsonschema
    render, text_form, schema_name = RENDERERS[kind]
    failures = []
    if text_form(words) if text_form is not None else tool_text_form(expected):
        # A version or usage text keeps its form after --json.
        if stdout != expected:
            failures.append("the words print a text, and --json must leave it alone:\n"
                            "  got:      %r\n  expected: %r" % (stdout, expected))
        return failures
    try:
        doc = json.loads(stdout.decode("utf-8"))
    except ValueError as error:
        return ["standard output is not one JSON document (%s):\n%s" %
                (error, stdout.decode("latin-1"))]
    schema = SCHEMAS.get((schema_dir, schema_name))
    if schema is None:
        with open(os.path.join(schema_dir, schema_name)) as f:
            schema = SCHEMAS.setdefault((schema_dir, schema_name), json.load(f))
    errors = sorted(jsonschema.Draft202012Validator(schema).iter_errors(doc),
                    key=lambda e: list(e.absolute_path))
    for error in errors:
        failures.append("schema: %s at %s" %
                        (error.message, "/".join(map(str, error.absolute_path))))
    if errors:
        return failures
    if doc.get("exit_status", status) != status:
        failures.append("exit_status %r, the program exited %d" % (doc["exit_status"], status))
    return failures + render(doc, words, expected)


SCHEMAS = {}
