// The run's deadline: the listings and device queries of a run given one go
// to a process of their own, and the run answers from what that process has
// reported when the deadline comes.
//
// On Linux a thread blocked in SG_IO on a block node cannot be interrupted:
// it sleeps until the SCSI layer times the command out (and longer while the
// error handler resets the host), and its process, with every descriptor it
// holds, lives that long. A dm map that queues I/O keeps the command until a
// fatal signal. So the run forks before any thread starts: the child (the
// query process) runs the command as always, with its output thrown away,
// and writes every listing and every command's answer to a journal pipe, the
// only descriptor it keeps. The parent reads the journal until the child
// ends or the deadline passes, sends SIGKILL (never waiting for it), and runs
// the command again over the journal: each listing and answer comes from it,
// nothing reaches a device, and a device whose answers are not all there is
// "not checked" and answers as a device that times out.
//
// The seams: query_OpenDevice for every device node a program opens,
// ListingPipe for every listing command, and scsi_PassThrough, which asks
// the journal (scsi_SetJournal). Without a deadline each seam is the plain
// call.
#ifndef TSKIT_COMMON_QUERY_PROCESS_H
#define TSKIT_COMMON_QUERY_PROCESS_H

#include <stdio.h>

#include <string>
#include <vector>

// The longest deadline --timeout takes, in seconds.
constexpr unsigned kMaxDeadlineSeconds = 3600;

// Reads a deadline: a decimal number from 1 to kMaxDeadlineSeconds without a
// sign, blanks or leading zeros. False for anything else.
bool query_ParseSeconds(const char* text, unsigned* seconds);

enum QueryOutcome {
    QUERY_COMPLETE = 0,  // every answer is in the journal (or no deadline)
    QUERY_DEADLINE,      // the deadline cut the queries
    QUERY_ENDED,         // the query process ended before it finished
};

// Starts the query process with a deadline of seconds, counted from the
// start of the program. Returns in both processes: the child runs the
// command and ends with query_ChildEnd; the parent has read the journal and
// runs the command over it. A system that cannot make the process leaves
// the run as it was, without a deadline (-1).
int query_Start(unsigned seconds);

// True in the query process.
bool query_InChild();

// Ends the query process: the journal says the run is whole, then _exit.
[[noreturn]] void query_ChildEnd();

// The parent's view once query_Start returned.
QueryOutcome query_Outcome();
unsigned query_Seconds();
// The listing command was still running when the queries were cut (or the
// journal holds nothing at all): nothing the run could say would be true.
bool query_ListingMissing();
// Nodes (as opened, "/dev/sdb") that got no full answer, in the order the
// run came to them.
const std::vector<std::string>& query_NotCheckedNodes();
bool query_NotChecked(const char* node);

// What cut the run, in words: "deadline of 5 s reached, 2 devices not
// checked", "deadline of 5 s reached before the listing arrived",
// "the queries ended early, 1 device not checked". Empty for a whole run.
std::string query_Summary();
// The same as the tables' last line: capitalised, with a full stop and a
// newline ("Deadline of 5 s reached, 2 devices not checked.\n"); empty for
// a whole run.
std::string query_SummaryLine();

// Opens a device node read-only: open(2) itself, or, over the journal, a
// stand-in descriptor whose commands the journal answers.
int query_OpenDevice(const char* path, int flags);

// A command run for its exit status alone (a probe): system(3) itself,
// journaled in the query process, or the journal's status (-1 with errno
// ETIMEDOUT when it had not ended).
int query_System(const char* command);

// A listing command's output: popen(3), journaled in the query process, or
// the journal's copy. Close returns the command's wait status (-1 when none).
class ListingPipe {
  public:
    explicit ListingPipe(const char* command);
    ~ListingPipe();
    ListingPipe(const ListingPipe&) = delete;
    ListingPipe& operator=(const ListingPipe&) = delete;

    FILE* Get() const { return stream_; }
    bool Valid() const { return stream_ != nullptr; }
    int Close();

  private:
    FILE* stream_ = nullptr;
    void* state_ = nullptr;
};

// Forgets the journal and the deadline (tests).
void query_Reset();

// Journals this process's opens, listings and commands into fd, as the
// query process does (tests).
void query_JournalForTest(int fd);

// Installs a journal text as if the query process had written it and ended
// with outcome (tests of the replay).
void query_ReplayForTest(const std::string& journal, QueryOutcome outcome, unsigned seconds);

#endif  // TSKIT_COMMON_QUERY_PROCESS_H
