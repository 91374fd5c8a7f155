// tskit-capture: records what the kit's programs read on this host into
// one file that the simulated host serves back (docs/capture.md).
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/random.h>
#include <time.h>
#include <unistd.h>

#include <string>

#include "atomic_file.h"
#include "capture_anonymize.h"
#include "capture_host.h"
#include "capture_record.h"
#include "process_start.h"

namespace {

// The mapping of an anonymized capture to standard output.
constexpr char kStdoutMapping[] = "tskit-capture.map";

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

// FILE opened, both written, the mapping committed before the capture, so
// that no anonymized capture exists without its mapping.
bool WriteFiles(const char* file, const Rendered& capture, const char* mapFile,
                const Rendered* mapping, const char** failed) {
    AtomicFile out;
    AtomicFile map;
    *failed = file;
    if (!out.Open(file) || !out.Write(capture.text, capture.length)) {
        return false;
    }
    *failed = mapFile;
    if (mapping != nullptr &&
        (!map.Open(mapFile) || !map.Write(mapping->text, mapping->length) || !map.Commit(0600))) {
        return false;
    }
    *failed = file;
    return out.Commit(0600);
}

int WriteOut(const CaptureRecord& record, const char* file, const CaptureMapping* mapping) {
    Rendered capture;
    Rendered map;
    if (!Render([&record](FILE* s) { return capture_WriteJson(record, s); }, &capture) ||
        (mapping != nullptr &&
         !Render([mapping](FILE* s) { return capture_WriteMapping(*mapping, s); }, &map))) {
        (void)printf("Error: the capture could not be written.\n");
        return 1;
    }
    const bool toStdout = strcmp(file, "-") == 0;
    const std::string mapFile = toStdout ? kStdoutMapping : std::string(file) + ".map";
    if (toStdout) {
        AtomicFile out;
        if (mapping != nullptr &&
            (!out.Open(mapFile.c_str()) || !out.Write(map.text, map.length) || !out.Commit(0600))) {
            (void)printf("Error: cannot write the mapping %s: %s.\n", mapFile.c_str(),
                         strerror(errno));
            return 1;
        }
        const bool ok = fwrite(capture.text, 1, capture.length, stdout) == capture.length &&
                        fflush(stdout) == 0;
        return ok ? 0 : 1;
    }
    const char* failed = file;
    if (!WriteFiles(file, capture, mapFile.c_str(), mapping != nullptr ? &map : nullptr, &failed)) {
        (void)printf("Error: cannot write the %s %s: %s.\n", failed == file ? "capture" : "mapping",
                     failed, strerror(errno));
        return 1;
    }
    return 0;
}

unsigned long long RandomSeed() {
    unsigned long long seed = 0;
    if (getrandom(&seed, sizeof seed, 0) != static_cast<ssize_t>(sizeof seed)) {
        seed ^= static_cast<unsigned long long>(getpid()) << 32 ^
                static_cast<unsigned long long>(time(nullptr));
    }
    return seed;
}

}  // namespace

int main(int argc, char* argv[]) {
    process_HoldStandardDescriptors();
    process_ExitOnBrokenPipe(1);
    if (argc == 2 && strcmp(argv[1], "--help") == 0) {
        (void)fputs(kCaptureUsage, stdout);
        return 0;
    }
    const bool anonymize = argc == 3 && strcmp(argv[1], "--anonymize") == 0;
    const char* file = argv[argc - 1];
    if ((argc != 2 && !anonymize) || file[0] == '\0' || (file[0] == '-' && file[1] != '\0')) {
        (void)fputs(kCaptureUsage, stdout);
        return 1;
    }
    if (geteuid() != 0) {
        (void)printf("Error: tskit-capture must be run as root.\n");
        return 1;
    }
    CaptureRecord record;
    capture_Host(&record);
    CaptureMapping mapping;
    if (anonymize) {
        capture_Anonymize(&record, RandomSeed(), &mapping);
    }
    return WriteOut(record, file, anonymize ? &mapping : nullptr);
}
