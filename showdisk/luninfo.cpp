// ts_showdisk: lists every LUN of the vendor's arrays with its attributes in
// one twelve-column table. Linux build: LUNs from `multipath -ll`, with a
// /sys/block fallback. ESXi build (TS_SHOWDISK_ESXI): paths from
// `esxcfg-mpath -l`, LUNs from `esxcfg-scsidevs -l`, nodes under /dev/disks.
// Both share the record, the queries, the printer and the run sequence.
#include "luninfo.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <scsi/sg.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/stat.h>

#include <iterator>
#include <numeric>

#include "../common/terminal_text.h"
#include "../common/unique_dir.h"
#include "../common/unique_fd.h"
#include "../common/unique_pipe.h"
#include "boundedfunc.h"

list_head g_lunlist = {&g_lunlist, &g_lunlist};
int g_isdm = 0;
int g_level = 99;

unsigned int g_uiVdiskNameWindow = 0;
unsigned int g_uiLunNameWindow = 0;
unsigned int g_uiWWNWindow = 0;
unsigned int g_uiPathWindow = 0;
unsigned int g_uiPathStatusWindow = 0;
unsigned int g_uiHostnoWindow = 0;
unsigned int g_uiCapacityWindow = 0;
unsigned int g_uiVendorWindow = 0;
unsigned int g_uiCtrlWindow = 0;
unsigned int g_uiHostLunIDWindow = 0;
unsigned int g_uiArrayNameWindow = 0;
unsigned int g_uiPortTypeWindow = 0;
unsigned int g_uiTotalWindow = 0;

namespace {

[[maybe_unused]] const char* const kVersion = "1.0.0";  // printed by main only
const int kSenseLen = 32;
// Milliseconds, as SG_IO counts them.
const unsigned int kSgTimeout = 30;
const int kTurAttempts = 5;
// Host statuses after which the sense data decides (0, 1, 4, 5, 15).
const unsigned int kSenseDecidesMask = 0x8033;
const int kUnitAttention = 6;

#ifndef TS_SHOWDISK_ESXI
const int filter_size = 5;
const char filter_str[filter_size][4] = {"&&", "||", "&", "|", ";"};
#endif

// Block device path and sysfs buffers.
const size_t kPathLen = 256;
const size_t kLineLen = 256;
[[maybe_unused]] const size_t kTokenLen = 64;  // the Linux listing reader's

void ts_log(int threshold, const char* format, ...) BOUNDED_PRINTF(2, 3);
void ts_log(int threshold, const char* format, ...) {
    if (g_level > threshold) {
        return;
    }
    va_list args;
    va_start(args, format);
    (void)vprintf(format, args);
    va_end(args);
    (void)fflush(stdout);
}

void out(const char* text) {
    (void)fputs(text, stdout);
    (void)fflush(stdout);
}

void strip_newline(char* line) {
    size_t len = strlen(line);
    if (len > 0 && line[len - 1] == '\n') {
        line[len - 1] = '\0';
    }
}

void set_dashes(char* field, size_t size) {
    (void)strncpy_s(field, size, "--", 2);
}

// A query's failure report; the ESXi build names the query and the line
// that reports.
#ifdef TS_SHOWDISK_ESXI
#define QUERY_FAILED(who, text) ts_log(0, "[%s: %d] %s", (who), __LINE__, (text))
const char* const kInquiryIoctlFailed = "tur ioctl(SG_IO) failed: %s (errno=%d)\n";
#else
#define QUERY_FAILED(who, text) ((void)(who), ts_log(0, "%s", (text)))
const char* const kInquiryIoctlFailed = "ioctl(SG_IO) failed: %s (errno=%d)\n";
#endif
const char* const kTurIoctlFailed = "ioctl(SG_IO) failed: %s (errno=%d)\n";

bool send_sg(int fd, sg_io_hdr_t* hdr, const char* failure) {
    if (ioctl(fd, SG_IO, hdr) < 0) {
        int err = errno;
        ts_log(3, failure, strerror(err), err);
        return false;
    }
    return true;
}

void fill_header(sg_io_hdr_t* hdr, unsigned char* cdb, unsigned char* sense, void* data,
                 unsigned int len) {
    hdr->interface_id = 'S';
    hdr->dxfer_direction = SG_DXFER_FROM_DEV;
    hdr->cmd_len = 6;
    hdr->mx_sb_len = kSenseLen;
    hdr->sbp = sense;
    hdr->dxfer_len = len;
    hdr->dxferp = data;
    hdr->cmdp = cdb;
    hdr->timeout = kSgTimeout;
    hdr->pack_id = 0;
}

int sense_key_of(const sg_io_hdr_t& hdr, const unsigned char* sense) {
    if (hdr.sb_len_wr > 3 && (sense[0] == 0x72 || sense[0] == 0x73)) {
        return sense[1] & 0x0F;
    }
    if (hdr.sb_len_wr > 13 && ((sense[0] & 0x7F) == 0x70 || (sense[0] & 0x7F) == 0x71)) {
        return sense[2] & 0x0F;
    }
    return 0;
}

// TEST UNIT READY ahead of a query; who is the query.
bool tur_ok(int fd, const char* who) {
    if (do_tur(fd) != 0) {
        QUERY_FAILED(who, "send tur failed.\n");
        return false;
    }
    return true;
}

// TEST UNIT READY, then the INQUIRY of one page; the failure text of the
// INQUIRY is the caller's.
bool query_page(int fd, int evpd, int page, unsigned char* buf, int len, const char* failure,
                const char* who) {
    if (!tur_ok(fd, who)) {
        return false;
    }
    if (do_inquiry(fd, evpd, page, buf, len) != 0) {
        QUERY_FAILED(who, failure);
        return false;
    }
    return true;
}

#ifndef TS_SHOWDISK_ESXI
bool is_vendor_id(const char* vid) {
    return strncmp(vid, "QELMAR", 6) == 0 || strncmp(vid, "ZUNTA", 5) == 0;
}
#endif

#ifndef TS_SHOWDISK_ESXI
// First line of a shell command's output, newline stripped; false when the
// command cannot be started or prints nothing.
bool first_line_of(const char* command, char* line, size_t size) {
    UniquePipe pipe(popen(command, "r"));
    if (!pipe.Valid()) {
        ts_log(3, "popen failed\n");
        return false;
    }
    if (fgets(line, static_cast<int>(size), pipe.Get()) == nullptr) {
        return false;
    }
    strip_newline(line);
    return true;
}
#endif

}  // namespace

// ---- list ----

void INIT_LIST_HEAD(list_head* head) {
    head->prev = head;
    head->next = head;
}

void list_add_tail(list_head* entry, list_head* head) {
    entry->prev = head->prev;
    entry->next = head;
    head->prev->next = entry;
    head->prev = entry;
}

void list_del(list_head* entry) {
    entry->prev->next = entry->next;
    entry->next->prev = entry->prev;
    entry->prev = entry;
    entry->next = entry;
}

int list_empty(const list_head* head) {
    return head->next == head ? 1 : 0;
}

LunInfo* lun_of(list_head* link) {
    return reinterpret_cast<LunInfo*>(reinterpret_cast<char*>(link) - offsetof(LunInfo, node));
}

// ---- SCSI senders ----

int do_tur(int fd) {
    int attempts = kTurAttempts;
    for (;;) {
        sg_io_hdr_t hdr;
        unsigned char cdb[6];
        unsigned char sense[kSenseLen];
        (void)memset_s(&hdr, sizeof(hdr), 0, sizeof(hdr));
        (void)memset_s(cdb, sizeof(cdb), 0, sizeof(cdb));
        (void)memset_s(sense, sizeof(sense), 0, sizeof(sense));
        fill_header(&hdr, cdb, sense, nullptr, 0);
        hdr.dxfer_direction = SG_DXFER_FROM_DEV;
        if (!send_sg(fd, &hdr, kTurIoctlFailed)) {
            return -1;
        }
        if ((hdr.info & SG_INFO_OK_MASK) == 0) {
            return 0;
        }
        bool sense_decides =
            hdr.host_status <= 15 && ((kSenseDecidesMask >> hdr.host_status) & 1U) != 0;
        if (!sense_decides) {
            --attempts;
            if (attempts > 0) {
                continue;
            }
        }
        if (sense_key_of(hdr, sense) == kUnitAttention) {
            --attempts;
            if (attempts > 0) {
                continue;
            }
        }
        return -1;
    }
}

int do_inquiry(int fd, int evpd, int page, unsigned char* buf, int len) {
    if (buf == nullptr || len <= 0) {
        return -1;
    }
    (void)memset_s(buf, static_cast<size_t>(len), 0, static_cast<size_t>(len));
    sg_io_hdr_t hdr;
    unsigned char cdb[6];
    unsigned char sense[kSenseLen];
    (void)memset_s(&hdr, sizeof(hdr), 0, sizeof(hdr));
    (void)memset_s(cdb, sizeof(cdb), 0, sizeof(cdb));
    (void)memset_s(sense, sizeof(sense), 0, sizeof(sense));
    cdb[0] = 0x12;
    cdb[1] = static_cast<unsigned char>(evpd);
    cdb[2] = static_cast<unsigned char>(page);
    cdb[3] = static_cast<unsigned char>((len >> 8) & 0xFF);
    cdb[4] = static_cast<unsigned char>(len & 0xFF);
    fill_header(&hdr, cdb, sense, buf, static_cast<unsigned int>(len));
    if (!send_sg(fd, &hdr, kInquiryIoctlFailed)) {
        return -1;
    }
    if (hdr.status == 0 && hdr.host_status == 0 && hdr.driver_status == 0) {
        return 0;
    }
    ts_log(3, "inqury page 0x%x failed.status:%d, host_status:%d, driver_status:%d\n",
           static_cast<unsigned int>(page), hdr.status, hdr.host_status, hdr.driver_status);
    return -1;
}

// ---- attribute queries ----

int get_vid(int fd, char* dest, size_t size) {
    unsigned char buf[36];
    if (!query_page(fd, 0, 0, buf, sizeof(buf), "get vendor failed\n", __func__)) {
        return -1;
    }
    if (memcpy_s(dest, size, buf + 8, 8) != BOUNDED_OK) {
        return 0;
    }
    for (size_t i = 0; i < 8; ++i) {
        if (dest[i] == ' ') {
            dest[i] = '\0';
        }
    }
    return 0;
}

int get_wwn(int fd, char* dest, size_t size) {
    unsigned char buf[24];
    if (!query_page(fd, 1, 0x83, buf, sizeof(buf), "get wwn failed.\n", __func__)) {
        return -1;
    }
    binary_to_ascii(buf, 8, 16, dest, size);
    return 0;
}

int get_interface_version(int fd, char* dest, size_t size) {
    unsigned char buf[700];
    if (!query_page(fd, 1, 0xC0, buf, sizeof(buf), "get interface version failed.\n", __func__)) {
        return -1;
    }
    (void)memcpy_s(dest, size, buf + 183, 4);
    return 0;
}

#ifndef TS_SHOWDISK_ESXI
int get_port_type(int fd, char* dest, size_t size) {
    unsigned char buf[700];
    if (!query_page(fd, 1, 0xC0, buf, sizeof(buf), "get port type failed.\n", __func__)) {
        return -1;
    }
    const char* text = "--";
    switch (buf[191]) {
        case 1:
            text = "FC";
            break;
        case 2:
            text = "SAS";
            break;
        case 3:
            text = "iSCSI";
            break;
        case 4:
            text = "FCoE";
            break;
        case 5:
            text = "IB";
            break;
        default:
            break;
    }
    (void)sprintf_s(dest, size, "%s", text);
    return 0;
}
#endif

int get_lun_name(int fd, char* dest, size_t size) {
    unsigned char buf[196];
    if (!query_page(fd, 1, 0xC8, buf, sizeof(buf), "get lun name failed\n", __func__)) {
        return -1;
    }
    (void)memcpy_s(dest, size, buf + 29, 40);
    return 0;
}

int get_host_lunID(int fd, char* dest, size_t size) {
    unsigned char buf[196];
    if (!query_page(fd, 1, 0xC8, buf, sizeof(buf), "get host lun id failed\n", __func__)) {
        return -1;
    }
    unsigned int id =
        (static_cast<unsigned int>(buf[85]) << 24) | (static_cast<unsigned int>(buf[86]) << 16) |
        (static_cast<unsigned int>(buf[87]) << 8) | static_cast<unsigned int>(buf[88]);
    (void)sprintf_s(dest, size, "%u", id);
    return 0;
}

// The name is never read beyond the 80-byte scratch area: a length byte above
// 80 gives an empty name (deliberate: the length byte is the device's word).
void array_name_from_page(const unsigned char* page, char* dest, size_t size) {
    const size_t kScratch = 80;
    unsigned char scratch[kScratch];
    (void)memset_s(scratch, sizeof(scratch), 0, sizeof(scratch));
    size_t len = page[106];
    if (memcpy_s(scratch, sizeof(scratch), page + 107, len) != BOUNDED_OK) {
        (void)memset_s(scratch, sizeof(scratch), 0, sizeof(scratch));
    }
    if (len > kScratch) {
        len = kScratch;
    }
    size_t stored = 0;
    for (size_t i = 0; i < len && size > 0 && stored < size - 1; ++i) {
        if (scratch[i] != 0) {
            (void)memcpy_s(dest + stored, size - stored, &scratch[i], 1);
            ++stored;
        }
    }
}

int get_array_name(int fd, char* dest, size_t size) {
    unsigned char buf[196];
    if (!query_page(fd, 1, 0xC8, buf, sizeof(buf), "get array name failed\n", __func__)) {
        return -1;
    }
    array_name_from_page(buf, dest, size);
    return 0;
}

int tpg_newer_layout(const unsigned char version[4]) {
    signed char v0 = static_cast<signed char>(version[0]);
    signed char v2 = static_cast<signed char>(version[2]);
    return (v0 > 2 || (v0 == 2 && v2 > 2)) ? 1 : 0;
}

void tpg_older_text(unsigned char x, unsigned char a, unsigned char b, char* dest, size_t size) {
    const char* first = ((b == 1 && x == '1') || (b == 2 && x == '2')) ? "0A" : "0B";
    const char* second = ((a == 1 && x == '1') || (a == 0 && x == '2')) ? "0A" : "0B";
    (void)sprintf_s(dest, size, "%s/%s", first, second);
}

int get_tpg(int fd, char* dest, size_t size) {
    unsigned char version[4];
    char work[64];
    (void)memset_s(version, sizeof(version), 0, sizeof(version));
    (void)memset_s(work, sizeof(work), 0, sizeof(work));
    int ret = get_interface_version(fd, reinterpret_cast<char*>(version), sizeof(version));
    if (ret != 0) {
        return ret;
    }
    if (!tur_ok(fd, __func__)) {
        return -1;
    }
    unsigned char buf[264];
    if (tpg_newer_layout(version) != 0) {
        if (do_inquiry(fd, 1, 0xC9, buf, sizeof(buf)) != 0) {
            QUERY_FAILED(__func__, "get tpg failed.\n");
            return -1;
        }
        char half[9];
        (void)memset_s(half, sizeof(half), 0, sizeof(half));
        (void)strncpy_s(work, sizeof(work), reinterpret_cast<const char*>(buf + 85), 8);
        (void)strcat_s(work, sizeof(work), "/");
        (void)strncpy_s(half, sizeof(half), reinterpret_cast<const char*>(buf + 77), 8);
        (void)strcat_s(work, sizeof(work), half);
        (void)sprintf_s(dest, size, "%s", work);
        return 0;
    }
    if (do_inquiry(fd, 1, 0xC4, buf, 32) != 0) {
        return -1;
    }
    unsigned char x = buf[29];
    if (do_inquiry(fd, 1, 0xC9, buf, sizeof(buf)) != 0) {
        return -1;
    }
    tpg_older_text(x, buf[8], buf[9], dest, size);
    return 0;
}

// ---- text helpers ----

void binary_to_ascii(const unsigned char* src, size_t start, size_t count, char* dest,
                     size_t size) {
    if (src == nullptr || dest == nullptr) {
        return;
    }
    for (size_t i = 0; i < count && 2 * i + 2 < size; ++i) {
        (void)sprintf_s(dest + 2 * i, size - 2 * i, "%02x", src[start + i]);
    }
}

#ifdef TS_SHOWDISK_ESXI
int get_str_by_reg(const char* line, const char* pattern) {
    if (line == nullptr || line[0] == '\0' || pattern == nullptr) {
        return -1;
    }
    return strstr(line, pattern) != nullptr ? 0 : -1;
}
#else
int get_str_by_reg(const char* line, const char* pattern, char* dest, size_t size) {
    if (line == nullptr || line[0] == '\0' || pattern == nullptr) {
        return -1;
    }
    const char* found = strstr(line, pattern);
    if (found == nullptr) {
        return -1;
    }
    size_t len = strcspn(found, " ]");
    if (dest == nullptr || size == 0) {
        return 0;
    }
    if (len > size - 1) {
        (void)memset_s(dest, size, 0, size);
        return 0;
    }
    (void)memcpy_s(dest, size - 1, found, len);
    return 0;
}

// Besides the five shell separators, refuses every character outside letters,
// digits and . _ - : ! + (deliberate: $, backquotes, quotes, redirections and
// blanks would otherwise reach the shell).
int filter_the_unsafe_str(const char* text) {
    if (text == nullptr) {
        return -1;
    }
    for (int i = 0; i < filter_size; ++i) {
        if (strstr(text, filter_str[i]) != nullptr) {
            return -1;
        }
    }
    for (const char* p = text; *p != '\0'; ++p) {
        char c = *p;
        bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                  strchr("._-:!+", c) != nullptr;
        if (!ok) {
            return -1;
        }
    }
    return 0;
}

#endif

// ---- queries of one record ----

namespace {

struct Query {
    int (*query)(int, char*, size_t);
    char* field;
    size_t size;
    const char* failure;  // reported with the node name
};

void set_all_dashes(char* const* fields, const size_t* sizes, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        set_dashes(fields[i], sizes[i]);
    }
}

// Runs the queries in order; a failed one leaves "--" in its field and is
// reported. Returns the result of the last query.
int run_queries(int fd, const Query* queries, size_t count, const char* dev_name) {
    int ret = 0;
    for (size_t i = 0; i < count; ++i) {
        const Query& q = queries[i];
        ret = q.query(fd, q.field, q.size);
        if (ret != 0) {
            set_dashes(q.field, q.size);
            ts_log(1, q.failure, dev_name);
        }
    }
    return ret;
}

}  // namespace

#ifndef TS_SHOWDISK_ESXI
// ---- Linux discovery: multipath -ll, /sys/block ----

void size_text_from_sectors(unsigned long long sectors, char* dest, size_t size) {
    static const char kUnits[] = "KMGTP";
    float value = static_cast<float>(sectors / 2);
    size_t unit = 0;
    while (value >= 1024 && kUnits[unit] != 'P') {
        value = value / 1024;
        ++unit;
    }
    // One decimal below 10, none from 10 on.
    if (value < 10) {
        (void)sprintf_s(dest, size, "%.1f%c", static_cast<double>(value), kUnits[unit]);
    } else {
        (void)sprintf_s(dest, size, "%.0f%c", static_cast<double>(value), kUnits[unit]);
    }
}

// The dm name of a header is its first blank-delimited word that is "dm-"
// followed by digits (deliberate: an alias holding "dm-" cannot name the map).
int dm_word_of_line(const char* line, char* dest, size_t size) {
    const char* p = line;
    while (*p != '\0') {
        while (*p == ' ' || *p == '\t') {
            ++p;
        }
        size_t len = strcspn(p, " \t");
        if (len > 3 && strncmp(p, "dm-", 3) == 0) {
            size_t digits = 3;
            while (digits < len && p[digits] >= '0' && p[digits] <= '9') {
                ++digits;
            }
            if (digits == len) {
                if (len > size - 1) {
                    return -1;
                }
                (void)memset_s(dest, size, 0, size);
                (void)memcpy_s(dest, size - 1, p, len);
                return 0;
            }
        }
        p += len;
    }
    return -1;
}

int host_no_of_line(const char* line, char* dest, size_t size) {
    const char* p = line;
    while (*p != '\0' && (*p < '0' || *p > '9')) {
        ++p;
    }
    if (*p == '\0') {
        return -1;
    }
    long value = 0;
    while (*p >= '0' && *p <= '9') {
        if (value < 1000000000L) {
            value = value * 10 + (*p - '0');
        }
        ++p;
    }
    if (value > 2147483647L) {
        value = 2147483647L;
    }
    (void)sprintf_s(dest, size, "%d", static_cast<int>(value));
    return 0;
}

LunInfo* create_dev_for_dm(const char* line, const char* dev) {
    LunInfo* lun = static_cast<LunInfo*>(calloc(1, sizeof(LunInfo)));
    if (lun == nullptr) {
        ts_log(3, "alloc mem failed for pdev\n");
        return nullptr;
    }
    (void)sprintf_s(lun->dev_name, sizeof(lun->dev_name), "/dev/%s", dev);
    INIT_LIST_HEAD(&lun->paths);
    list_add_tail(&lun->node, &g_lunlist);
    ts_log(0, "get device %s\n", dev);
    (void)sprintf_s(lun->vendor, sizeof(lun->vendor), "%s",
                    strstr(line, "QELMAR") != nullptr ? "QELMAR" : "ZUNTA");
    return lun;
}

int create_dev_for_sd(LunInfo* lun, const char* line, const char* dev) {
    LunInfo* path = static_cast<LunInfo*>(calloc(1, sizeof(LunInfo)));
    if (path == nullptr) {
        ts_log(3, "alloc mem failed for ppath\n");
        return -1;
    }
    (void)sprintf_s(path->dev_name, sizeof(path->dev_name), "/dev/%s", dev);
    INIT_LIST_HEAD(&path->paths);
    list_add_tail(&path->node, &lun->paths);
    ts_log(0, "get device %s\n", dev);
    (void)sprintf_s(path->vendor, sizeof(path->vendor), "%s", lun->vendor);
    if (get_str_by_reg(line, "active", path->path_status, sizeof(path->path_status)) != 0) {
        (void)sprintf_s(path->path_status, sizeof(path->path_status), "%s", "failed");
    }
    UniqueFd fd(open(path->dev_name, O_RDONLY | O_NONBLOCK));
    if (fd.Valid() && do_tur(fd.Get()) != 0) {
        (void)sprintf_s(path->path_status, sizeof(path->path_status), "%s", "failed");
    }
    (void)host_no_of_line(line, path->host_no, sizeof(path->host_no));
    return 0;
}

int parse_multipath_line(const char* line, int* vendor_map, LunInfo** current) {
    char token[kTokenLen];
    (void)memset_s(token, sizeof(token), 0, sizeof(token));
    if (get_str_by_reg(line, "dm-", token, sizeof(token)) == 0) {
        // A header without a proper dm word creates nothing, and its path
        // lines must not join the previous map.
        (void)memset_s(token, sizeof(token), 0, sizeof(token));
        if ((strstr(line, "QELMAR") != nullptr || strstr(line, "ZUNTA") != nullptr) &&
            dm_word_of_line(line, token, sizeof(token)) == 0) {
            *vendor_map = 1;
            *current = create_dev_for_dm(line, token);
            if (*current == nullptr) {
                return -1;
            }
        } else {
            *vendor_map = 0;
        }
        return 0;
    }
    if (get_str_by_reg(line, "sd", token, sizeof(token)) == 0) {
        if (*vendor_map != 0 && *current != nullptr && token[0] != '\0') {
            return create_dev_for_sd(*current, line, token);
        }
        return 0;
    }
    if (get_str_by_reg(line, "size=", token, sizeof(token)) == 0) {
        if (*vendor_map != 0 && *current != nullptr) {
            const char* value = strchr(token, '=');
            (void)snprintf_s((*current)->capacity, sizeof((*current)->capacity),
                             sizeof((*current)->capacity) - 1, "%s",
                             value != nullptr ? value + 1 : "");
        }
    }
    return 0;
}

int get_lun_list_from_dm(void) {
    UniquePipe pipe(popen("multipath -ll", "r"));
    if (!pipe.Valid()) {
        ts_log(3, "popen failed\n");
        return -1;
    }
    char line[kLineLen];
    int vendor_map = 0;
    LunInfo* current = nullptr;
    while (fgets(line, sizeof(line), pipe.Get()) != nullptr) {
        strip_newline(line);
        if (parse_multipath_line(line, &vendor_map, &current) != 0) {
            free_lunlist();
            return -1;
        }
    }
    return 0;
}

namespace {
// Set when the /sys/block fallback could not open its directory.
bool s_block_dir_unopened = false;
}  // namespace

int get_lun_list_from_block_dir(void) {
    UniqueDir dir(opendir("/sys/block"));
    if (!dir.Valid()) {
        s_block_dir_unopened = true;
        return -1;
    }
    int result = 0;
    for (dirent* entry = readdir(dir.Get()); entry != nullptr; entry = readdir(dir.Get())) {
        const char* name = entry->d_name;
        // Skipped before anything is opened: "." and ".." and entries that
        // are not directories.
        if (strcmp(name, ".") == 0 || strcmp(name, "..") == 0) {
            continue;
        }
        char node[kPathLen];
        struct stat st;
        if (sprintf_s(node, sizeof(node), "/sys/block/%s", name) < 0 || stat(node, &st) != 0 ||
            !S_ISDIR(st.st_mode)) {
            continue;
        }
        if (sprintf_s(node, sizeof(node), "/dev/%s", name) < 0) {
            continue;
        }
        UniqueFd fd(open(node, O_RDONLY | O_NONBLOCK));
        if (!fd.Valid()) {
            ts_log(1, "open %s failed\n", node);
            continue;
        }
        char vid[16];
        (void)memset_s(vid, sizeof(vid), 0, sizeof(vid));
        if (get_vid(fd.Get(), vid, sizeof(vid)) != 0 || !is_vendor_id(vid)) {
            continue;
        }
        LunInfo* lun = static_cast<LunInfo*>(calloc(1, sizeof(LunInfo)));
        if (lun == nullptr) {
            ts_log(3, "alloc mem failed for pdev\n");
            free_lunlist();
            result = -1;
            break;
        }
        (void)sprintf_s(lun->dev_name, sizeof(lun->dev_name), "%s", node);
        (void)memcpy_s(lun->vendor, sizeof(lun->vendor), vid, sizeof(vid));
        INIT_LIST_HEAD(&lun->paths);
        list_add_tail(&lun->node, &g_lunlist);
        ts_log(0, "get device %s from block dir.\n", name);
        if (get_sysfs_get_size(name, lun->capacity, sizeof(lun->capacity)) != 0) {
            ts_log(3, "get size failed for %s\n", name);
        }
        (void)get_sysfs_get_hostno(name, lun->host_no, sizeof(lun->host_no));
    }
    return result;
}

// Fails only when the /sys/block fallback could not open its directory
// (deliberate: a host without /sys/block is an error, not "no disk").
int get_lun_list(void) {
    (void)get_lun_list_from_dm();
    if (list_empty(&g_lunlist) == 0) {
        return 0;
    }
    ts_log(1, "get no disk from multipath -ll\n");
    s_block_dir_unopened = false;
    (void)get_lun_list_from_block_dir();
    g_isdm = 1;
    return s_block_dir_unopened ? -1 : 0;
}

int get_sysfs_get_size(const char* dev, char* dest, size_t size) {
    if (filter_the_unsafe_str(dev) != 0) {
        return -1;
    }
    char command[kPathLen];
    if (sprintf_s(command, sizeof(command), "cat /sys/block/%s/size 2>/dev/null", dev) < 0) {
        return -1;
    }
    char line[kLineLen];
    (void)memset_s(line, sizeof(line), 0, sizeof(line));
    if (!first_line_of(command, line, sizeof(line))) {
        return -1;
    }
    size_text_from_sectors(strtoull(line, nullptr, 10), dest, size);
    return 0;
}

int get_sysfs_get_hostno(const char* dev, char* dest, size_t size) {
    if (filter_the_unsafe_str(dev) != 0) {
        return -1;
    }
    char command[kPathLen];
    if (sprintf_s(command, sizeof(command),
                  "readlink /sys/block/%s/device | xargs basename | awk -F ':' '{print $1}'",
                  dev) < 0) {
        return -1;
    }
    char line[kLineLen];
    (void)memset_s(line, sizeof(line), 0, sizeof(line));
    if (!first_line_of(command, line, sizeof(line))) {
        return -1;
    }
    (void)sprintf_s(dest, size, "%d", static_cast<int>(strtol(line, nullptr, 10)));
    return 0;
}

int get_porttype_by_host(const char* host_no, char* dest, size_t size) {
    if (filter_the_unsafe_str(host_no) != 0) {
        return -1;
    }
    char command[kPathLen];
    (void)memset_s(command, sizeof(command), 0, sizeof(command));
    if (sprintf_s(command, sizeof(command), "cat /sys/class/scsi_host/host%s/proc_name 2>/dev/null",
                  host_no) < 0) {
        return -1;
    }
    char line[kLineLen];
    (void)memset_s(line, sizeof(line), 0, sizeof(line));
    if (!first_line_of(command, line, sizeof(line))) {
        return -1;
    }
    const char* type = strncmp(line, "iscsi", 5) == 0 ? "iSCSI" : "FC";
    if (size == 0) {
        return -1;
    }
    (void)memset_s(dest, size, 0, size);
    (void)strncpy_s(dest, size, type, strlen(type) < size - 1 ? strlen(type) : size - 1);
    return 0;
}

int get_dev_info(LunInfo* lun) {
    if (lun == nullptr) {
        return -1;
    }
    UniqueFd fd(open(lun->dev_name, O_RDONLY | O_NONBLOCK));
    if (!fd.Valid()) {
        char* const fields[] = {lun->lun_name,    lun->wwn,        lun->ctrl,
                                lun->host_lun_id, lun->array_name, lun->port_type};
        const size_t sizes[] = {sizeof(lun->lun_name),   sizeof(lun->wwn),
                                sizeof(lun->ctrl),       sizeof(lun->host_lun_id),
                                sizeof(lun->array_name), sizeof(lun->port_type)};
        set_all_dashes(fields, sizes, std::size(fields));
        ts_log(1, "open %s failed\n", lun->dev_name);
        return -1;
    }
    const Query queries[] = {
        {get_lun_name, lun->lun_name, sizeof(lun->lun_name), "get lun name for %s failed\n"},
        {get_wwn, lun->wwn, sizeof(lun->wwn), "get wwn for %s failed\n"},
        {get_tpg, lun->ctrl, sizeof(lun->ctrl), "get tpg id for %s failed\n"},
        {get_host_lunID, lun->host_lun_id, sizeof(lun->host_lun_id),
         "get host lun id for %s failed\n"},
        {get_array_name, lun->array_name, sizeof(lun->array_name),
         "get array name for %s failed\n"},
        {get_port_type, lun->port_type, sizeof(lun->port_type), "get port type for %s failed\n"},
    };
    // The port type query runs last.
    int port_type_result = run_queries(fd.Get(), queries, std::size(queries), lun->dev_name);
    if (port_type_result == 0 && strncmp(lun->port_type, "--", 2) == 0) {
        ts_log(1, "get port type by host for dev %s.\n", lun->dev_name);
        (void)get_porttype_by_host(lun->host_no, lun->port_type, sizeof(lun->port_type));
    }
    return 0;
}

int get_info(void) {
    for (list_head* l = g_lunlist.next; l != &g_lunlist; l = l->next) {
        LunInfo* lun = lun_of(l);
        ts_log(0, "get info for lun %s.\n", lun->dev_name);
        (void)get_dev_info(lun);
        for (list_head* p = lun->paths.next; p != &lun->paths; p = p->next) {
            LunInfo* path = lun_of(p);
            ts_log(0, "get info for lun %s, path %s\n", lun->dev_name, path->dev_name);
            (void)get_dev_info(path);
        }
    }
    return 0;
}
#endif

#ifdef TS_SHOWDISK_ESXI
// ---- ESXi discovery: esxcfg-mpath -l, esxcfg-scsidevs -l, /dev/disks ----

list_head g_pathlist = {&g_pathlist, &g_pathlist};

namespace {

const size_t kShortValue = 63;  // characters kept of a name or a device
const size_t kStateValue = 7;
const size_t kTransportValue = 31;

// A text of at most limit characters into a field (zero-filled before).
void put_text(char* dest, size_t size, const char* text, size_t limit) {
    (void)memset_s(dest, size, 0, size);
    size_t len = strnlen(text, limit);
    if (len > size - 1) {
        len = size - 1;
    }
    if (len > 0) {
        (void)memcpy_s(dest, size - 1, text, len);
    }
}

// The adapter number of a runtime name: the decimal digits 5 characters in
// (vmhba2:C0:T0:L1 gives 2; a non-digit there gives 0). Taken only from a
// name longer than 5 characters (deliberate: a shorter one has nothing
// there to read).
void host_no_of_runtime_name(const char* name, char* dest, size_t size) {
    if (strlen(name) <= 5) {
        return;
    }
    long value = 0;
    for (const char* p = name + 5; *p >= '0' && *p <= '9'; ++p) {
        if (value < 100000000L) {
            value = value * 10 + (*p - '0');
        }
    }
    (void)sprintf_s(dest, size, "%d", static_cast<int>(value));
}

bool run_listing(const char* command, int (*per_line)(const char*, void*), void* state) {
    UniquePipe pipe(popen(command, "r"));
    if (!pipe.Valid()) {
        ts_log(3, "popen failed\n");
        return false;
    }
    char line[kLineLen];
    while (fgets(line, sizeof(line), pipe.Get()) != nullptr) {
        strip_newline(line);
        if (per_line(line, state) != 0) {
            return false;
        }
    }
    return true;
}

int path_line_step(const char* line, void* state) {
    return path_list_line(line, static_cast<PathListEntry**>(state));
}

int lun_line_step(const char* line, void* state) {
    return lun_list_line(line, static_cast<LunInfo**>(state));
}

}  // namespace

PathListEntry* path_entry_of(list_head* link) {
    return reinterpret_cast<PathListEntry*>(reinterpret_cast<char*>(link) -
                                            offsetof(PathListEntry, node));
}

// A value line whose colon ends it gives an empty value (deliberate: the
// character behind the colon is skipped, and there is nothing behind it).
void value_of_line(const char* line, char* dest, size_t size, size_t limit) {
    if (dest == nullptr || size == 0) {
        return;
    }
    const char* colon = strchr(line, ':');
    const char* value = colon == nullptr || colon[1] == '\0' ? "" : colon + 2;
    put_text(dest, size, value, limit);
}

int path_list_line(const char* line, PathListEntry** current) {
    if (get_str_by_reg(line, "Runtime") == 0) {
        PathListEntry* entry = static_cast<PathListEntry*>(calloc(1, sizeof(PathListEntry)));
        if (entry == nullptr) {
            ts_log(3, "alloc mem failed for pPath\n");
            return -1;
        }
        list_add_tail(&entry->node, &g_pathlist);
        *current = entry;
        value_of_line(line, entry->runtime_name, sizeof(entry->runtime_name), kShortValue);
        host_no_of_runtime_name(entry->runtime_name, entry->host_no, sizeof(entry->host_no));
        return 0;
    }
    struct Label {
        const char* label;
        size_t offset;
        size_t size;
        size_t limit;
    };
    static const Label kLabels[] = {
        {"Device:", offsetof(PathListEntry, device), sizeof(PathListEntry::device), kShortValue},
        {"State:", offsetof(PathListEntry, state), sizeof(PathListEntry::state), kStateValue},
        {"Transport:", offsetof(PathListEntry, transport), sizeof(PathListEntry::transport),
         kTransportValue},
    };
    for (const Label& l : kLabels) {
        if (get_str_by_reg(line, l.label) != 0) {
            continue;
        }
        if (*current == nullptr) {
            ts_log(3, "alloc mem failed for pPath\n");
            return -1;
        }
        value_of_line(line, reinterpret_cast<char*>(*current) + l.offset, l.size, l.limit);
        return 0;
    }
    return 0;
}

int create_path_list(void) {
    PathListEntry* current = nullptr;
    if (!run_listing("esxcfg-mpath -l | grep -E \"Runtime Name:|Device:|State:|Transport:\"",
                     path_line_step, &current)) {
        free_pathlist();
        return -1;
    }
    return 0;
}

namespace {

// The path entries sorted by device, listing order kept within a device, so
// that a LUN finds its paths without walking the whole list: a host of 2,048
// LUNs over 8 paths would otherwise compare 33 million names. Built for the
// LUN listing and dropped after it; without it (no memory) the list is
// walked, with the same result.
struct IndexedPath {
    const PathListEntry* entry;
    size_t position;  // in the listing: ties keep the listing order
};

struct PathIndex {
    IndexedPath* entries = nullptr;
    size_t count = 0;
};
PathIndex s_path_index;

int compare_by_device(const void* a, const void* b) {
    const IndexedPath* x = static_cast<const IndexedPath*>(a);
    const IndexedPath* y = static_cast<const IndexedPath*>(b);
    int order = strcmp(x->entry->device, y->entry->device);
    if (order != 0) {
        return order;
    }
    return x->position < y->position ? -1 : (x->position > y->position ? 1 : 0);
}

bool attach_path(LunInfo* lun, const PathListEntry* entry) {
    LunInfo* path = static_cast<LunInfo*>(calloc(1, sizeof(LunInfo)));
    if (path == nullptr) {
        ts_log(3, "alloc mem failed for pdev.\n");
        return false;
    }
    INIT_LIST_HEAD(&path->paths);
    list_add_tail(&path->node, &lun->paths);
    put_text(path->host_no, sizeof(path->host_no), entry->host_no, 7);
    put_text(path->path_status, sizeof(path->path_status), entry->state, 7);
    put_text(path->port_type, sizeof(path->port_type), entry->transport, 31);
    put_text(path->dev_name, sizeof(path->dev_name), entry->runtime_name, 255);
    return true;
}

}  // namespace

void index_path_list(void) {
    drop_path_index();
    size_t count = 0;
    for (list_head* l = g_pathlist.next; l != &g_pathlist; l = l->next) {
        ++count;
    }
    if (count == 0) {
        return;
    }
    IndexedPath* entries = static_cast<IndexedPath*>(calloc(count, sizeof(IndexedPath)));
    if (entries == nullptr) {
        return;
    }
    size_t i = 0;
    for (list_head* l = g_pathlist.next; l != &g_pathlist; l = l->next, ++i) {
        entries[i].entry = path_entry_of(l);
        entries[i].position = i;
    }
    qsort(entries, count, sizeof(entries[0]), compare_by_device);
    s_path_index.entries = entries;
    s_path_index.count = count;
}

void drop_path_index(void) {
    free(static_cast<void*>(s_path_index.entries));
    s_path_index.entries = nullptr;
    s_path_index.count = 0;
}

void get_path_info_from_pathlist(LunInfo* lun) {
    if (s_path_index.entries == nullptr) {
        for (list_head* l = g_pathlist.next; l != &g_pathlist; l = l->next) {
            const PathListEntry* entry = path_entry_of(l);
            if (strcmp(entry->device, lun->dev_name) == 0 && !attach_path(lun, entry)) {
                return;
            }
        }
        return;
    }
    // First entry of the device, then every entry of it.
    size_t low = 0;
    size_t high = s_path_index.count;
    while (low < high) {
        size_t mid = low + (high - low) / 2;
        if (strcmp(s_path_index.entries[mid].entry->device, lun->dev_name) < 0) {
            low = mid + 1;
        } else {
            high = mid;
        }
    }
    for (size_t i = low; i < s_path_index.count &&
                         strcmp(s_path_index.entries[i].entry->device, lun->dev_name) == 0;
         ++i) {
        if (!attach_path(lun, s_path_index.entries[i].entry)) {
            return;
        }
    }
}

int lun_list_line(const char* line, LunInfo** current) {
    if (get_str_by_reg(line, "naa") == 0) {
        LunInfo* lun = static_cast<LunInfo*>(calloc(1, sizeof(LunInfo)));
        if (lun == nullptr) {
            ts_log(3, "alloc mem failed for pdev\n");
            return -1;
        }
        INIT_LIST_HEAD(&lun->paths);
        list_add_tail(&lun->node, &g_lunlist);
        (void)sprintf_s(lun->dev_name, sizeof(lun->dev_name), "%s", line);
        *current = lun;
        get_path_info_from_pathlist(lun);
        return 0;
    }
    if (get_str_by_reg(line, "Size:") == 0) {
        if (*current == nullptr) {
            ts_log(3, "alloc mem failed for pdev\n");
            return -1;
        }
        value_of_line(line, (*current)->capacity, sizeof((*current)->capacity), kShortValue);
    }
    return 0;
}

int get_lun_list_from_system(void) {
    LunInfo* current = nullptr;
    index_path_list();
    bool read =
        run_listing("esxcfg-scsidevs -l | grep -B7 \"Vendor: QELMAR\" | grep -E \"^naa|Size:\"",
                    lun_line_step, &current);
    drop_path_index();
    if (!read) {
        free_lunlist();
        return -1;
    }
    return 0;
}

// Fails when the device listing could not be read to its end (deliberate:
// that is an error, not a host without disks).
int get_lun_list(void) {
    if (get_lun_list_from_system() != 0) {
        return -1;
    }
    if (list_empty(&g_lunlist) != 0) {
        ts_log(1, "Get no disk from esxcfg-scsidevs -l\n");
    }
    return 0;
}

int get_dev_info(LunInfo* lun) {
    if (lun == nullptr) {
        return -1;
    }
    char node[kPathLen];
    (void)memset_s(node, sizeof(node), 0, sizeof(node));
    (void)sprintf_s(node, sizeof(node), "/dev/disks/%s", lun->dev_name);
    UniqueFd fd(open(node, O_RDONLY | O_NONBLOCK));
    if (!fd.Valid()) {
        ts_log(1, "open %s failed\n", lun->dev_name);
        char* const fields[] = {lun->lun_name, lun->wwn,         lun->ctrl,
                                lun->vendor,   lun->host_lun_id, lun->array_name};
        const size_t sizes[] = {sizeof(lun->lun_name),    sizeof(lun->wwn),
                                sizeof(lun->ctrl),        sizeof(lun->vendor),
                                sizeof(lun->host_lun_id), sizeof(lun->array_name)};
        set_all_dashes(fields, sizes, std::size(fields));
        return -1;
    }
    const Query queries[] = {
        {get_lun_name, lun->lun_name, sizeof(lun->lun_name), "get lun name for %s failed\n"},
        {get_wwn, lun->wwn, sizeof(lun->wwn), "get wwn for %s failed\n"},
        {get_tpg, lun->ctrl, sizeof(lun->ctrl), "get tpg id for %s failed\n"},
        {get_vid, lun->vendor, sizeof(lun->vendor), "get vendor id for %s failed\n"},
        {get_host_lunID, lun->host_lun_id, sizeof(lun->host_lun_id),
         "get host lun id for %s failed\n"},
        {get_array_name, lun->array_name, sizeof(lun->array_name),
         "get array name for %s failed\n"},
    };
    (void)run_queries(fd.Get(), queries, std::size(queries), lun->dev_name);
    return 0;
}

int get_info(void) {
    for (list_head* l = g_lunlist.next; l != &g_lunlist; l = l->next) {
        (void)get_dev_info(lun_of(l));
    }
    return 0;
}

void free_pathlist(void) {
    drop_path_index();
    while (list_empty(&g_pathlist) == 0) {
        PathListEntry* entry = path_entry_of(g_pathlist.next);
        list_del(&entry->node);
        free(entry);
    }
}
#endif

void free_lunlist(void) {
    while (list_empty(&g_lunlist) == 0) {
        LunInfo* lun = lun_of(g_lunlist.next);
        while (list_empty(&lun->paths) == 0) {
            LunInfo* path = lun_of(lun->paths.next);
            list_del(&path->node);
            free(path);
        }
        list_del(&lun->node);
        free(lun);
    }
}

// ---- table ----

namespace {

struct Column {
    const char* heading;
    unsigned int* window;
    unsigned int minimum;
};

const Column kColumns[12] = {
    {"DiskName", &g_uiVdiskNameWindow, 8},
    {"LunName", &g_uiLunNameWindow, 7},
    {"WWN", &g_uiWWNWindow, 24},
    {"Path", &g_uiPathWindow, 8},
    {"PathStatus", &g_uiPathStatusWindow, 10},
    {"HostAdapter", &g_uiHostnoWindow, 11},
    {"Capacity", &g_uiCapacityWindow, 8},
    {"Vendor", &g_uiVendorWindow, 6},
    {"Ctrl(Own/Work)", &g_uiCtrlWindow, 14},
    {"HostLunID", &g_uiHostLunIDWindow, 9},
    {"ArrayName", &g_uiArrayNameWindow, 9},
    {"PortType", &g_uiPortTypeWindow, 8},
};

// The ESXi table shows path rows only: a LUN without paths has no row.
#ifdef TS_SHOWDISK_ESXI
constexpr bool kLunRows = false;
#else
constexpr bool kLunRows = true;
#endif

// The path's own text, or the LUN's when the path's whole field is "--".
[[maybe_unused]] const char* path_or_lun(const char* path_field, const char* lun_field) {
    return strcmp(path_field, "--") == 0 ? lun_field : path_field;
}

// The twelve cell texts of the row of a LUN (path null) or of one of its paths.
void row_cells(const LunInfo* lun, const LunInfo* path, const char* cells[12]) {
    if (path == nullptr) {
        const char* row[12] = {lun->dev_name, lun->lun_name,    lun->wwn,        "--",
                               "--",          lun->host_no,     lun->capacity,   lun->vendor,
                               lun->ctrl,     lun->host_lun_id, lun->array_name, lun->port_type};
        for (int i = 0; i < 12; ++i) {
            cells[i] = row[i];
        }
        return;
    }
#ifdef TS_SHOWDISK_ESXI
    // Path records carry only what the path listing says.
    const char* row[12] = {lun->dev_name,     lun->lun_name,    lun->wwn,        path->dev_name,
                           path->path_status, path->host_no,    lun->capacity,   lun->vendor,
                           lun->ctrl,         lun->host_lun_id, lun->array_name, path->port_type};
#else
    const char* row[12] = {lun->dev_name,
                           path_or_lun(path->lun_name, lun->lun_name),
                           path_or_lun(path->wwn, lun->wwn),
                           path->dev_name,
                           path->path_status,
                           path->host_no,
                           lun->capacity,
                           path_or_lun(path->vendor, lun->vendor),
                           path_or_lun(path->ctrl, lun->ctrl),
                           path_or_lun(path->host_lun_id, lun->host_lun_id),
                           path_or_lun(path->array_name, lun->array_name),
                           path_or_lun(path->port_type, lun->port_type)};
#endif
    for (int i = 0; i < 12; ++i) {
        cells[i] = row[i];
    }
}

void measure_row(const char* const cells[12]) {
    for (int i = 0; i < 12; ++i) {
        *kColumns[i].window =
            CHOOSE_LEN(*kColumns[i].window, strlen(cells[i]), kColumns[i].minimum);
    }
}

void print_row(const char* const cells[12]) {
    for (int i = 0; i < 12; ++i) {
        print_str_in_mid(cells[i], *kColumns[i].window + 2);
    }
    out("\n");
}

}  // namespace

unsigned int CHOOSE_LEN(unsigned int current, size_t len, unsigned int minimum) {
    unsigned int value = len > 0xFFFFFFFFU ? 0xFFFFFFFFU : static_cast<unsigned int>(len);
    unsigned int largest = current > value ? current : value;
    return largest > minimum ? largest : minimum;
}

void reset_windows(void) {
    for (const Column& c : kColumns) {
        *c.window = 0;
    }
    g_uiTotalWindow = 0;
}

void calc_window_len(list_head* head) {
    const char* cells[12];
    for (list_head* l = head->next; l != head; l = l->next) {
        const LunInfo* lun = lun_of(l);
        if (list_empty(&lun->paths) != 0) {
            if (!kLunRows) {
                continue;
            }
            row_cells(lun, nullptr, cells);
            measure_row(cells);
            continue;
        }
        for (const list_head* p = lun->paths.next; p != &lun->paths; p = p->next) {
            row_cells(lun, lun_of(const_cast<list_head*>(p)), cells);
            measure_row(cells);
        }
    }
}

void print_dash(unsigned int count) {
    for (unsigned int i = 0; i < count; ++i) {
        (void)fputc('-', stdout);
    }
    (void)fflush(stdout);
}

void print_str_in_mid(const char* text, unsigned int width) {
    if (text == nullptr) {
        ts_log(2, "invalid buf\n");
        return;
    }
    // Measured as it came, printed with '?' for each byte a terminal would act
    // on: a LUN, array or listed device name that holds an ESC sequence must
    // not clear or retitle the administrator's terminal, and the widths stay.
    size_t len = strlen(text);
    size_t pad = width > len ? width - len : 0;
    (void)printf("%*s", static_cast<int>(pad / 2), "");
    TerminalSafePut(text, stdout);
    (void)printf("%*s", static_cast<int>(pad - pad / 2), "");
    (void)fflush(stdout);
}

void print_header(void) {
    // Deliberate: a table without a measured row (an ESXi host whose LUNs have
    // no paths) still gets the minimum widths; its headings would otherwise
    // run together. Every measured table has them already.
    for (const Column& c : kColumns) {
        *c.window = CHOOSE_LEN(*c.window, 0, c.minimum);
    }
    g_uiTotalWindow =
        std::accumulate(std::begin(kColumns), std::end(kColumns), 24U,
                        [](unsigned int sum, const Column& c) { return sum + *c.window; });
    print_dash(g_uiTotalWindow);
    out("\n");
    for (const Column& c : kColumns) {
        print_str_in_mid(c.heading, *c.window + 2);
    }
    out("\n");
}

void print_end(void) {
    print_dash(g_uiTotalWindow);
    out("\n");
    if (g_isdm == 1) {
        out("These disks are not managed by Multipath.\n");
    }
}

int print_info(void) {
    if (list_empty(&g_lunlist) != 0) {
        out("There is no Qelmar disk\n");
        return 0;
    }
    calc_window_len(&g_lunlist);
    print_header();
    const char* cells[12];
    for (list_head* l = g_lunlist.next; l != &g_lunlist; l = l->next) {
        LunInfo* lun = lun_of(l);
        if (list_empty(&lun->paths) != 0) {
            if (!kLunRows) {
                continue;
            }
            row_cells(lun, nullptr, cells);
            print_row(cells);
            continue;
        }
        for (list_head* p = lun->paths.next; p != &lun->paths; p = p->next) {
            row_cells(lun, lun_of(p), cells);
            print_row(cells);
        }
    }
#ifndef TS_SHOWDISK_ESXI
    print_end();  // the ESXi table ends after its last row
#endif
    return 0;
}

namespace {

#ifdef TS_SHOWDISK_ESXI
const char* const kProductProbe = "esxcli software vib list | grep tessaro >/dev/null 2>&1";
#else
const char* const kProductProbe = "which tsadm >/dev/null 2>&1";
#endif

}  // namespace

int check_tessaro(void) {
    if (system(kProductProbe) != 0) {
        return 0;
    }
    ts_log(1, "Tessaro is installed.\n");
    return -1;
}

#ifndef TS_SHOWDISK_NO_MAIN
namespace {

#ifdef TS_SHOWDISK_ESXI
const char* const kLunListFailed = "Get lun list failed\n";
const char* const kLunInfoFailed = "Get lun info failed\n";
#else
const char* const kLunListFailed = "get lun list failed\n";
const char* const kLunInfoFailed = "get lun info failed\n";
#endif

enum class FirstArgument { Run, Version, Invalid };

// Only the first argument counts. Linux: -v, -l, anything else ignored.
// ESXi: -v/--version, -l/-L, anything else invalid.
FirstArgument read_first_argument(int argc, char* argv[]) {
    if (argc < 2) {
        return FirstArgument::Run;
    }
    const char* arg = argv[1];
    bool esxi = false;
#ifdef TS_SHOWDISK_ESXI
    esxi = true;
#endif
    if (strcmp(arg, "-v") == 0 || (esxi && strcmp(arg, "--version") == 0)) {
        return FirstArgument::Version;
    }
    if (strcmp(arg, "-l") == 0 || (esxi && strcmp(arg, "-L") == 0)) {
        g_level = 0;
        return FirstArgument::Run;
    }
    return esxi ? FirstArgument::Invalid : FirstArgument::Run;
}

// ESXi: the paths are listed before the LUNs, so that each LUN gets its
// paths when it is created. Nothing to do on Linux.
bool list_paths_first(void) {
#ifdef TS_SHOWDISK_ESXI
    INIT_LIST_HEAD(&g_pathlist);
    if (create_path_list() != 0) {
        ts_log(3, "Get path list failed\n");
        return false;
    }
#endif
    return true;
}

void free_lists(void) {
    free_lunlist();
#ifdef TS_SHOWDISK_ESXI
    free_pathlist();
#endif
}

// The run itself; main adds what the writes to standard output say.
int run(int argc, char* argv[]) {
    INIT_LIST_HEAD(&g_lunlist);
    switch (read_first_argument(argc, argv)) {
        case FirstArgument::Version:
            (void)printf("ts_showdisk version %s\n", kVersion);
            (void)fflush(stdout);
            return 0;
        case FirstArgument::Invalid:
            // Status 1 (deliberate: an invalid option is no success).
            (void)printf("%s%s%s\n", "Error: Invalid input!\nUsage:  [OPTION]\n",
                         "            -- [--version|-v]\n", "            -- [-l|-L]\n");
            (void)fflush(stdout);
            return 1;
        case FirstArgument::Run:
            break;
    }
    if (check_tessaro() != 0) {
        out("Tessaro is installed in the OS. Please use Tessaro CLI.\n");
        return 1;
    }
    if (!list_paths_first()) {
        return 1;
    }
    if (get_lun_list() != 0) {
        ts_log(3, "%s", kLunListFailed);
        return 1;
    }
    if (get_info() != 0) {
        ts_log(3, "%s", kLunInfoFailed);
        return 1;
    }
    if (print_info() != 0) {
        ts_log(3, "print lun info failed\n");
        return 1;
    }
    free_lists();
    return 0;
}

}  // namespace

int main(int argc, char* argv[]) {
    const int status = run(argc, argv);
    // A table that never reached its reader (standard output closed, a full
    // disk) is a failed run, whatever the host answered.
    const bool flush_failed = fflush(stdout) != 0;
    if (flush_failed || ferror(stdout) != 0) {
        return 1;
    }
    return status;
}
#endif
