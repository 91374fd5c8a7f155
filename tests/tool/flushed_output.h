// Test helper: what a piece of code writes to standard output, as far as it
// flushed it.
#ifndef TESTS_TOOL_FLUSHED_OUTPUT_H
#define TESTS_TOOL_FLUSHED_OUTPUT_H

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <string>

// Runs fn with standard output on a scratch file and returns what reached the
// file. Nothing flushes in between, so a write left in the stream's buffer is
// missing from the result.
template <typename Fn>
std::string Flushed(Fn fn) {
    (void)fflush(stdout);
    FILE* file = tmpfile();
    const int saved = dup(STDOUT_FILENO);
    if (file == nullptr || saved < 0 || dup2(fileno(file), STDOUT_FILENO) < 0) {
        if (saved >= 0) {
            (void)close(saved);
        }
        if (file != nullptr) {
            (void)fclose(file);
        }
        return "<capture failed>";
    }
    fn();
    struct stat st {};
    std::string out = fstat(fileno(file), &st) == 0 ? std::string(st.st_size, '\0') : "";
    if (pread(fileno(file), out.data(), out.size(), 0) != static_cast<ssize_t>(out.size())) {
        out = "<read failed>";
    }
    (void)fflush(stdout);  // leftovers go to the scratch file, not to the test log
    (void)dup2(saved, STDOUT_FILENO);
    (void)close(saved);
    (void)fclose(file);
    return out;
}

#endif  // TESTS_TOOL_FLUSHED_OUTPUT_H
