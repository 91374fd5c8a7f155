/*
 * Random "multipath -ll" listings through the line cutters and the listing
 * reader. Every destination is a heap block of exactly the size passed, so a
 * write beyond it is caught; the checks are the cutters' contracts: result 0
 * or -1, a terminated text within the destination, the pieces taken from the
 * line, and a path record left alone when its address does not parse.
 *
 * Input: byte 0 picks how lines are shaped (bit 0: each line repeated past
 * 255 characters, so that the reader takes it in pieces; bit 1: each line cut
 * or padded to exactly 255 characters) and, in bits 2 to 4, a second segment
 * delimiter besides the blank (comma, hyphen, underscore, equals sign or
 * closing bracket); byte 1 the destination size of the segment cutters (1 to
 * 64); the rest is the listing text.
 */
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "discovery/tstopology_discovery.h"
#include "discovery/tstopology_listing.h"
#include "records/tstopology.h"

namespace {

constexpr size_t kLinePiece = 255;  // the reader takes lines in pieces of this many characters
constexpr size_t kMaxPieces = 24;

void Check(bool condition, const char* what) {
    if (!condition) {
        fprintf(stderr, "listing_fuzz: %s\n", what);
        abort();
    }
}

// An exactly sized heap destination.
class Dest {
  public:
    explicit Dest(size_t size) : size_(size), data_(static_cast<char*>(malloc(size))) {
        memset(data_, 'Q', size_);
    }
    ~Dest() { free(data_); }
    Dest(const Dest&) = delete;
    Dest& operator=(const Dest&) = delete;

    char* Get() const { return data_; }
    int Size() const { return static_cast<int>(size_); }
    bool Terminated() const { return memchr(data_, '\0', size_) != nullptr; }

  private:
    size_t size_;
    char* data_;
};

void FreeLists() {
    for (ListHead* link = g_tsvlunlist.next; link != &g_tsvlunlist;) {
        ListHead* next = link->next;
        VlunInfo* vlun = list_entry(link, VlunInfo, stList);
        for (ListHead* p = vlun->stPathList.next; p != &vlun->stPathList;) {
            ListHead* pnext = p->next;
            list_del(p);
            free(list_entry(p, PathInfo, stList));
            p = pnext;
        }
        list_del(link);
        free(vlun);
        link = next;
    }
}

void FuzzSegments(const std::string& line, int size, char extraDelim) {
    for (char delim : {' ', extraDelim}) {
        for (int index = 0; index <= 3; ++index) {
            for (int direction : {1, -1}) {
                Dest dest(static_cast<size_t>(size));
                int result = GetStringSegmentWithInChar(line.c_str(), delim, index, direction,
                                                        dest.Get(), dest.Size());
                Check(result == 0 || result == -1, "segment result");
                if (line.empty()) {
                    Check(result == -1, "segment of an empty line");
                    continue;
                }
                Check(dest.Terminated(), "segment not terminated");
                if (result == 0) {
                    Check(strchr(dest.Get(), delim) == nullptr, "segment holds its delimiter");
                    Check(line.find(dest.Get()) != std::string::npos, "segment not from the line");
                }
            }
        }
    }
    for (const char* pattern : {"sd", "dm-", "size=", "active"}) {
        Dest dest(static_cast<size_t>(size));
        if (GetStringByCompareRegion(line.c_str(), pattern, dest.Get(), dest.Size()) == 0) {
            Check(dest.Terminated(), "word not terminated");
            // A word too long for the destination comes out empty.
            Check(dest.Get()[0] == '\0' || strncmp(dest.Get(), pattern, strlen(pattern)) == 0,
                  "word does not begin with its pattern");
        }
    }
}

void FuzzHeader(const std::string& line) {
    Dest wwn(64);
    if (GetDMwwnStringFromLinebuf(line.c_str(), wwn.Get(), wwn.Size()) == 0) {
        Check(strlen(wwn.Get()) == 32, "WWID of other than 32 characters");
        Check(line.find(wwn.Get()) != std::string::npos, "WWID not from the line");
    }
    Dest vendor(64);
    Dest product(64);
    memset(vendor.Get(), 0, 64);
    memset(product.Get(), 0, 64);
    int result = GetDMvidpidStringFromLinebuf(line.c_str(), vendor.Get(), product.Get(), 64);
    Check(result == 0 || result == -1, "vendor result");
    Check(vendor.Terminated() && product.Terminated(), "vendor or product not terminated");
    Dest dm(64);
    if (GetDMnameStringFromLinebuf(line.c_str(), dm.Get(), dm.Size()) == 0) {
        Check(strncmp(dm.Get(), "dm-", 3) == 0 && strlen(dm.Get()) > 3 &&
                  strspn(dm.Get() + 3, "0123456789") == strlen(dm.Get()) - 3,
              "dm name is not dm- and digits");
    }
    Dest size(16);
    if (GetSizeFromLinebuf(line.c_str(), size.Get(), size.Size()) == 0) {
        Check(size.Terminated(), "size not terminated");
    }
}

// A path record at its defaults, made once.
const PathInfo& PristinePath() {
    static VlunInfo vlun;
    static PathInfo path;
    static bool made = false;
    if (!made) {
        tstopo_InitVlunInfoToDefault(&vlun);
        tstopo_InitPathInfoToDefault(&path, &vlun);
        made = true;
    }
    return path;
}

void FuzzAddress(const std::string& line) {
    for (int form = 0; form < 2; ++form) {
        PathInfo path = PristinePath();
        const PathInfo before = path;
        int result = form == 0 ? GetHTCLFromLinebuf(line.c_str(), &path)
                               : GetHTCLFromLineHCTLBuf(line.c_str(), &path);
        if (result != 0) {
            Check(result == -1, "address result");
            Check(memcmp(&before, &path, sizeof path) == 0, "failed parse changed the path");
            continue;
        }
        char expected[64];
        snprintf(expected, sizeof expected, "%d:%d:%d:%d", path.iHost, path.iChannel, path.iTarget,
                 path.iLun);
        Check(path.iHctlValid == 1 && strcmp(expected, path.acHctl.data()) == 0,
              "address text disagrees with its numbers");
        Check(path.iHost >= 0 && path.iChannel >= 0 && path.iTarget >= 0 && path.iLun >= 0,
              "negative address number");
    }
    if (JudgeDevnameUnsafeStr(line.c_str()) == 0) {
        for (char c : line) {
            Check((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                      strchr("._-:!+", c) != nullptr,
                  "unsafe name accepted");
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) {
        return 0;
    }
    const unsigned shape = data[0];
    const int destSize = 1 + data[1] % 64;
    const std::string text(reinterpret_cast<const char*>(data + 2), size - 2);

    std::vector<std::string> lines;
    std::string listing;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find('\n', start);
        std::string line = text.substr(start, end == std::string::npos ? end : end - start);
        if ((shape & 1U) != 0 && !line.empty()) {
            while (line.size() <= kLinePiece) {
                line += line;
            }
        }
        if ((shape & 2U) != 0) {
            line.resize(kLinePiece, line.empty() ? ' ' : line.back());
        }
        listing += line + "\n";
        // The cutters see what the reader would: pieces of at most 255
        // characters, up to the first NUL.
        for (size_t at = 0; at == 0 || at < line.size(); at += kLinePiece) {
            std::string piece = line.substr(at, kLinePiece);
            lines.push_back(piece.substr(0, strlen(piece.c_str())));
        }
        if (end == std::string::npos) {
            break;
        }
        start = end + 1;
    }

    // The cutters take the first pieces; the reader gets the whole listing.
    if (lines.size() > kMaxPieces) {
        lines.resize(kMaxPieces);
    }
    const char extraDelim = ",-_=],,,"[(shape >> 2) & 7U];
    for (const std::string& line : lines) {
        FuzzSegments(line, destSize, extraDelim);
        FuzzHeader(line);
        FuzzAddress(line);
    }

    for (const char* vlunName : {static_cast<const char*>(nullptr), "dm-0"}) {
        FILE* stream = fmemopen(listing.data(), listing.size(), "r");
        if (stream == nullptr) {
            return 0;
        }
        GetVlunTopologyFromListing(stream, vlunName, vlunName == nullptr ? "sda" : nullptr);
        fclose(stream);
        FreeLists();
    }
    return 0;
}
