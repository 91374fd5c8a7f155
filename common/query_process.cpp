// The query process and its journal. A journal is a run of records, each a
// kind byte, an id and a length (native order: one program writes and reads
// it) and that many bytes:
//
//   open      id = session      i32 errno (0: opened), the node's path
//   sent      id = session      the command block (a command in flight)
//   answer    id = session      the outcome (AnswerHead), the command block,
//                               the data buffer, the sense bytes
//   list      id = listing      the command line
//   out       id = listing      a piece of the command's output
//   end       id = listing      i32 wait status, i32 errno (popen failed)
//   done      the run is whole
//
// A record cut by the SIGKILL is dropped.
#include "query_process.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <climits>
#include <cstdint>
#include <cstring>
#include <map>
#include <mutex>
#include <set>
#include <unordered_map>

#include "scsi_request.h"

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

struct AnswerHead {
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

enum class Mode { kPlain, kChild, kReplay };

constexpr uint32_t kNoSession = UINT32_MAX;
// The journal's descriptor in the query process.
constexpr int kJournalFd = 3;
// DID_TIME_OUT: what a device that never answered gets.
constexpr unsigned short kTimedOut = 0x03;

long long NowMs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<long long>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

// The program's start: the deadline counts from it.
const long long g_startMs = NowMs();

// One command and its answer, as the query process saw them.
struct Answer {
    AnswerHead head{};
    std::string cdb;
    std::string data;
    std::string sense;
};

// One opening of a node in the query process.
struct Session {
    std::string path;
    int openError = 0;
    bool inFlight = false;  // a command was sent and never answered
    std::vector<Answer> answers;
    size_t next = 0;
};

struct Listing {
    std::string command;
    std::string text;
    bool ended = false;
    int status = -1;
    int popenError = 0;
};

struct State {
    Mode mode = Mode::kPlain;
    int journalFd = -1;
    std::mutex lock;  // the query process's threads: ids, the fd map, writes
    uint32_t nextSession = 0;
    uint32_t nextListing = 0;
    std::unordered_map<int, uint32_t> fdSessions;

    // The parent's view.
    QueryOutcome outcome = QUERY_COMPLETE;
    unsigned seconds = 0;
    bool listingMissing = false;
    std::vector<Session> sessions;
    std::vector<Listing> listings;
    std::map<std::string, std::vector<uint32_t>> opensOf;
    std::map<std::string, size_t> opensTaken;
    std::map<std::string, size_t> listingsTaken;
    std::set<std::string> spoiled;  // a command of the node was in flight
    std::vector<std::string> notChecked;
    std::set<std::string> notCheckedSet;
};

State& Run() {
    static State state;
    return state;
}

// ---- the query process: writing the journal ----

void AppendRaw(std::string* out, const void* bytes, size_t size) {
    out->append(static_cast<const char*>(bytes), size);
}

void Write(RecordKind kind, uint32_t id, const std::string& payload) {
    State& run = Run();
    RecordHead head{kind, id, static_cast<uint32_t>(payload.size())};
    std::string record;
    AppendRaw(&record, &head, sizeof head);
    record += payload;
    const std::lock_guard<std::mutex> guard(run.lock);
    size_t done = 0;
    while (done < record.size()) {
        const ssize_t wrote = write(run.journalFd, record.data() + done, record.size() - done);
        if (wrote < 0 && errno == EINTR) {
            continue;
        }
        if (wrote <= 0) {
            return;  // the parent is gone: nobody reads the journal
        }
        done += static_cast<size_t>(wrote);
    }
}

uint32_t SessionOf(int fd) {
    State& run = Run();
    const std::lock_guard<std::mutex> guard(run.lock);
    auto found = run.fdSessions.find(fd);
    return found != run.fdSessions.end() ? found->second : kNoSession;
}

void NoteSent(int fd, const ScsiRequest& request) {
    const uint32_t session = SessionOf(fd);
    if (session != kNoSession) {
        Write(kSent, session,
              std::string(reinterpret_cast<const char*>(request.cdb), request.cdbLen));
    }
}

void NoteAnswered(int fd, const ScsiRequest& request, int result) {
    const uint32_t session = SessionOf(fd);
    if (session == kNoSession) {
        return;
    }
    AnswerHead head{};
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

// ---- the parent: the journal read back ----

void MarkNotChecked(const std::string& node) {
    State& run = Run();
    if (run.notCheckedSet.insert(node).second) {
        run.notChecked.push_back(node);
    }
}

Session* SessionAt(uint32_t id) {
    State& run = Run();
    if (id >= run.sessions.size()) {
        run.sessions.resize(id + 1);
    }
    return &run.sessions[id];
}

Listing* ListingAt(uint32_t id) {
    State& run = Run();
    if (id >= run.listings.size()) {
        run.listings.resize(id + 1);
    }
    return &run.listings[id];
}

bool ReadAnswer(const std::string& payload, Answer* answer) {
    if (payload.size() < sizeof(AnswerHead)) {
        return false;
    }
    std::memcpy(&answer->head, payload.data(), sizeof(AnswerHead));
    const AnswerHead& head = answer->head;
    const size_t need = sizeof(AnswerHead) + head.cdbLen + size_t{head.dataBytes} + head.senseBytes;
    if (payload.size() != need) {
        return false;
    }
    size_t at = sizeof(AnswerHead);
    answer->cdb = payload.substr(at, head.cdbLen);
    at += head.cdbLen;
    answer->data = payload.substr(at, head.dataBytes);
    at += head.dataBytes;
    answer->sense = payload.substr(at, head.senseBytes);
    return true;
}

int32_t IntAt(const std::string& payload, size_t at) {
    int32_t value = 0;
    if (payload.size() >= at + sizeof value) {
        std::memcpy(&value, payload.data() + at, sizeof value);
    }
    return value;
}

// One whole record into the parent's view; false for a malformed one.
bool TakeRecord(const RecordHead& head, const std::string& payload, bool* done) {
    State& run = Run();
    switch (head.kind) {
        case kOpen: {
            Session* session = SessionAt(head.id);
            session->openError = IntAt(payload, 0);
            session->path = payload.size() > 4 ? payload.substr(4) : std::string();
            run.opensOf[session->path].push_back(head.id);
            return true;
        }
        case kSent:
            SessionAt(head.id)->inFlight = true;
            return true;
        case kAnswer: {
            Session* session = SessionAt(head.id);
            session->answers.emplace_back();
            session->inFlight = false;
            return ReadAnswer(payload, &session->answers.back());
        }
        case kList:
            ListingAt(head.id)->command = payload;
            return true;
        case kOut:
            ListingAt(head.id)->text += payload;
            return true;
        case kEnd: {
            Listing* listing = ListingAt(head.id);
            listing->status = IntAt(payload, 0);
            listing->popenError = IntAt(payload, 4);
            listing->ended = true;
            return true;
        }
        case kDone:
            *done = true;
            return true;
        default:
            return false;
    }
}

// Reads the journal text; true when it ends with the run whole.
bool ReadJournal(const std::string& journal) {
    bool done = false;
    size_t at = 0;
    while (journal.size() - at >= sizeof(RecordHead)) {
        RecordHead head{};
        std::memcpy(&head, journal.data() + at, sizeof head);
        if (journal.size() - at - sizeof head < head.length) {
            break;  // cut by the kill
        }
        if (!TakeRecord(head, journal.substr(at + sizeof head, head.length), &done)) {
            break;
        }
        at += sizeof head + head.length;
    }
    return done;
}

// Settles what the journal lets the run say, before the run is replayed.
void Settle(bool whole) {
    State& run = Run();
    if (whole) {
        return;
    }
    for (const Session& session : run.sessions) {
        if (session.inFlight) {
            run.spoiled.insert(session.path);
        }
    }
    bool listed = false;
    for (const Listing& listing : run.listings) {
        listed = true;
        run.listingMissing = run.listingMissing || !listing.ended;
    }
    // Nothing at all arrived: not even the listing got started.
    run.listingMissing = run.listingMissing || (!listed && run.sessions.empty());
}

bool Answered(int fd, ScsiRequest* request, int* result);

const ScsiJournal kReplayJournal = {Answered, nullptr, nullptr};
const ScsiJournal kChildJournal = {nullptr, NoteSent, NoteAnswered};

void StartReplay(const std::string& journal, QueryOutcome outcome, unsigned seconds) {
    State& run = Run();
    run.mode = Mode::kReplay;
    run.seconds = seconds;
    const bool whole = ReadJournal(journal);
    run.outcome = whole ? QUERY_COMPLETE : outcome;
    Settle(whole);
    scsi_SetJournal(&kReplayJournal);
}

// A command the journal does not answer: the device never did.
int Unanswered(ScsiRequest* request) {
    request->status = 0;
    request->hostStatus = kTimedOut;
    request->driverStatus = 0;
    request->checkReported = true;
    request->senseWritten = 0;
    request->resid = static_cast<int>(request->dataLen);
    return 0;
}

int FromAnswer(const Answer& answer, ScsiRequest* request) {
    const AnswerHead& head = answer.head;
    if (request->data != nullptr) {
        std::memcpy(request->data, answer.data.data(),
                    std::min<size_t>(answer.data.size(), request->dataLen));
    }
    if (request->sense != nullptr) {
        std::memcpy(request->sense, answer.sense.data(),
                    std::min<size_t>(answer.sense.size(), request->senseLen));
    }
    request->sysError = head.sysError;
    request->status = head.status;
    request->hostStatus = head.hostStatus;
    request->driverStatus = head.driverStatus;
    request->checkReported = head.checkReported != 0;
    request->senseWritten =
        static_cast<unsigned char>(std::min<unsigned>(head.senseWritten, request->senseLen));
    request->resid = head.resid;
    return head.result;
}

bool Answered(int fd, ScsiRequest* request, int* result) {
    State& run = Run();
    const std::lock_guard<std::mutex> guard(run.lock);
    auto found = run.fdSessions.find(fd);
    if (found == run.fdSessions.end() || found->second == kNoSession) {
        *result = Unanswered(request);
        return true;
    }
    Session& session = run.sessions[found->second];
    const std::string cdb(reinterpret_cast<const char*>(request->cdb), request->cdbLen);
    if (session.next >= session.answers.size() || session.answers[session.next].cdb != cdb) {
        MarkNotChecked(session.path);
        *result = Unanswered(request);
        return true;
    }
    *result = FromAnswer(session.answers[session.next++], request);
    return true;
}

int ReplayOpen(const char* path) {
    State& run = Run();
    const std::lock_guard<std::mutex> guard(run.lock);
    const std::string node(path);
    const std::vector<uint32_t>& opens = run.opensOf[node];
    const size_t taken = run.opensTaken[node]++;
    uint32_t id = kNoSession;
    if (taken < opens.size() && run.spoiled.count(node) == 0) {
        id = opens[taken];
        if (run.sessions[id].openError != 0) {
            errno = run.sessions[id].openError;
            return -1;
        }
    } else {
        MarkNotChecked(node);
    }
    const int fd = open("/dev/null", O_RDONLY | O_CLOEXEC);
    if (fd >= 0) {
        run.fdSessions[fd] = id;
    }
    return fd;
}

int ChildOpen(const char* path, int flags) {
    const int fd = open(path, flags);
    const int32_t error = fd < 0 ? errno : 0;
    State& run = Run();
    uint32_t id = 0;
    {
        const std::lock_guard<std::mutex> guard(run.lock);
        id = run.nextSession++;
        if (fd >= 0) {
            run.fdSessions[fd] = id;
        }
    }
    std::string payload;
    AppendRaw(&payload, &error, sizeof error);
    payload += path;
    Write(kOpen, id, payload);
    errno = error;
    return fd;
}

// ---- the parent: waiting for the journal ----

// Reads the journal until the child closes it or the deadline passes; the
// outcome.
QueryOutcome Collect(int fd, long long deadlineMs, std::string* journal) {
    char chunk[65536];
    for (;;) {
        const long long left = deadlineMs - NowMs();
        if (left <= 0) {
            return QUERY_DEADLINE;
        }
        pollfd ready{fd, POLLIN, 0};
        const int polled = poll(&ready, 1, static_cast<int>(std::min<long long>(left, INT_MAX)));
        if (polled < 0 && errno == EINTR) {
            continue;
        }
        if (polled <= 0) {
            return polled == 0 ? QUERY_DEADLINE : QUERY_ENDED;
        }
        const ssize_t got = read(fd, chunk, sizeof chunk);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            return QUERY_ENDED;
        }
        journal->append(chunk, static_cast<size_t>(got));
    }
}

// Every descriptor from first up, closed.
void CloseFrom(int first) {
#ifdef SYS_close_range
    if (syscall(SYS_close_range, first, ~0U, 0) == 0) {
        return;
    }
#endif
    const long most = sysconf(_SC_OPEN_MAX);
    for (long fd = first; fd < (most > 0 ? std::min(most, 65536L) : 1024L); ++fd) {
        (void)close(static_cast<int>(fd));
    }
}

// The query process keeps its journal alone: standard input, output and
// error are /dev/null, opened anew, so that nothing its caller waits on
// stays open while one of its commands hangs.
void BecomeChild(int journal) {
    (void)prctl(PR_SET_PDEATHSIG, SIGKILL);
    (void)setpgid(0, 0);
    if (journal != kJournalFd) {
        (void)dup2(journal, kJournalFd);
    }
    // The commands it starts must not hold the journal open.
    (void)fcntl(kJournalFd, F_SETFD, FD_CLOEXEC);
    const int null = open("/dev/null", O_RDWR);
    for (int fd = 0; fd <= 2; ++fd) {
        (void)dup2(null, fd);
    }
    CloseFrom(kJournalFd + 1);
    State& run = Run();
    run.mode = Mode::kChild;
    run.journalFd = kJournalFd;
    scsi_SetJournal(&kChildJournal);
}

// ---- listings ----

struct ListingState {
    FILE* inner = nullptr;  // the command's pipe (query process)
    uint32_t id = 0;
    int status = -1;
    std::string text;  // the journal's copy (parent)
};

// The command's end: its wait status into the journal.
void EndListing(ListingState* state) {
    state->status = pclose(state->inner);
    state->inner = nullptr;
    int32_t fields[2] = {state->status, 0};
    std::string payload;
    AppendRaw(&payload, fields, sizeof fields);
    Write(kEnd, state->id, payload);
}

ssize_t TeeRead(void* cookie, char* buffer, size_t size) {
    // What the pipe has now, not a full buffer: a reader that starts work
    // per line keeps doing so.
    auto* state = static_cast<ListingState*>(cookie);
    if (state->inner == nullptr) {
        return 0;
    }
    ssize_t got = 0;
    do {
        got = read(fileno(state->inner), buffer, size);
    } while (got < 0 && errno == EINTR);
    if (got > 0) {
        Write(kOut, state->id, std::string(buffer, static_cast<size_t>(got)));
    } else if (got == 0) {
        // The whole listing is here: it has arrived, whatever the reader
        // still does with its lines before it closes the stream.
        EndListing(state);
    }
    return got;
}

int TeeClose(void* cookie) {
    auto* state = static_cast<ListingState*>(cookie);
    if (state->inner != nullptr) {
        EndListing(state);
    }
    return 0;
}

FILE* ChildListing(const char* command, ListingState* state) {
    {
        State& run = Run();
        const std::lock_guard<std::mutex> guard(run.lock);
        state->id = run.nextListing++;
    }
    Write(kList, state->id, command);
    state->inner = popen(command, "r");
    if (state->inner == nullptr) {
        const int error = errno;
        int32_t fields[2] = {-1, error};
        std::string payload;
        AppendRaw(&payload, fields, sizeof fields);
        Write(kEnd, state->id, payload);
        errno = error;
        return nullptr;
    }
    cookie_io_functions_t io{TeeRead, nullptr, nullptr, TeeClose};
    FILE* stream = fopencookie(state, "r", io);
    if (stream == nullptr) {
        (void)TeeClose(state);
    }
    return stream;
}

FILE* ReplayListing(const char* command, ListingState* state) {
    State& run = Run();
    const size_t taken = run.listingsTaken[command]++;
    size_t seen = 0;
    for (const Listing& listing : run.listings) {
        if (listing.command != command || seen++ != taken) {
            continue;
        }
        if (!listing.ended) {
            break;
        }
        if (listing.popenError != 0) {
            errno = listing.popenError;
            return nullptr;
        }
        state->status = listing.status;
        state->text = listing.text;
        return state->text.empty() ? fopen("/dev/null", "r")
                                   : fmemopen(&state->text[0], state->text.size(), "r");
    }
    run.listingMissing = true;
    errno = ETIMEDOUT;
    return nullptr;
}

}  // namespace

bool query_ParseSeconds(const char* text, unsigned* seconds) {
    if (text == nullptr || text[0] < '1' || text[0] > '9') {
        return false;
    }
    unsigned value = 0;
    for (const char* p = text; *p != '\0'; ++p) {
        if (*p < '0' || *p > '9' || value > kMaxDeadlineSeconds) {
            return false;
        }
        value = value * 10 + static_cast<unsigned>(*p - '0');
    }
    if (value > kMaxDeadlineSeconds) {
        return false;
    }
    *seconds = value;
    return true;
}

int query_Start(unsigned seconds) {
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0) {
        return -1;
    }
    (void)fflush(nullptr);
    const pid_t child = fork();
    if (child < 0) {
        (void)close(ends[0]);
        (void)close(ends[1]);
        return -1;
    }
    if (child == 0) {
        (void)close(ends[0]);
        BecomeChild(ends[1]);
        return 0;
    }
    (void)close(ends[1]);
    // Its own process group: the listings it starts go with it at the cut.
    (void)setpgid(child, child);
    std::string journal;
    const QueryOutcome outcome = Collect(ends[0], g_startMs + seconds * 1000LL, &journal);
    if (outcome == QUERY_DEADLINE) {
        // The fatal signal ends dm's retry loop too; a thread in SG_IO on a
        // block node keeps the child alive until its command times out,
        // which is why nobody waits for it. A listing still running (a
        // multipath whose path checkers wait) goes with its group.
        (void)kill(-child, SIGKILL);
        (void)kill(child, SIGKILL);
    }
    (void)close(ends[0]);
    StartReplay(journal, outcome, seconds);
    return 0;
}

bool query_InChild() {
    return Run().mode == Mode::kChild;
}

void query_ChildEnd() {
    Write(kDone, 0, std::string());
    _exit(0);
}

QueryOutcome query_Outcome() {
    return Run().outcome;
}

unsigned query_Seconds() {
    return Run().seconds;
}

bool query_ListingMissing() {
    return Run().listingMissing;
}

const std::vector<std::string>& query_NotCheckedNodes() {
    return Run().notChecked;
}

bool query_NotChecked(const char* node) {
    return node != nullptr && Run().notCheckedSet.count(node) != 0;
}

int query_System(const char* command) {
    switch (Run().mode) {
        case Mode::kChild: {
            ListingState state;
            {
                State& run = Run();
                const std::lock_guard<std::mutex> guard(run.lock);
                state.id = run.nextListing++;
            }
            Write(kList, state.id, command);
            const int status = system(command);
            int32_t fields[2] = {status, status < 0 ? errno : 0};
            std::string payload;
            AppendRaw(&payload, fields, sizeof fields);
            Write(kEnd, state.id, payload);
            return status;
        }
        case Mode::kReplay: {
            ListingState state;
            FILE* stream = ReplayListing(command, &state);
            if (stream == nullptr) {
                return -1;
            }
            (void)fclose(stream);
            return state.status;
        }
        case Mode::kPlain:
            break;
    }
    return system(command);
}

std::string query_Summary() {
    const State& run = Run();
    if (run.outcome == QUERY_COMPLETE) {
        return std::string();
    }
    std::string text = run.outcome == QUERY_DEADLINE
                           ? "deadline of " + std::to_string(run.seconds) + " s reached"
                           : std::string("the queries ended early");
    if (run.listingMissing) {
        return text + " before the listing arrived";
    }
    const size_t count = run.notChecked.size();
    return text + ", " + std::to_string(count) + (count == 1 ? " device" : " devices") +
           " not checked";
}

int query_OpenDevice(const char* path, int flags) {
    switch (Run().mode) {
        case Mode::kChild:
            return ChildOpen(path, flags);
        case Mode::kReplay:
            return ReplayOpen(path);
        case Mode::kPlain:
            break;
    }
    return open(path, flags);
}

ListingPipe::ListingPipe(const char* command) {
    auto* state = new ListingState;
    state_ = state;
    switch (Run().mode) {
        case Mode::kChild:
            stream_ = ChildListing(command, state);
            break;
        case Mode::kReplay:
            stream_ = ReplayListing(command, state);
            break;
        case Mode::kPlain:
            stream_ = popen(command, "r");
            break;
    }
}

ListingPipe::~ListingPipe() {
    (void)Close();
    delete static_cast<ListingState*>(state_);
}

int ListingPipe::Close() {
    if (stream_ == nullptr) {
        return -1;
    }
    auto* state = static_cast<ListingState*>(state_);
    FILE* stream = stream_;
    stream_ = nullptr;
    if (Run().mode == Mode::kPlain) {
        return pclose(stream);
    }
    (void)fclose(stream);
    return state->status;
}

void query_Reset() {
    State& run = Run();
    scsi_SetJournal(nullptr);
    run.mode = Mode::kPlain;
    run.journalFd = -1;
    run.nextSession = 0;
    run.nextListing = 0;
    run.fdSessions.clear();
    run.outcome = QUERY_COMPLETE;
    run.seconds = 0;
    run.listingMissing = false;
    run.sessions.clear();
    run.listings.clear();
    run.opensOf.clear();
    run.opensTaken.clear();
    run.listingsTaken.clear();
    run.spoiled.clear();
    run.notChecked.clear();
    run.notCheckedSet.clear();
}

void query_JournalForTest(int fd) {
    query_Reset();
    State& run = Run();
    run.mode = Mode::kChild;
    run.journalFd = fd;
    scsi_SetJournal(&kChildJournal);
}

void query_ReplayForTest(const std::string& journal, QueryOutcome outcome, unsigned seconds) {
    query_Reset();
    StartReplay(journal, outcome, seconds);
}
