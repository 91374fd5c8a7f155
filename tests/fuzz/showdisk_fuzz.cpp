/*
 * Random "multipath -ll" listings through ts_showdisk's listing reader
 * (parse_multipath_line, fed line by line as the program reads its command:
 * fgets into a 256-byte buffer, so a longer line arrives in pieces of 255
 * characters, one trailing newline stripped) and through get_str_by_reg.
 *
 * get_str_by_reg is checked against its contract: 0 exactly when the pattern
 * occurs in a non-empty line, the token (pattern up to a blank, ']' or the
 * end) copied whole into a zero-filled destination when it fits in size - 1
 * bytes, the destination left empty otherwise, and never a byte written past
 * the destination (exactly sized heap blocks).
 *
 * The reader is checked line by line: at most one record appears per line; a
 * LUN only from a line holding "dm-" and a vendor name, named /dev/ and a
 * dm-N word of the line, with the vendor the line names first by the rule
 * (QELMAR if present, else ZUNTA) and no paths; a path only from a line
 * without "dm-" holding an "sd" token, under the current LUN, named /dev/ and
 * that token, with the LUN's vendor, the state "failed" or the "active" token,
 * and a host number of digits only; every field terminated in its array.
 *
 * Input: byte 0 picks how lines are shaped (bit 0: each line repeated past
 * 255 characters; bit 1: each line cut or padded to exactly 255 characters);
 * byte 1 the destination size of the direct get_str_by_reg calls (0 to 71);
 * the rest is the listing text.
 */
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <string>

#include "luninfo_linux.h"

namespace {

constexpr size_t kLineBuffer = 256;  // the program's fgets buffer
constexpr size_t kMaxLines = 64;

void Check(bool condition, const char* what) {
    if (!condition) {
        fprintf(stderr, "showdisk_fuzz: %s\n", what);
        abort();
    }
}

bool Terminated(const char* field, size_t size) {
    return memchr(field, '\0', size) != nullptr;
}

// The token of the rule: from the first occurrence of the pattern up to the
// first blank, ']' or the end of the line; empty when the pattern is absent.
std::string TokenOf(const std::string& line, const char* pattern) {
    size_t at = line.find(pattern);
    if (at == std::string::npos) {
        return std::string();
    }
    size_t end = line.find_first_of(" ]", at);
    return line.substr(at, end == std::string::npos ? std::string::npos : end - at);
}

void FuzzStrByReg(const std::string& line, size_t size) {
    const std::string digitsPattern = line.size() > 2 ? line.substr(1, 2) : std::string("x");
    const char* patterns[] = {"dm-", "sd", "size=", "active", "]", digitsPattern.c_str()};
    for (const char* pattern : patterns) {
        if (pattern[0] == '\0') {
            continue;
        }
        const bool occurs = !line.empty() && line.find(pattern) != std::string::npos;
        // An exactly sized, zero-filled heap destination (the callers zero it).
        char* dest = static_cast<char*>(calloc(size == 0 ? 1 : size, 1));
        int result = get_str_by_reg(line.c_str(), pattern, size == 0 ? nullptr : dest, size);
        Check(result == (occurs ? 0 : -1), "get_str_by_reg result disagrees with the occurrence");
        if (size > 0) {
            Check(Terminated(dest, size), "get_str_by_reg token not terminated");
            if (!occurs) {
                Check(dest[0] == '\0', "get_str_by_reg wrote without an occurrence");
            } else {
                const std::string token = TokenOf(line, pattern);
                if (token.size() <= size - 1) {
                    Check(token == dest, "get_str_by_reg token is not the pattern's word");
                } else {
                    Check(dest[0] == '\0', "get_str_by_reg overlong token not left empty");
                }
            }
        }
        free(dest);
        // A destination full of other bytes: only the bound is checked here.
        if (size > 0) {
            char* dirty = static_cast<char*>(malloc(size));
            memset(dirty, 'Q', size);
            (void)get_str_by_reg(line.c_str(), pattern, dirty, size);
            free(dirty);
        }
    }
    Check(get_str_by_reg(nullptr, "sd", nullptr, 0) == -1, "absent line accepted");
    Check(get_str_by_reg("", "sd", nullptr, 0) == -1, "empty line accepted");
}

size_t CountOf(list_head* head) {
    size_t count = 0;
    for (list_head* l = head->next; l != head; l = l->next) {
        ++count;
    }
    return count;
}

bool AllDigits(const char* text) {
    return strspn(text, "0123456789") == strlen(text);
}

void CheckFields(const LunInfo* r) {
    Check(Terminated(r->dev_name, sizeof r->dev_name) &&
              Terminated(r->lun_name, sizeof r->lun_name) && Terminated(r->wwn, sizeof r->wwn) &&
              Terminated(r->capacity, sizeof r->capacity) &&
              Terminated(r->vendor, sizeof r->vendor) &&
              Terminated(r->host_lun_id, sizeof r->host_lun_id) &&
              Terminated(r->ctrl, sizeof r->ctrl) &&
              Terminated(r->path_status, sizeof r->path_status) &&
              Terminated(r->host_no, sizeof r->host_no) &&
              Terminated(r->array_name, sizeof r->array_name) &&
              Terminated(r->port_type, sizeof r->port_type),
          "a record field is not terminated");
}

void ReadListing(const std::string& listing) {
    FILE* stream = fmemopen(const_cast<char*>(listing.data()), listing.size(), "r");
    if (stream == nullptr) {
        return;
    }
    char buffer[kLineBuffer];
    int vendorMap = 0;
    LunInfo* current = nullptr;
    size_t lines = 0;
    while (lines < kMaxLines && fgets(buffer, sizeof buffer, stream) != nullptr) {
        ++lines;
        size_t len = strlen(buffer);
        if (len > 0 && buffer[len - 1] == '\n') {
            buffer[len - 1] = '\0';
        }
        const std::string line(buffer);
        const size_t lunsBefore = CountOf(&g_lunlist);
        LunInfo* const currentBefore = current;
        const size_t pathsBefore = current != nullptr ? CountOf(&current->paths) : 0;
        const std::string capacityBefore = current != nullptr ? current->capacity : "";

        Check(parse_multipath_line(buffer, &vendorMap, &current) == 0, "reader result");
        Check(line == buffer, "reader changed its line");

        const bool hasDm = !line.empty() && line.find("dm-") != std::string::npos;
        const bool hasVendor =
            line.find("QELMAR") != std::string::npos || line.find("ZUNTA") != std::string::npos;
        const size_t lunsAfter = CountOf(&g_lunlist);
        Check(lunsAfter == lunsBefore || lunsAfter == lunsBefore + 1, "more than one LUN a line");
        if (lunsAfter == lunsBefore + 1) {
            Check(hasDm && hasVendor, "a LUN from a line without dm- and a vendor");
            LunInfo* lun = lun_of(g_lunlist.prev);
            Check(current == lun && vendorMap != 0, "new LUN is not the current one");
            CheckFields(lun);
            const char* name = lun->dev_name;
            Check(strncmp(name, "/dev/dm-", 8) == 0, "LUN name is not /dev/dm-...");
            Check(line.find(name + 5) != std::string::npos, "LUN name not from the line");
            const char* vendor = line.find("QELMAR") != std::string::npos ? "QELMAR" : "ZUNTA";
            Check(strcmp(lun->vendor, vendor) == 0, "LUN vendor");
            Check(list_empty(&lun->paths) != 0, "new LUN has paths");
            Check(lun->capacity[0] == '\0' && lun->host_no[0] == '\0', "new LUN has values");
            continue;
        }
        if (hasDm) {
            Check(vendorMap == 0 || current == currentBefore, "header changed the LUN");
            if (!hasVendor) {
                Check(vendorMap == 0, "a header of another vendor kept the flag");
            }
            if (currentBefore != nullptr) {
                Check(CountOf(&currentBefore->paths) == pathsBefore, "header added a path");
            }
            continue;
        }
        Check(current == currentBefore, "a non-header line changed the current LUN");
        if (current == nullptr) {
            continue;
        }
        const size_t pathsAfter = CountOf(&current->paths);
        Check(pathsAfter == pathsBefore || pathsAfter == pathsBefore + 1,
              "more than one path a line");
        const bool hasSd = line.find("sd") != std::string::npos;
        if (pathsAfter == pathsBefore + 1) {
            Check(hasSd && vendorMap != 0, "a path from a line without sd or outside a vendor map");
            LunInfo* path = lun_of(current->paths.prev);
            CheckFields(path);
            const std::string token = TokenOf(line, "sd");
            Check(token.size() <= 63 && std::string("/dev/") + token == path->dev_name,
                  "path name is not /dev/ and the sd token");
            Check(strcmp(path->vendor, current->vendor) == 0, "path vendor is not the LUN's");
            Check(AllDigits(path->host_no), "host number not digits");
            const size_t digitAt = line.find_first_of("0123456789");
            if (digitAt == std::string::npos) {
                Check(path->host_no[0] == '\0', "host number without a digit in the line");
            } else {
                std::string run =
                    line.substr(digitAt, line.find_first_not_of("0123456789", digitAt) - digitAt);
                run.erase(0, run.find_first_not_of('0'));
                if (run.empty()) {
                    run = "0";
                }
                if (run.size() <= 7) {
                    Check(run == path->host_no, "host number is not the first digit run");
                }
            }
            if (access(path->dev_name, F_OK) != 0) {
                const std::string active = TokenOf(line, "active");
                if (line.find("active") == std::string::npos) {
                    Check(strcmp(path->path_status, "failed") == 0, "no active, not failed");
                } else if (active.size() <= 7) {
                    Check(active == path->path_status, "path state is not the active token");
                } else {
                    Check(path->path_status[0] == '\0', "overlong active token not left empty");
                }
            }
            Check(capacityBefore == current->capacity, "a path line changed the capacity");
            continue;
        }
        Check(list_empty(&current->paths) != 0 || pathsAfter == pathsBefore, "paths lost");
        if (hasSd) {
            Check(capacityBefore == current->capacity, "an sd line changed the capacity");
            continue;
        }
        const std::string sizeToken = TokenOf(line, "size=");
        if (vendorMap != 0 && !sizeToken.empty() && sizeToken.size() <= 63) {
            Check(sizeToken.substr(sizeToken.find('=') + 1) == current->capacity,
                  "capacity is not the size token behind its =");
        } else if (sizeToken.empty() || vendorMap == 0) {
            Check(capacityBefore == current->capacity, "capacity changed without a size line");
        }
        Check(Terminated(current->capacity, sizeof current->capacity), "capacity not terminated");
    }
    fclose(stream);
    free_lunlist();
    Check(list_empty(&g_lunlist) != 0, "list not empty after free_lunlist");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) {
        return 0;
    }
    const unsigned shape = data[0];
    const size_t destSize = data[1] % 72;
    const std::string text(reinterpret_cast<const char*>(data + 2), size - 2);

    std::string listing;
    size_t start = 0;
    size_t lines = 0;
    while (start <= text.size() && lines < kMaxLines) {
        size_t end = text.find('\n', start);
        std::string line = text.substr(start, end == std::string::npos ? end : end - start);
        if ((shape & 1U) != 0 && !line.empty()) {
            while (line.size() <= kLineBuffer - 1) {
                line += line;
            }
        }
        if ((shape & 2U) != 0) {
            line.resize(kLineBuffer - 1, line.empty() ? ' ' : line.back());
        }
        listing += line + "\n";
        // get_str_by_reg sees what the reader would: up to the first NUL.
        FuzzStrByReg(line.substr(0, strlen(line.c_str())), destSize);
        ++lines;
        if (end == std::string::npos) {
            break;
        }
        start = end + 1;
    }
    FuzzStrByReg(text.substr(0, strlen(text.c_str())), destSize);
    ReadListing(listing);
    return 0;
}
