// sansim batch: many commands on one start of a host.
//
//   sansim batch TOPOLOGY PLAN
//
// PLAN is a JSON list of commands, run in order on the host, each as a
// fresh start of it would run it (session.h):
//
//   [ { "argv": ["tsexTool", "show", "vlun"],
//       "stdout": "work/1.out", "stderr": "work/1.err", "status": "work/1.status",
//       "audit": "work/1.audit", "proclog": "work/1.proc",
//       "uid": 1000, "env": ["TSKIT_REFUSE_ALLOC=64:2"] } ]
//
// Only "argv" is needed. "stdout" and "stderr" are files written afresh
// (absent: /dev/null; "closed": the descriptor is closed; a name under /dev
// is the caller's device, such as /dev/full); "status" receives the exit
// status as a line (128 + N for a command ended by signal N); "audit" and
// "proclog" are the logs that `sansim run` writes. sansim exits 0 when
// every command ran, whatever its status, and 2 with a line on standard
// error when the plan or the host is at fault.
#ifndef SANSIM_RUNNER_BATCH_H
#define SANSIM_RUNNER_BATCH_H

namespace sansim {

int RunBatch(int argc, char** argv);

}  // namespace sansim

#endif  // SANSIM_RUNNER_BATCH_H
