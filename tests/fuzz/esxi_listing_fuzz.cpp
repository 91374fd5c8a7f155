/*
 * Random ESXi listings through ts_showdisk's two readers, fed as the program
 * reads its commands: fgets into one reused 256-byte buffer (a longer line
 * arrives in pieces of 255 characters), one trailing newline stripped. The
 * path listing (esxcfg-mpath -l) goes line by line to path_list_line; when
 * it is read without failure, the device listing (esxcfg-scsidevs -l) goes
 * to lun_list_line. A -1 from either reader ends its listing, as it ends the
 * program's read; both lists are freed at the end.
 *
 * Input: the bytes before the first NUL are the path listing, the bytes
 * after it the device listing; without a NUL the same text is both. An
 * input of even length reads the device listing with the path index built,
 * as the program does; an odd one with the path list walked.
 *
 * Checked line by line against the readers' rules:
 * - a value is what follows the character behind the line's first colon
 *   (empty without a colon or with the colon last), cut to the field's limit
 *   (runtime name and device 63, state 7, transport 31, capacity 63);
 * - a line holding "Runtime" appends exactly one entry; host_no is empty for
 *   a runtime name of 5 characters or less, else the decimal number that
 *   starts 5 characters in (0 for a non-digit there);
 * - a "Device:", "State:" or "Transport:" line sets that field of the
 *   current entry only, and fails (-1, nothing added) before any entry;
 * - a line holding "naa" appends one LUN named by the whole line, carrying
 *   one path record per entry whose device is the whole name, in listing
 *   order, with the entry's runtime name, state, host_no and transport;
 * - a "Size:" line sets the capacity of the current LUN only, and fails
 *   before any LUN;
 * - any other line changes nothing.
 * At the end the column widths are measured on path rows only: every width
 * 0 when no LUN has a path, else the larger of its minimum and its longest
 * path-row cell.
 */
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "luninfo_esxi.h"
#include "luntable.h"

namespace {

constexpr size_t kLineBuffer = 256;  // the program's fgets buffer
constexpr size_t kMaxLines = 128;

void Check(bool condition, const char* what) {
    if (!condition) {
        fprintf(stderr, "esxi_listing_fuzz: %s\n", what);
        abort();
    }
}

bool Has(const std::string& line, const char* pattern) {
    return !line.empty() && line.find(pattern) != std::string::npos;
}

bool Terminated(const char* field, size_t size) {
    return memchr(field, '\0', size) != nullptr;
}

// The value of a line by the rule, cut to limit characters.
std::string ValueOf(const std::string& line, size_t limit) {
    const size_t colon = line.find(':');
    if (colon == std::string::npos || colon + 1 >= line.size()) {
        return std::string();
    }
    return line.substr(colon + 2, limit);
}

// host_no of a runtime name; sets *exact when the number fits the field.
std::string HostNoOf(const std::string& name, bool* exact) {
    *exact = true;
    if (name.size() <= 5) {
        return std::string();
    }
    const size_t end = name.find_first_not_of("0123456789", 5);
    std::string digits = name.substr(5, end == std::string::npos ? std::string::npos : end - 5);
    digits.erase(0, digits.find_first_not_of('0'));
    if (digits.empty()) {
        return "0";
    }
    *exact = digits.size() <= 7;
    return digits;
}

std::vector<PathListEntry*> Entries() {
    std::vector<PathListEntry*> out;
    for (list_head* l = g_pathlist.next; l != &g_pathlist; l = l->next) {
        out.push_back(path_entry_of(l));
    }
    return out;
}

std::vector<LunInfo*> Records(list_head* head) {
    std::vector<LunInfo*> out;
    for (list_head* l = head->next; l != head; l = l->next) {
        out.push_back(lun_of(l));
    }
    return out;
}

struct EntryText {
    std::string runtime_name, device, state, host_no, transport;
};

EntryText TextOf(const PathListEntry* e) {
    Check(Terminated(e->runtime_name, sizeof e->runtime_name) &&
              Terminated(e->device, sizeof e->device) && Terminated(e->state, sizeof e->state) &&
              Terminated(e->host_no, sizeof e->host_no) &&
              Terminated(e->transport, sizeof e->transport),
          "an entry field is not terminated");
    return {e->runtime_name, e->device, e->state, e->host_no, e->transport};
}

bool Same(const EntryText& a, const EntryText& b) {
    return a.runtime_name == b.runtime_name && a.device == b.device && a.state == b.state &&
           a.host_no == b.host_no && a.transport == b.transport;
}

// Feeds a listing through fgets into one buffer; per_line returns false to
// stop. False when the listing was stopped.
template <typename PerLine>
bool ReadLines(const std::string& text, PerLine per_line) {
    if (text.empty()) {
        return true;
    }
    FILE* stream = fmemopen(const_cast<char*>(text.data()), text.size(), "r");
    if (stream == nullptr) {
        return true;
    }
    char buffer[kLineBuffer];
    memset(buffer, 0, sizeof buffer);
    bool completed = true;
    size_t lines = 0;
    while (lines < kMaxLines && fgets(buffer, sizeof buffer, stream) != nullptr) {
        ++lines;
        const size_t len = strlen(buffer);
        if (len > 0 && buffer[len - 1] == '\n') {
            buffer[len - 1] = '\0';
        }
        if (!per_line(buffer)) {
            completed = false;
            break;
        }
    }
    fclose(stream);
    return completed;
}

bool PathLine(const char* buffer, PathListEntry** current) {
    const std::string line(buffer);
    std::vector<PathListEntry*> before = Entries();
    const EntryText currentBefore = *current != nullptr ? TextOf(*current) : EntryText();

    const int result = path_list_line(buffer, current);
    Check(line == buffer, "the reader changed its line");

    std::vector<PathListEntry*> after = Entries();
    if (Has(line, "Runtime")) {
        Check(result == 0, "a Runtime line failed");
        Check(after.size() == before.size() + 1, "a Runtime line did not add one entry");
        PathListEntry* entry = after.back();
        Check(*current == entry, "the new entry is not the current one");
        const EntryText t = TextOf(entry);
        Check(t.runtime_name == ValueOf(line, 63), "runtime name is not the line's value");
        Check(t.device.empty() && t.state.empty() && t.transport.empty(), "new entry has values");
        bool exact = true;
        const std::string host = HostNoOf(t.runtime_name, &exact);
        Check(t.host_no.find_first_not_of("0123456789") == std::string::npos,
              "host_no is not digits");
        if (exact) {
            Check(t.host_no == host, "host_no is not the number 5 characters in");
        }
        return true;
    }
    struct Label {
        const char* label;
        size_t limit;
        std::string EntryText::*field;
    };
    static const Label kLabels[] = {{"Device:", 63, &EntryText::device},
                                    {"State:", 7, &EntryText::state},
                                    {"Transport:", 31, &EntryText::transport}};
    Check(after.size() == before.size(), "an entry added by a line without Runtime");
    for (const Label& l : kLabels) {
        if (!Has(line, l.label)) {
            continue;
        }
        if (before.empty()) {
            Check(result == -1 && *current == nullptr, "a value line before any entry accepted");
            return false;
        }
        Check(result == 0, "a value line of an entry failed");
        EntryText expected = currentBefore;
        expected.*l.field = ValueOf(line, l.limit);
        Check(Same(TextOf(*current), expected), "a value line set the wrong field or value");
        return true;
    }
    Check(result == 0, "an other line failed");
    if (*current != nullptr) {
        Check(Same(TextOf(*current), currentBefore), "an other line changed the entry");
    }
    return true;
}

bool LunLine(const char* buffer, LunInfo** current) {
    const std::string line(buffer);
    const size_t lunsBefore = Records(&g_lunlist).size();
    const std::string capacityBefore = *current != nullptr ? (*current)->capacity : "";

    const int result = lun_list_line(buffer, current);
    Check(line == buffer, "the reader changed its line");

    std::vector<LunInfo*> luns = Records(&g_lunlist);
    if (Has(line, "naa")) {
        Check(result == 0 && luns.size() == lunsBefore + 1, "a naa line did not add one LUN");
        LunInfo* lun = luns.back();
        Check(*current == lun, "the new LUN is not the current one");
        Check(line == lun->dev_name, "LUN name is not the whole line");
        Check(lun->capacity[0] == '\0' && lun->host_no[0] == '\0' && lun->path_status[0] == '\0' &&
                  lun->port_type[0] == '\0',
              "new LUN has values");
        std::vector<LunInfo*> paths = Records(&lun->paths);
        size_t at = 0;
        for (PathListEntry* e : Entries()) {
            if (line != e->device) {
                continue;
            }
            Check(at < paths.size(), "a matching entry has no path record");
            const LunInfo* p = paths[at++];
            Check(strcmp(p->dev_name, e->runtime_name) == 0 &&
                      strcmp(p->path_status, e->state) == 0 &&
                      strcmp(p->host_no, e->host_no) == 0 &&
                      strcmp(p->port_type, e->transport) == 0,
                  "path record is not its entry");
            Check(p->lun_name[0] == '\0' && p->wwn[0] == '\0' && p->capacity[0] == '\0' &&
                      p->vendor[0] == '\0' && list_empty(&p->paths) != 0,
                  "path record carries more than its entry");
        }
        Check(at == paths.size(), "a path record without a matching entry");
        return true;
    }
    Check(luns.size() == lunsBefore, "a LUN added by a line without naa");
    if (Has(line, "Size:")) {
        if (lunsBefore == 0) {
            Check(result == -1 && *current == nullptr, "a Size line before any LUN accepted");
            return false;
        }
        Check(result == 0, "a Size line of a LUN failed");
        Check(Terminated((*current)->capacity, sizeof(*current)->capacity) &&
                  ValueOf(line, 63) == (*current)->capacity,
              "capacity is not the line's value");
        return true;
    }
    Check(result == 0, "an other line failed");
    if (*current != nullptr) {
        Check(capacityBefore == (*current)->capacity, "an other line changed the capacity");
    }
    return true;
}

// Widths from path rows only; all zero when no LUN has a path.
void CheckWidths() {
    unsigned int* const windows[12] = {
        &g_uiVdiskNameWindow,  &g_uiLunNameWindow,   &g_uiWWNWindow,       &g_uiPathWindow,
        &g_uiPathStatusWindow, &g_uiHostnoWindow,    &g_uiCapacityWindow,  &g_uiVendorWindow,
        &g_uiCtrlWindow,       &g_uiHostLunIDWindow, &g_uiArrayNameWindow, &g_uiPortTypeWindow};
    const size_t minimum[12] = {8, 7, 24, 8, 10, 11, 8, 6, 14, 9, 9, 8};
    size_t expected[12] = {0};
    bool rows = false;
    for (LunInfo* lun : Records(&g_lunlist)) {
        for (LunInfo* p : Records(&lun->paths)) {
            const char* cells[12] = {lun->dev_name,    lun->lun_name,   lun->wwn,
                                     p->dev_name,      p->path_status,  p->host_no,
                                     lun->capacity,    lun->vendor,     lun->ctrl,
                                     lun->host_lun_id, lun->array_name, p->port_type};
            rows = true;
            for (int i = 0; i < 12; ++i) {
                const size_t len = strlen(cells[i]);
                expected[i] = expected[i] > len ? expected[i] : len;
            }
        }
    }
    reset_windows();
    calc_window_len(&g_lunlist);
    for (int i = 0; i < 12; ++i) {
        const size_t want = rows ? (expected[i] > minimum[i] ? expected[i] : minimum[i]) : 0;
        Check(*windows[i] == want, "a column width is not its longest path-row cell");
    }
    reset_windows();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    const size_t nul = input.find('\0');
    const std::string pathText = nul == std::string::npos ? input : input.substr(0, nul);
    const std::string lunText = nul == std::string::npos ? input : input.substr(nul + 1);

    INIT_LIST_HEAD(&g_pathlist);
    INIT_LIST_HEAD(&g_lunlist);
    PathListEntry* path = nullptr;
    const bool paths =
        ReadLines(pathText, [&path](const char* line) { return PathLine(line, &path); });
    if (paths) {
        if (size % 2 == 0) {
            index_path_list();
        }
        LunInfo* lun = nullptr;
        (void)ReadLines(lunText, [&lun](const char* line) { return LunLine(line, &lun); });
        drop_path_index();
        CheckWidths();
    }
    free_lunlist();
    free_pathlist();
    Check(list_empty(&g_lunlist) != 0 && list_empty(&g_pathlist) != 0, "lists not empty");
    return 0;
}
