// tsexTool's redundancy checks: what the active paths of each vlun share
// underneath. Two paths over one HBA port, one fabric, one array target
// port or one controller are not redundant against that component failing.
//   check redundancy [verbose]          the vluns whose active paths all share
//                                       a component (a single point of failure)
//   check failover COMPONENT [verbose]  the vluns that would lose all active
//                                       paths, or keep only one, if COMPONENT
//                                       went down
// A component is an HBA (hostN, or its initiator port's WWN or iSCSI name),
// a fabric (an FC fabric name, or an iSCSI initiator's address), an array
// target port (its WWN or iSCSI name) or a controller (ARRAY_SN:CONTROLLER).
#ifndef TSEXTOOL_TSREDUNDANCY_H
#define TSEXTOOL_TSREDUNDANCY_H

// check failover's result when some vlun would lose every active path; the
// program exits with it.
constexpr int kTsFailoverLosesPaths = 2;

// Whether a word after "check" is one of these checks.
bool tsredundancy_IsCheck(const char* word);

// The words from the check's own word on ("redundancy" or "failover"): 0
// when the analysis ran (check redundancy: whatever it found),
// kTsFailoverLosesPaths, TS_ERR_REFUSED for words or a component that it
// refused (and said why), or the discovery's failure, unsaid.
int tsredundancy_Run(int argc, const char* const* argv);

#endif  // TSEXTOOL_TSREDUNDANCY_H
