// The journal's records: written whole under one lock, so that the threads
// of the query process never interleave two, and read back into a view.
#include "query_journal.h"

#include <errno.h>
#include <unistd.h>

#include <cstring>
#include <mutex>

namespace {

enum RecordKind : uint8_t {
    kOpen = 1,
    kSent,
    kAnswer,
    kList,
    kOut,
    kEnd,
    kDone,
};

struct RecordHead {
    uint8_t kind;
    uint32_t id;
    uint32_t length;
};

// More sessions or listings than any host has: a record naming one is not
// the query process's.
constexpr uint32_t kMostIds = 1u << 22;

std::mutex g_lock;
int g_fd = -1;
uint32_t g_nextSession = 0;
uint32_t g_nextListing = 0;

void AppendRaw(std::string* out, const void* bytes, size_t size) {
    out->append(static_cast<const char*>(bytes), size);
}

void Write(RecordKind kind, uint32_t id, const std::string& payload) {
    RecordHead head{kind, id, static_cast<uint32_t>(payload.size())};
    std::string record;
    AppendRaw(&record, &head, sizeof head);
    record += payload;
    const std::lock_guard<std::mutex> guard(g_lock);
    size_t done = 0;
    while (g_fd >= 0 && done < record.size()) {
        const ssize_t wrote = write(g_fd, record.data() + done, record.size() - done);
        if (wrote < 0 && errno == EINTR) {
            continue;
        }
        if (wrote <= 0) {
            return;  // the parent is gone: nobody reads the journal
        }
        done += static_cast<size_t>(wrote);
    }
}

std::string TwoInts(int32_t first, int32_t second) {
    std::string payload;
    AppendRaw(&payload, &first, sizeof first);
    AppendRaw(&payload, &second, sizeof second);
    return payload;
}

int32_t IntAt(const std::string& payload, size_t at) {
    int32_t value = 0;
    if (payload.size() >= at + sizeof value) {
        std::memcpy(&value, payload.data() + at, sizeof value);
    }
    return value;
}

bool ReadAnswer(const std::string& payload, JournalAnswer* answer) {
    if (payload.size() < sizeof(JournalAnswerHead)) {
        return false;
    }
    std::memcpy(&answer->head, payload.data(), sizeof(JournalAnswerHead));
    const JournalAnswerHead& head = answer->head;
    const size_t need =
        sizeof(JournalAnswerHead) + head.cdbLen + size_t{head.dataBytes} + head.senseBytes;
    if (payload.size() != need) {
        return false;
    }
    size_t at = sizeof(JournalAnswerHead);
    answer->cdb = payload.substr(at, head.cdbLen);
    at += head.cdbLen;
    answer->data = payload.substr(at, head.dataBytes);
    at += head.dataBytes;
    answer->sense = payload.substr(at, head.senseBytes);
    return true;
}

template <typename Item>
Item* At(std::vector<Item>* items, uint32_t id) {
    if (id >= items->size()) {
        items->resize(id + 1);
    }
    return &(*items)[id];
}

// One whole record into the view; false for a malformed one.
bool TakeRecord(const RecordHead& head, const std::string& payload, JournalView* view) {
    if (head.id >= kMostIds) {
        return false;
    }
    switch (head.kind) {
        case kOpen: {
            JournalSession* session = At(&view->sessions, head.id);
            session->openError = IntAt(payload, 0);
            session->path = payload.size() > 4 ? payload.substr(4) : std::string();
            view->opensOf[session->path].push_back(head.id);
            return true;
        }
        case kSent:
            At(&view->sessions, head.id)->inFlight = true;
            return true;
        case kAnswer: {
            JournalSession* session = At(&view->sessions, head.id);
            session->answers.emplace_back();
            session->inFlight = false;
            return ReadAnswer(payload, &session->answers.back());
        }
        case kList:
            At(&view->listings, head.id)->command = payload;
            return true;
        case kOut:
            At(&view->listings, head.id)->text += payload;
            return true;
        case kEnd: {
            JournalListing* listing = At(&view->listings, head.id);
            listing->status = IntAt(payload, 0);
            listing->startError = IntAt(payload, 4);
            listing->ended = true;
            return true;
        }
        case kDone:
            view->whole = true;
            return true;
        default:
            return false;
    }
}

}  // namespace

void journal_SetFd(int fd) {
    const std::lock_guard<std::mutex> guard(g_lock);
    g_fd = fd;
    g_nextSession = 0;
    g_nextListing = 0;
}

uint32_t journal_NewSession() {
    const std::lock_guard<std::mutex> guard(g_lock);
    return g_nextSession++;
}

uint32_t journal_NewListing() {
    const std::lock_guard<std::mutex> guard(g_lock);
    return g_nextListing++;
}

void journal_Open(uint32_t session, const char* path, int error) {
    const int32_t code = error;
    std::string payload;
    AppendRaw(&payload, &code, sizeof code);
    payload += path;
    Write(kOpen, session, payload);
}

void journal_Sent(uint32_t session, const ScsiRequest& request) {
    Write(kSent, session, std::string(reinterpret_cast<const char*>(request.cdb), request.cdbLen));
}

void journal_Answered(uint32_t session, const ScsiRequest& request, int result) {
    JournalAnswerHead head{};
    head.result = result;
    head.sysError = request.sysError;
    head.resid = request.resid;
    head.hostStatus = request.hostStatus;
    head.driverStatus = request.driverStatus;
    head.status = request.status;
    head.checkReported = request.checkReported ? 1 : 0;
    head.senseWritten = request.senseWritten;
    head.cdbLen = request.cdbLen;
    head.dataBytes = request.data != nullptr ? request.dataLen : 0;
    head.senseBytes = request.sense != nullptr ? request.senseLen : 0;
    std::string payload;
    AppendRaw(&payload, &head, sizeof head);
    AppendRaw(&payload, request.cdb, request.cdbLen);
    AppendRaw(&payload, request.data, head.dataBytes);
    AppendRaw(&payload, request.sense, head.senseBytes);
    Write(kAnswer, session, payload);
}

void journal_List(uint32_t listing, const char* command) {
    Write(kList, listing, command);
}

void journal_Out(uint32_t listing, const char* bytes, size_t count) {
    Write(kOut, listing, std::string(bytes, count));
}

void journal_End(uint32_t listing, int status, int error) {
    Write(kEnd, listing, TwoInts(status, error));
}

void journal_Done() {
    Write(kDone, 0, std::string());
}

void journal_Read(const std::string& text, JournalView* view) {
    size_t at = 0;
    while (text.size() - at >= sizeof(RecordHead)) {
        RecordHead head{};
        std::memcpy(&head, text.data() + at, sizeof head);
        if (text.size() - at - sizeof head < head.length) {
            break;  // cut by the kill
        }
        if (!TakeRecord(head, text.substr(at + sizeof head, head.length), view)) {
            break;
        }
        at += sizeof head + head.length;
    }
}
