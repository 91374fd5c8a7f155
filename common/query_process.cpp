// The query process, and the run over its journal (query_journal.h): the
// seams answer as the platform, as the query process that journals what it
// does, or from the journal.
#include "query_process.h"

#include <ctype.h>
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

#include "count_text.h"
#include "query_journal.h"
#include "scsi_request.h"

namespace {

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

struct State {
    Mode mode = Mode::kPlain;
    std::mutex lock;  // the descriptors' sessions, the replay's cursors
    std::unordered_map<int, uint32_t> fdSessions;

    // The parent's view.
    QueryOutcome outcome = QUERY_COMPLETE;
    unsigned seconds = 0;
    bool listingMissing = false;
    JournalView journal;
    std::map<uint32_t, size_t> answersTaken;  // by session
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

// ---- the query process ----

uint32_t SessionOf(int fd) {
    State& run = Run();
    const std::lock_guard<std::mutex> guard(run.lock);
    auto found = run.fdSessions.find(fd);
    return found != run.fdSessions.end() ? found->second : kNoSession;
}

void NoteSent(int fd, const ScsiRequest& request) {
    const uint32_t session = SessionOf(fd);
    if (session != kNoSession) {
        journal_Sent(session, request);
    }
}

void NoteAnswered(int fd, const ScsiRequest& request, int result) {
    const uint32_t session = SessionOf(fd);
    if (session != kNoSession) {
        journal_Answered(session, request, result);
    }
}

// ---- the parent: the journal read back ----

void MarkNotChecked(const std::string& node) {
    State& run = Run();
    if (run.notCheckedSet.insert(node).second) {
        run.notChecked.push_back(node);
    }
}

// Settles what the journal lets the run say, before the run is replayed.
void Settle() {
    State& run = Run();
    const JournalView& journal = run.journal;
    if (journal.whole) {
        return;
    }
    for (const JournalSession& session : journal.sessions) {
        if (session.inFlight) {
            run.spoiled.insert(session.path);
        }
    }
    for (const JournalListing& listing : journal.listings) {
        run.listingMissing = run.listingMissing || !listing.ended;
    }
    // Nothing at all arrived: not even the listing got started.
    run.listingMissing =
        run.listingMissing || (journal.listings.empty() && journal.sessions.empty());
}

bool Answered(int fd, ScsiRequest* request, int* result);

const ScsiJournal kReplayJournal = {Answered, nullptr, nullptr};
const ScsiJournal kChildJournal = {nullptr, NoteSent, NoteAnswered};

void StartReplay(const std::string& journal, QueryOutcome outcome, unsigned seconds) {
    State& run = Run();
    run.mode = Mode::kReplay;
    run.seconds = seconds;
    journal_Read(journal, &run.journal);
    run.outcome = run.journal.whole ? QUERY_COMPLETE : outcome;
    Settle();
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

int FromAnswer(const JournalAnswer& answer, ScsiRequest* request) {
    const JournalAnswerHead& head = answer.head;
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
    const JournalSession& session = run.journal.sessions[found->second];
    size_t& next = run.answersTaken[found->second];
    const std::string cdb(reinterpret_cast<const char*>(request->cdb), request->cdbLen);
    if (next >= session.answers.size() || session.answers[next].cdb != cdb) {
        MarkNotChecked(session.path);
        *result = Unanswered(request);
        return true;
    }
    *result = FromAnswer(session.answers[next++], request);
    return true;
}

int ReplayOpen(const char* path) {
    State& run = Run();
    const std::lock_guard<std::mutex> guard(run.lock);
    const std::string node(path);
    const std::vector<uint32_t>& opens = run.journal.opensOf[node];
    const size_t taken = run.opensTaken[node]++;
    uint32_t id = kNoSession;
    if (taken < opens.size() && run.spoiled.count(node) == 0) {
        id = opens[taken];
        if (run.journal.sessions[id].openError != 0) {
            errno = run.journal.sessions[id].openError;
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
    const int error = fd < 0 ? errno : 0;
    const uint32_t id = journal_NewSession();
    if (fd >= 0) {
        State& run = Run();
        const std::lock_guard<std::mutex> guard(run.lock);
        run.fdSessions[fd] = id;
    }
    journal_Open(id, path, error);
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
    Run().mode = Mode::kChild;
    journal_SetFd(kJournalFd);
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
    journal_End(state->id, state->status, 0);
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
        journal_Out(state->id, buffer, static_cast<size_t>(got));
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
    state->id = journal_NewListing();
    journal_List(state->id, command);
    state->inner = popen(command, "r");
    if (state->inner == nullptr) {
        const int error = errno;
        journal_End(state->id, -1, error);
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

// The journal's run of command that the replay comes to now (the same
// command may run more than once), or null, the listing missing, when it had
// not ended by the cut.
const JournalListing* NextListing(const char* command) {
    State& run = Run();
    const size_t taken = run.listingsTaken[command]++;
    size_t seen = 0;
    for (const JournalListing& listing : run.journal.listings) {
        if (listing.command == command && seen++ == taken) {
            if (!listing.ended) {
                break;
            }
            return &listing;
        }
    }
    run.listingMissing = true;
    errno = ETIMEDOUT;
    return nullptr;
}

FILE* ReplayListing(const char* command, ListingState* state) {
    const JournalListing* listing = NextListing(command);
    if (listing == nullptr) {
        return nullptr;
    }
    if (listing->startError != 0) {
        errno = listing->startError;
        return nullptr;
    }
    state->status = listing->status;
    state->text = listing->text;
    return state->text.empty() ? fopen("/dev/null", "r")
                               : fmemopen(&state->text[0], state->text.size(), "r");
}

}  // namespace

bool query_ParseSeconds(const char* text, unsigned* seconds) {
    return ParseCount(text, kMaxDeadlineSeconds, seconds);
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
    journal_Done();
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
            const uint32_t id = journal_NewListing();
            journal_List(id, command);
            const int status = system(command);
            journal_End(id, status, status < 0 ? errno : 0);
            return status;
        }
        case Mode::kReplay: {
            const JournalListing* listing = NextListing(command);
            if (listing == nullptr || listing->startError != 0) {
                errno = listing == nullptr ? ETIMEDOUT : listing->startError;
                return -1;
            }
            return listing->status;
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

std::string query_SummaryLine() {
    std::string line = query_Summary();
    if (!line.empty()) {
        line[0] = static_cast<char>(toupper(static_cast<unsigned char>(line[0])));
        line += ".\n";
    }
    return line;
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
    journal_SetFd(-1);
    run.mode = Mode::kPlain;
    run.fdSessions.clear();
    run.outcome = QUERY_COMPLETE;
    run.seconds = 0;
    run.listingMissing = false;
    run.journal = JournalView();
    run.answersTaken.clear();
    run.opensTaken.clear();
    run.listingsTaken.clear();
    run.spoiled.clear();
    run.notChecked.clear();
    run.notCheckedSet.clear();
}

void query_JournalForTest(int fd) {
    query_Reset();
    Run().mode = Mode::kChild;
    journal_SetFd(fd);
    scsi_SetJournal(&kChildJournal);
}

void query_ReplayForTest(const std::string& journal, QueryOutcome outcome, unsigned seconds) {
    query_Reset();
    StartReplay(journal, outcome, seconds);
}
