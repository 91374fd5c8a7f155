// The journal of the query process (query_process.h): the records it writes
// as its opens, listings and commands happen, and the view the run over it
// reads back. A journal is a run of records, each a kind byte, an id and a
// length (native order: one program writes and reads it) and that many
// bytes:
//
//   open      id = session      i32 errno (0: opened), the node's path
//   sent      id = session      the command block (a command in flight)
//   answer    id = session      the outcome (JournalAnswerHead), the command
//                               block, the data buffer, the sense bytes
//   list      id = listing      the command line
//   out       id = listing      a piece of the command's output
//   end       id = listing      i32 wait status, i32 errno (it could not start)
//   done      the run is whole
//
// A record cut by the SIGKILL at the deadline is dropped when read.
#ifndef TSKIT_COMMON_QUERY_JOURNAL_H
#define TSKIT_COMMON_QUERY_JOURNAL_H

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "scsi_request.h"

// ---- writing: the query process, any of its threads ----

// Where the records go (-1: nowhere).
void journal_SetFd(int fd);
// New ids, in the order asked for.
uint32_t journal_NewSession();
uint32_t journal_NewListing();

void journal_Open(uint32_t session, const char* path, int error);
void journal_Sent(uint32_t session, const ScsiRequest& request);
void journal_Answered(uint32_t session, const ScsiRequest& request, int result);
void journal_List(uint32_t listing, const char* command);
void journal_Out(uint32_t listing, const char* bytes, size_t count);
void journal_End(uint32_t listing, int status, int error);
void journal_Done();

// ---- reading: the run over the journal ----

// What a command came back with, as sent over the pipe.
struct JournalAnswerHead {
    int32_t result;
    int32_t sysError;
    int32_t resid;
    uint16_t hostStatus;
    uint16_t driverStatus;
    uint8_t status;
    uint8_t checkReported;
    uint8_t senseWritten;
    uint8_t cdbLen;
    uint32_t dataBytes;
    uint32_t senseBytes;
};

// One command and its answer, as the query process saw them.
struct JournalAnswer {
    JournalAnswerHead head{};
    std::string cdb;
    std::string data;
    std::string sense;
};

// One opening of a node in the query process.
struct JournalSession {
    std::string path;
    int openError = 0;
    bool inFlight = false;  // a command was sent and never answered
    std::vector<JournalAnswer> answers;
};

// One listing (or probe) the query process ran.
struct JournalListing {
    std::string command;
    std::string text;
    bool ended = false;  // its output reached its end, or it never started
    int status = -1;
    int startError = 0;
};

struct JournalView {
    std::vector<JournalSession> sessions;                  // by id
    std::vector<JournalListing> listings;                  // by id
    std::map<std::string, std::vector<uint32_t>> opensOf;  // path: its sessions in order
    bool whole = false;                                    // the done record is there
};

// Reads a journal's text, up to its first cut or malformed record.
void journal_Read(const std::string& text, JournalView* view);

#endif  // TSKIT_COMMON_QUERY_JOURNAL_H
