// What every program of the kit does before anything else: it holds the
// standard descriptors, and it turns a closed pipe into its own exit status.
#ifndef TSKIT_COMMON_PROCESS_START_H
#define TSKIT_COMMON_PROCESS_START_H

// Opens /dev/null, read-only, onto each of descriptors 0, 1 and 2 that is
// closed. A program started with one of them closed would otherwise hand
// that number to the next file it opens, a device node among them, and its
// table or a sanitizer's report would be written there. Read-only, so that
// a write to a closed standard output still fails as it would have.
void process_HoldStandardDescriptors();

// A write to a pipe whose reader is gone ends the program with status
// (the status its manual gives a run whose output never arrived) instead
// of the death by SIGPIPE. The signal is caught, not ignored: an ignored
// signal would stay ignored in the shells and listing pipelines the
// program starts. Called again, only the status changes.
void process_ExitOnBrokenPipe(int status);

#endif  // TSKIT_COMMON_PROCESS_START_H
