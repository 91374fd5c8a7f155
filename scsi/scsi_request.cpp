// The seam between the command senders and the platform's pass-through:
// a device that stopped answering gets nothing more (scsi_withheld.h), and a
// run's journal sees, or answers, every command.
#include "scsi_request.h"

#include "scsi_withheld.h"

namespace {

ScsiPassThroughFn g_passThrough = scsi_PlatformPassThrough;
const ScsiJournal* g_journal = nullptr;

int SendOrWithhold(int fd, ScsiRequest* request) {
    int result = 0;
    if (scsi_AnswerWithheld(fd, request, &result)) {
        return result;
    }
    result = g_passThrough(fd, request);
    if (result == 0) {
        scsi_NoteAnswer(fd, *request);
    }
    return result;
}

}  // namespace

int scsi_PassThrough(int fd, ScsiRequest* request) {
    if (g_journal == nullptr) {
        return SendOrWithhold(fd, request);
    }
    int result = 0;
    if (g_journal->answer != nullptr && g_journal->answer(fd, request, &result)) {
        return result;
    }
    if (g_journal->sent != nullptr) {
        g_journal->sent(fd, *request);
    }
    result = SendOrWithhold(fd, request);
    if (g_journal->answered != nullptr) {
        g_journal->answered(fd, *request, result);
    }
    return result;
}

void scsi_SetJournal(const ScsiJournal* journal) {
    g_journal = journal;
}

ScsiPassThroughFn scsi_SetPassThrough(ScsiPassThroughFn fn) {
    ScsiPassThroughFn previous = g_passThrough;
    g_passThrough = fn != nullptr ? fn : scsi_PlatformPassThrough;
    return previous;
}
