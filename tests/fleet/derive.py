"""What a simulated host's faults make of its paths, physical paths, vluns
and alarms, and so which of the shipped alerts must fire on it: worked out
from the expanded host (`sansim expand`) by the rules of tsexTool(8)
(STATES, ALARMS) and of packaging/prometheus/tskit-alerts.yml, never from
what tsexTool printed.

    host = Host(expanded, instance="degraded_fc:9100", job="node")
    host.alerts()  ->  [(alertname, labels, value), ...]

The model knows the faults that the fleet's hosts lay (a path dead,
missing, hung, failed in the listing; the listing missing, failing or not
starting; an FC remote port's link state); any other fault of a path
raises ValueError, so that a host changed under the test is noticed
rather than judged by a model that does not know it.
"""

# tsexTool(8), the Prometheus section: each alarm type's name and the
# severity that --nagios rates it with.
ALARMS = {10: ("multipath_unavailable", "unknown"), 11: ("phypath_abnormal", "warning"),
          12: ("phypath_no_redundancy", "warning"), 13: ("phypath_one_controller", "warning"),
          14: ("vlun_all_paths_down", "critical"), 15: ("vlun_no_redundancy", "warning"),
          16: ("vlun_one_controller", "warning"), 17: ("vlun_wwn_changed", "critical"),
          18: ("path_abnormal", "warning")}
KNOWN_PATH_FAULTS = {"dead", "hung", "missing"}
LISTING = "multipath -ll"


class Path:
    def __init__(self, raw, lun, host):
        faults = raw.get("faults") or {}
        unknown = set(faults) - KNOWN_PATH_FAULTS
        if unknown or raw.get("device_state", "running") != "running":
            raise ValueError("path %s: faults the model does not know: %s" %
                             (raw["sd"], sorted(unknown) or raw.get("device_state")))
        self.device = raw["sd"]
        self.hctl = raw["hctl"]
        self.hct = self.hctl.rsplit(":", 1)[0]
        self.vlun = lun["dm"]
        port = host.target_ports[raw["target_port"]]
        self.target_port_id = raw["target_port"]
        self.target_port = port["identifier"]
        self.controller = port["controller"]
        self.array = host.arrays[lun["array"]]
        self.initiator_port = host.initiators[int(self.hctl.split(":")[0])]
        # STATES: a command of a hung path completes when its timeout has
        # passed; in real time that is past the run's deadline (not
        # checked: unknown), without time it is at once (failed).
        if faults.get("hung"):
            self.state = "unknown" if host.timed else "failed"
        elif faults.get("dead") or faults.get("missing") or raw.get("dm_state") == "failed":
            self.state = "failed"
        else:
            self.state = "active"


class Phypath:
    def __init__(self, hct, paths, host):
        self.hct = hct
        self.paths = paths
        first = paths[0]
        self.initiator_port = first.initiator_port
        self.target_port = first.target_port
        self.array = first.array
        self.controller = first.controller
        scsi_host = host.scsi_hosts[int(hct.split(":")[0])]
        link = (scsi_host.get("rport_states") or {}).get(first.target_port_id, "Online")
        states = {p.state for p in paths}
        # Its ports are known from a path that answers, or else from the
        # transport classes; without either the phypath is not listed.
        self.known = "active" in states or host.transport
        if link != "Online" or states == {"failed"}:
            self.state = "failed"
        elif "active" in states:
            self.state = "active"
        else:
            self.state = "unknown"


class Vlun:
    def __init__(self, lun, paths, host):
        self.device = lun["dm"]
        self.wwid = lun["wwid"]
        self.array = host.arrays[lun["array"]]
        self.paths = paths
        self.active = [p for p in paths if p.state == "active"]
        states = {p.state for p in paths}
        if self.active:
            self.state = "active"
        elif states <= {"failed"}:
            self.state = "failed"
        else:
            self.state = "unknown"


class Host:
    def __init__(self, expanded, instance, job):
        self.instance = instance
        self.job = job
        self.timed = bool(expanded.get("timing"))
        self.transport = bool(expanded.get("transport_classes"))
        self.scsi_hosts = {h["number"]: h for h in expanded["scsi_hosts"]}
        self.initiators = {n: h.get("initiator_port", "") for n, h in self.scsi_hosts.items()}
        self.arrays = {a["id"]: a for a in expanded["arrays"]}
        self.target_ports = {t["id"]: dict(t) for a in expanded["arrays"]
                             for t in a["target_ports"]}
        multipath = expanded.get("multipath") or {}
        self.listing_starts = not any(line.startswith(LISTING)
                                      for line in expanded.get("cannot_start") or [])
        self.listing_works = multipath.get("installed", True) and not multipath.get("list_fails")
        self.vluns = []
        by_hct = {}
        for lun in expanded["luns"]:
            paths = [Path(raw, lun, self) for raw in lun["paths"]]
            self.vluns.append(Vlun(lun, paths, self))
            for path in paths:
                by_hct.setdefault(path.hct, []).append(path)
        self.phypaths = {hct: Phypath(hct, paths, self) for hct, paths in by_hct.items()}
        self.paths = [p for v in self.vluns for p in v.paths]

    def scan_success(self):
        """MONITORING: 0 when the listing cannot start or the deadline came
        before every device answered."""
        return self.listing_starts and all(p.state != "unknown" for p in self.paths)

    def alarms(self):
        """ALARMS: the subjects of each alarm type check status raises."""
        raised = {t: [] for t in ALARMS}
        if not self.listing_works:
            raised[10].append("")
            return raised
        down = [p for p in self.phypaths.values() if p.known and p.state != "active"]
        for ports in dict.fromkeys((p.initiator_port, p.target_port) for p in down):
            raised[11].append(",".join(ports))
        down_ports = {(p.initiator_port, p.target_port) for p in down}
        array_alarm = {}
        for array_id in dict.fromkeys(p.array["id"] for p in self.phypaths.values()):
            active = [p for p in self.phypaths.values()
                      if p.known and p.state == "active" and p.array["id"] == array_id]
            if len(active) == 1:
                raised[12].append(array_id)
                array_alarm[array_id] = 12
            elif len(active) > 1 and len({p.controller for p in active}) == 1:
                raised[13].append(array_id)
                array_alarm[array_id] = 13
        for vlun in self.vluns:
            if not vlun.active:
                raised[14].append(vlun.device)
                continue
            for path in vlun.paths:
                if path.state != "active" and (path.initiator_port, path.target_port) \
                        not in down_ports:
                    raised[18].append(path.device)
            array = vlun.array["id"]
            if len(vlun.active) == 1 and array_alarm.get(array) != 12:
                raised[15].append(vlun.device)
            if len(vlun.active) > 1 and len({p.controller for p in vlun.active}) == 1 \
                    and array_alarm.get(array) != 13:
                raised[16].append(vlun.device)
        return raised

    def alerts(self):
        """The alerts of tskit-alerts.yml that hold on this host once their
        wait has passed: (alertname, labels without severity, value)."""
        own = {"instance": self.instance, "job": self.job}
        found = []
        if not self.scan_success():
            found.append(("TsexToolScanFailed", dict(own), 0))
        if not self.listing_starts:
            return found  # the build information and the scan's success alone
        for number, subjects in self.alarms().items():
            if subjects:
                name, severity = ALARMS[number]
                alert = {"critical": "TsexToolAlarmCritical", "warning": "TsexToolAlarmWarning",
                         "unknown": "TsexToolAlarmUnknown"}[severity]
                found.append((alert, dict(own, type=str(number), name=name), len(subjects)))
        if not self.listing_works:
            return found  # no topology series
        for phypath in self.phypaths.values():
            if phypath.known and phypath.state == "failed":
                found.append(("TsexToolPhypathFailed",
                              dict(own, hct=phypath.hct, initiator_port=phypath.initiator_port,
                                   target_port=phypath.target_port,
                                   array_name=phypath.array["name"]), 0))
        for vlun in self.vluns:
            if vlun.state == "failed":
                found.append(("TsexToolVlunFailed", dict(own, device=vlun.device,
                                                         wwid=vlun.wwid), 1))
            if len(vlun.active) == 1:
                found.append(("TsexToolVlunNoPathRedundancy",
                              dict(own, device=vlun.device, wwid=vlun.wwid), 1))
            controllers = {p.controller for p in vlun.active}
            if len(vlun.active) >= 2 and len(controllers) == 1:
                found.append(("TsexToolVlunNoControllerRedundancy",
                              dict(own, vlun=vlun.device, controller=controllers.pop()),
                              len(vlun.active)))
            for path in vlun.paths:
                labels = dict(own, device=path.device, hctl=path.hctl, vlun=vlun.device)
                phypath = self.phypaths[path.hct]
                phypath_failed = phypath.known and phypath.state == "failed"
                if path.state == "failed" and not phypath_failed and vlun.state != "failed":
                    found.append(("TsexToolPathFailed", labels, 0))
                if path.state == "unknown":
                    found.append(("TsexToolPathNotChecked", labels, 1))
        return found
