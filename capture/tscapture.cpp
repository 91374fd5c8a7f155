// tskit-capture: records what the kit's programs read on this host into
// one file that the simulated host serves back (docs/capture.md).
#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include "atomic_file.h"
#include "capture_host.h"
#include "capture_record.h"

namespace {

// The record as one document in memory, so that FILE gets it whole.
bool Render(const CaptureRecord& record, char** text, size_t* length) {
    FILE* stream = open_memstream(text, length);
    if (stream == nullptr) {
        return false;
    }
    const bool written = capture_WriteJson(record, stream);
    return fclose(stream) == 0 && written;
}

int WriteOut(const CaptureRecord& record, const char* file) {
    char* text = nullptr;
    size_t length = 0;
    if (!Render(record, &text, &length)) {
        free(text);
        (void)printf("Error: the capture could not be written.\n");
        return 1;
    }
    bool ok;
    int error = 0;
    if (strcmp(file, "-") == 0) {
        ok = fwrite(text, 1, length, stdout) == length && fflush(stdout) == 0;
    } else {
        AtomicFile out;
        ok = out.Open(file) && out.Write(text, length) && out.Commit(0600);
        error = errno;
    }
    free(text);
    if (!ok) {
        if (strcmp(file, "-") != 0) {
            (void)printf("Error: cannot write the capture %s: %s.\n", file, strerror(error));
        }
        return 1;
    }
    return 0;
}

}  // namespace

int main(int argc, char* argv[]) {
    if (argc == 2 && strcmp(argv[1], "--help") == 0) {
        (void)fputs(kCaptureUsage, stdout);
        return 0;
    }
    if (argc != 2 || argv[1][0] == '\0' || (argv[1][0] == '-' && argv[1][1] != '\0')) {
        (void)fputs(kCaptureUsage, stdout);
        return 1;
    }
    if (geteuid() != 0) {
        (void)printf("Error: tskit-capture must be run as root.\n");
        return 1;
    }
    CaptureRecord record;
    capture_Host(&record);
    return WriteOut(record, argv[1]);
}
