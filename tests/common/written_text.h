// Test helper: what a writer puts on a stream, read back from memory.
#ifndef TESTS_COMMON_WRITTEN_TEXT_H
#define TESTS_COMMON_WRITTEN_TEXT_H

#include <gtest/gtest.h>

#include <stdio.h>
#include <stdlib.h>

#include <string>

// Calls write with a memory stream and returns what it wrote.
template <typename Write>
std::string Written(Write write) {
    char* buffer = nullptr;
    size_t size = 0;
    FILE* out = open_memstream(&buffer, &size);
    if (out == nullptr) {
        ADD_FAILURE() << "open_memstream failed";
        return "";
    }
    write(out);
    (void)fclose(out);
    std::string text(buffer, size);
    free(buffer);
    return text;
}

#endif  // TESTS_COMMON_WRITTEN_TEXT_H
