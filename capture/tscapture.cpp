// tskit-capture: records what the kit's programs read on this host into
// one file that the simulated host serves back (docs/capture.md).
#include <errno.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <string>

#include "atomic_file.h"
#include "capture_anonymize.h"
#include "capture_host.h"
#include "capture_record.h"
#include "process_start.h"
#include "unique_fd.h"

namespace {

// Messages go to standard output, unless the capture does: its reader must
// get the capture and nothing else, so they go to standard error then.
FILE* g_messages = stdout;

void Say(const char* format, ...) __attribute__((format(printf, 1, 2)));
void Say(const char* format, ...) {
    va_list args;
    va_start(args, format);
    (void)vfprintf(g_messages, format, args);
    va_end(args);
    (void)fflush(g_messages);
}

// A document rendered whole in memory, so that its file gets it whole.
struct Rendered {
    char* text = nullptr;
    size_t length = 0;
    Rendered() = default;
    Rendered(const Rendered&) = delete;
    Rendered& operator=(const Rendered&) = delete;
    ~Rendered() { free(text); }
};

template <typename Writer>
bool Render(Writer write, Rendered* out) {
    FILE* stream = open_memstream(&out->text, &out->length);
    if (stream == nullptr) {
        return false;
    }
    const bool written = write(stream);
    return fclose(stream) == 0 && written;
}

bool WriteWhole(const char* path, const char* text, size_t length, mode_t mode) {
    AtomicFile file;
    return file.Open(path) && file.Write(text, length) && file.Commit(mode);
}

// What a mapping file held before it was replaced, to put back when the
// capture it was written for does not follow it.
struct OldMapping {
    bool existed = false;
    mode_t mode = 0600;
    std::string text;
};

bool SaveOld(const char* path, OldMapping* old) {
    struct stat st {};
    if (stat(path, &st) != 0) {
        return errno == ENOENT;
    }
    if (!S_ISREG(st.st_mode)) {
        return true;  // not a file the mapping may replace: its commit fails
    }
    UniqueFd fd(open(path, O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    if (!fd.Valid()) {
        return false;
    }
    char buffer[65536];
    ssize_t got;
    while ((got = read(fd.Get(), buffer, sizeof buffer)) > 0) {
        old->text.append(buffer, static_cast<size_t>(got));
    }
    old->existed = true;
    old->mode = st.st_mode & 07777;
    return got == 0;
}

// The old mapping back, or none where there was none.
void Restore(const char* path, const OldMapping& old) {
    const int saved = errno;
    if (old.existed) {
        (void)WriteWhole(path, old.text.data(), old.text.size(), old.mode);
    } else {
        (void)unlink(path);
    }
    errno = saved;
}

// The mapping committed (the old one kept in *old); false, errno set, when
// it could not be: nothing changed then.
bool CommitMapping(const char* mapFile, const Rendered& map, OldMapping* old) {
    return SaveOld(mapFile, old) && WriteWhole(mapFile, map.text, map.length, 0600);
}

// FILE, then its mapping committed, then FILE renamed: no anonymized capture
// exists without its mapping, and when FILE cannot be committed the mapping
// gets its old text back, so that the old pair stays a pair.
bool WriteFiles(const char* file, const Rendered& capture, const char* mapFile,
                const Rendered* mapping, const char** failed) {
    AtomicFile out;
    *failed = file;
    if (!out.Open(file) || !out.Write(capture.text, capture.length)) {
        return false;
    }
    OldMapping old;
    *failed = mapFile;
    if (mapping != nullptr && !CommitMapping(mapFile, *mapping, &old)) {
        return false;
    }
    *failed = file;
    if (!out.Commit(0600)) {
        if (mapping != nullptr) {
            Restore(mapFile, old);
        }
        return false;
    }
    return true;
}

// The capture on standard output, its mapping first into mapFile.
int WriteStdout(const Rendered& capture, const char* mapFile, const Rendered* mapping) {
    OldMapping old;
    if (mapping != nullptr && !CommitMapping(mapFile, *mapping, &old)) {
        Say("Error: cannot write the mapping %s: %s.\n", mapFile, strerror(errno));
        return 1;
    }
    const bool ok =
        fwrite(capture.text, 1, capture.length, stdout) == capture.length && fflush(stdout) == 0;
    if (!ok) {
        const int error = errno;
        if (mapping != nullptr) {
            Restore(mapFile, old);
        }
        Say("Error: cannot write the capture to standard output: %s.\n", strerror(error));
        return 1;
    }
    return 0;
}

int WriteOut(const CaptureRecord& record, const char* file, const char* mapFile,
             const CaptureMapping* mapping) {
    Rendered capture;
    Rendered map;
    if (!Render([&record](FILE* s) { return capture_WriteJson(record, s); }, &capture) ||
        (mapping != nullptr &&
         !Render([mapping](FILE* s) { return capture_WriteMapping(*mapping, s); }, &map))) {
        Say("Error: the capture could not be written.\n");
        return 1;
    }
    if (strcmp(file, "-") == 0) {
        return WriteStdout(capture, mapFile, mapping != nullptr ? &map : nullptr);
    }
    const char* failed = file;
    if (!WriteFiles(file, capture, mapFile, mapping != nullptr ? &map : nullptr, &failed)) {
        Say("Error: cannot write the %s %s: %s.\n", failed == file ? "capture" : "mapping", failed,
            strerror(errno));
        return 1;
    }
    return 0;
}

unsigned long long RandomNumber() {
    unsigned long long value = 0;
    if (getrandom(&value, sizeof value, 0) != static_cast<ssize_t>(sizeof value)) {
        value ^= static_cast<unsigned long long>(getpid()) << 32 ^
                 static_cast<unsigned long long>(time(nullptr)) ^
                 static_cast<unsigned long long>(clock());
    }
    return value;
}

// The command line: [--map MAPFILE] [--anonymize] FILE.
struct Options {
    const char* mapFile = nullptr;
    bool anonymize = false;
    const char* file = nullptr;
};

bool UsableName(const char* name) {
    return name != nullptr && name[0] != '\0' && (name[0] != '-' || name[1] == '\0');
}

bool ParseOptions(int argc, char* argv[], Options* options) {
    int i = 1;
    if (i + 1 < argc && strcmp(argv[i], "--map") == 0) {
        options->mapFile = argv[i + 1];
        i += 2;
    }
    if (i < argc && strcmp(argv[i], "--anonymize") == 0) {
        options->anonymize = true;
        ++i;
    }
    options->file = i + 1 == argc ? argv[i] : nullptr;
    return UsableName(options->file) &&
           (options->mapFile == nullptr ||
            (options->anonymize && UsableName(options->mapFile) &&
             strcmp(options->mapFile, "-") != 0 && strcmp(options->mapFile, options->file) != 0));
}

}  // namespace

int main(int argc, char* argv[]) {
    process_HoldStandardDescriptors();
    process_ExitOnBrokenPipe(1);
    if (argc == 2 && strcmp(argv[1], "--help") == 0) {
        (void)fputs(kCaptureUsage, stdout);
        return 0;
    }
    if (argc > 1 && strcmp(argv[argc - 1], "-") == 0) {
        g_messages = stderr;
    }
    Options options;
    if (!ParseOptions(argc, argv, &options)) {
        Say("%s", kCaptureUsage);
        return 1;
    }
    const bool toStdout = strcmp(options.file, "-") == 0;
    if (options.anonymize && toStdout && options.mapFile == nullptr) {
        Say("Error: --anonymize - needs --map FILE: where the mapping is to be kept.\n");
        return 1;
    }
    if (geteuid() != 0) {
        Say("Error: tskit-capture must be run as root.\n");
        return 1;
    }
    CaptureRecord record;
    capture_Host(&record);
    CaptureMapping mapping;
    if (options.anonymize) {
        char id[17];
        (void)snprintf(id, sizeof id, "%016llx", RandomNumber());
        mapping.captureId = id;
        capture_Anonymize(&record, RandomNumber(), &mapping);
    }
    const std::string mapFile =
        options.mapFile != nullptr ? options.mapFile : std::string(options.file) + ".map";
    return WriteOut(record, options.file, mapFile.c_str(), options.anonymize ? &mapping : nullptr);
}
