#!/usr/bin/env python3
"""Checks of outage.py's pure parts on hand-made hosts and logs: which nodes
stall, the floor and the limits, the healthy devices' comparison and the
queueing map's state. Run: python3 bench/test_outage.py"""
import os
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import jobs  # noqa: E402
import outage  # noqa: E402


def host(luns=3, per_lun=2, platform="linux"):
    """LUN i is dm-i on paths sd<i><k>, as the generator names them in spirit."""
    return {"platform": platform, "luns": [
        {"wwid": f"3{i:032x}", "dm": f"dm-{i}",
         "paths": [{"sd": f"sd{chr(97 + i)}{k}", "hctl": f"{k}:0:0:{i}"} for k in range(per_lun)]}
        for i in range(luns)]}


def scsi(node, own_us, tid=1):
    """One command as jobs.commands lists it."""
    return (node, tid, 0.0, 0.0, own_us)


class StalledNodesTest(unittest.TestCase):
    def test_a_hung_first_path_stalls_its_lun_node_too(self):
        h = host()
        outage.hang_first_path(h)
        self.assertEqual(outage.stalled_nodes(h), {"/dev/sda0": "hung", "/dev/dm-0": "hung"})

    def test_a_hung_path_behind_the_current_one_stalls_only_itself(self):
        h = host()
        h["luns"][1]["paths"][1]["faults"] = {"hung": True}
        self.assertEqual(outage.stalled_nodes(h), {"/dev/sdb1": "hung"})

    def test_the_current_path_is_the_first_active_one(self):
        h = host()
        h["luns"][2]["paths"][0]["dm_state"] = "failed"
        h["luns"][2]["paths"][1]["faults"] = {"hung": True}
        self.assertEqual(outage.stalled_nodes(h), {"/dev/sdc1": "hung", "/dev/dm-2": "hung"})

    def test_esxi_hangs_the_naa_node_and_has_no_path_nodes(self):
        h = host(platform="esxi")
        outage.hang_first_path(h)
        self.assertEqual(outage.stalled_nodes(h), {"/dev/disks/naa." + "0" * 32: "hung"})

    def test_a_queueing_map_without_paths_stalls_its_dm_node_only(self):
        h = host()
        outage.queue_without_paths(h, 1)
        lun = h["luns"][1]
        self.assertTrue(lun["queue_if_no_path"])
        self.assertTrue(all(p["dm_state"] == "failed" and p["checker_state"] == "faulty" and
                            p["faults"]["dead"] for p in lun["paths"]))
        self.assertEqual(outage.stalled_nodes(h), {"/dev/dm-1": "queueing"})
        self.assertEqual(outage.faulty_nodes(h), {"/dev/dm-1", "/dev/sdb0", "/dev/sdb1"})

    def test_a_map_without_paths_that_does_not_queue_is_faulty_not_stalled(self):
        h = host()
        outage.queue_without_paths(h)
        del h["luns"][0]["queue_if_no_path"]
        self.assertEqual(outage.stalled_nodes(h), {})
        self.assertIn("/dev/dm-0", outage.faulty_nodes(h))

    def test_jobs_hosts_hang_17_nodes_of_1024_paths(self):
        h = host(luns=128, per_lun=8)
        jobs.hang_every(h, jobs.HUNG_EVERY)
        stalled = outage.stalled_nodes(h)
        self.assertEqual(sum(1 for n in stalled if "/dm-" in n), 6)
        self.assertEqual(len(stalled), 17)


class FloorTest(unittest.TestCase):
    def test_a_stalled_sequence_counts_one_timeout(self):
        sequences = {"/dev/sda0": 9 * 7_000_000, "/dev/dm-0": 9 * 7_000_000, "/dev/sdb0": 1600}
        stalled = {"/dev/sda0": "hung", "/dev/dm-0": "hung"}
        self.assertEqual(outage.floor_ms(100, sequences, stalled), 7100)
        self.assertEqual(outage.serial_floor_ms(100, sequences, stalled), 100 + 14000 + 1.6)

    def test_a_queueing_map_costs_nothing(self):
        sequences = {"/dev/dm-0": 3_000_000, "/dev/sdb0": 1600}
        self.assertEqual(outage.floor_ms(50, sequences, {"/dev/dm-0": "queueing"}), 51.6)

    def test_a_longer_healthy_sequence_sets_the_floor(self):
        self.assertEqual(outage.floor_ms(50, {"/dev/sda0": 8_000_000, "/dev/dm-0": 10},
                                         {"/dev/dm-0": "hung"}), 8050)

    def test_without_commands_the_floor_is_the_listings(self):
        self.assertEqual(outage.floor_ms(50, {}, {"/dev/dm-0": "hung"}), 50)

    def test_limits(self):
        self.assertEqual(outage.limit_ms(7100), outage.LIMIT_MS)
        self.assertEqual(outage.limit_ms(40_000), 400_000)
        # Two stalled devices met one after another, a third never queried.
        stalled = {"/dev/sda0": "hung", "/dev/dm-0": "hung", "/dev/dm-2": "hung"}
        sequences = {"/dev/sda0": 1000, "/dev/dm-0": 1000, "/dev/sdb0": 1000}
        self.assertEqual(outage.serial_limit_ms(0, sequences, stalled), 2 * outage.LIMIT_MS)
        many = {f"/dev/sd{i}": 1_000_000 for i in range(100)}
        self.assertEqual(outage.serial_limit_ms(0, many, {}), 1_000_000)

    def test_the_real_limit_scales_the_host_limit_and_adds_room_for_real_work(self):
        self.assertAlmostEqual(outage.real_limit_s(300_000, 0.01, 0.5),
                               3 + outage.WORK_ROOM * 0.5 + outage.WORK_ROOM_S)


class HealthyTest(unittest.TestCase):
    def test_faulty_nodes_are_left_out_and_missing_ones_count_zero(self):
        clean = {"/dev/sda0": 8, "/dev/dm-0": 8, "/dev/sdb0": 8, "/dev/sdc0": 8}
        fault = {"/dev/sda0": 9, "/dev/dm-0": 9, "/dev/sdb0": 8, "/dev/sdd0": 2}
        healthy, changed = outage.healthy_changes(fault, clean, {"/dev/sda0", "/dev/dm-0"})
        self.assertEqual(healthy, ["/dev/sdb0", "/dev/sdc0", "/dev/sdd0"])
        self.assertEqual(changed, [("/dev/sdc0", 8, 0), ("/dev/sdd0", 0, 2)])
        self.assertIn("1 fewer, 1 more", outage.changes_summary(changed))

    def test_stalled_summary(self):
        self.assertEqual(outage.stalled_summary({"/dev/sda0": 9}, {"/dev/sda0": 1, "/dev/dm-0": 1}),
                         "/dev/dm-0 0, /dev/sda0 9")
        counts = {"/dev/a": 9, "/dev/b": 9, "/dev/c": 5}
        self.assertEqual(outage.stalled_summary(counts, dict.fromkeys(counts)),
                         "3 nodes, 5-9 each (23)")
        self.assertEqual(outage.stalled_summary({}, {}), "-")


class QueueStateTest(unittest.TestCase):
    stalled = {"/dev/dm-0": "queueing", "/dev/sdb0": "hung"}

    def test_answered_commands_mean_the_map_does_not_queue(self):
        found = [scsi("/dev/dm-0", 0), scsi("/dev/dm-0", 0), scsi("/dev/sdb0", 7_000_000)]
        text, unmodelled = outage.queue_state(found, {"/dev/dm-0"}, self.stalled, True)
        self.assertIn("answered 2 commands", text)
        self.assertTrue(unmodelled)

    def test_a_killed_run_without_answers_was_held(self):
        text, unmodelled = outage.queue_state([scsi("/dev/sdb0", 7_000_000)], {"/dev/dm-0"},
                                              self.stalled, False)
        self.assertIn("held", text)
        self.assertFalse(unmodelled)

    def test_a_command_held_past_a_timeout_is_no_answer(self):
        text, unmodelled = outage.queue_state([scsi("/dev/dm-0", 300_000_000)], {"/dev/dm-0"},
                                              self.stalled, False)
        self.assertIn("held", text)
        self.assertFalse(unmodelled)

    def test_an_ended_run_tells_opened_from_not_opened(self):
        self.assertIn("opened, no command answered",
                      outage.queue_state([], {"/dev/dm-0"}, self.stalled, True)[0])
        self.assertIn("not opened", outage.queue_state([], set(), self.stalled, True)[0])

    def test_no_queueing_map_no_state(self):
        self.assertEqual(outage.queue_state([], set(), {"/dev/sdb0": "hung"}, False), ("", False))

    def test_opened_nodes_reads_the_open_lines_only(self):
        with tempfile.NamedTemporaryFile("w", suffix=".audit", delete=False) as log:
            log.write("open /dev/dm-0 access=ro flags=0x0\n"
                      "scsi /dev/sdb op=0x12 evpd=0 page=0x00 alloc=64 timeout=10 access=ro\n"
                      "open /dev/sdc access=ro flags=0x800\n")
        try:
            self.assertEqual(outage.opened_nodes(log.name), {"/dev/dm-0", "/dev/sdc"})
        finally:
            os.remove(log.name)
        self.assertEqual(outage.opened_nodes(log.name), set())


if __name__ == "__main__":
    unittest.main()
