// ts_showdisk: lists every LUN of the vendor's arrays with its attributes in
// one twelve-column table. This part is the same on Linux and in the ESXi
// shell: the record and list, the SCSI senders and attribute queries, the
// table and the run. The LUNs come from the platform's discovery
// (luninfo_linux.cpp, luninfo_esxi.cpp), and the few texts and rules that
// differ from the platform's kPlatform.
#include "luninfo.h"

#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "column_table.h"
#include "job_pool.h"
#include "boundedfunc.h"
#include "json_writer.h"
#include "deadline_json.h"
#include "query_process.h"
#include "lun_pages.h"
#include "lun_plan.h"
#include "luninfo_platform.h"
#include "scsi_bytes.h"
#include "scsi_commands.h"
#include "terminal_text.h"

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

const char* const kVersion = "1.0.0";
// Milliseconds, as SG_IO counts them.
const unsigned int kSgTimeoutMs = 30;
const char* const kTurIoctlFailed = "ioctl(SG_IO) failed: %s (errno=%d)\n";

// The INQUIRY steps of ts_showdisk's plan (lun_plan.h): page and allocation
// length of each request, and the size of its buffer.
constexpr LunInquiry kStandard = lun_PlanStep(kLunShowdiskPlan, 0, kLunPageStandard);
constexpr LunInquiry kIdentification = lun_PlanStep(kLunShowdiskPlan, 1, kLunPageIdentification);
constexpr LunInquiry kInterface = lun_PlanStep(kLunShowdiskPlan, 1, kLunPageInterface);
constexpr LunInquiry kLun = lun_PlanStep(kLunShowdiskPlan, 1, kLunPageLun);
constexpr LunInquiry kController = lun_PlanStep(kLunShowdiskPlan, 1, kLunPageController);
constexpr LunInquiry kOwnWork = lun_PlanStep(kLunShowdiskPlan, 1, kLunPageOwnWork);
static_assert(kStandard.allocLen != 0 && kIdentification.allocLen != 0 &&
                  kInterface.allocLen != 0 && kLun.allocLen != 0 && kController.allocLen != 0 &&
                  kOwnWork.allocLen != 0,
              "every page ts_showdisk reads is in its plan");
// get_tpg reads page 0xC4 into the buffer of page 0xC9.
static_assert(kController.allocLen <= kOwnWork.allocLen, "page 0xC4 fits the 0xC9 buffer");

void out(const char* text) {
    (void)fputs(text, stdout);
    (void)fflush(stdout);
}

void set_dashes(char* field, size_t size) {
    (void)strncpy_s(field, size, "--", 2);
}

void report_send_failure(const char* format, const ScsiExchange& exchange) {
    const int err = exchange.request.sysError;
    ts_log(3, format, strerror(err), err);
}

// A query's failure report at threshold 0; line is the source line that
// reports, which the ESXi build prints with the query's name.
void report_query_failure(const char* who, int line, const char* text) {
    if (kPlatform.query_report_names_query) {
        ts_log(0, "[%s: %d] %s", who, line, text);
    } else {
        ts_log(0, "%s", text);
    }
}

// A macro only to take the reporting line.
#define QUERY_FAILED(who, text) report_query_failure((who), __LINE__, (text))

// TEST UNIT READY ahead of a query; who is the query.
bool tur_ok(int fd, const char* who) {
    if (do_tur(fd) != 0) {
        QUERY_FAILED(who, "send tur failed.\n");
        return false;
    }
    return true;
}

// TEST UNIT READY, then the INQUIRY of one step of the plan into buf (its
// allocation length in bytes); the failure text of the INQUIRY is the
// caller's.
bool query_page(int fd, const LunInquiry& step, unsigned char* buf, const char* failure,
                const char* who) {
    if (!tur_ok(fd, who)) {
        return false;
    }
    if (do_inquiry(fd, step.evpd, step.page, buf, step.allocLen) != 0) {
        QUERY_FAILED(who, failure);
        return false;
    }
    return true;
}

}  // namespace

namespace {

// The document of a --json run, null for the table.
JsonWriter* s_json = nullptr;

// Room for the longest report: a device name of 255 characters and its text.
constexpr size_t kLogLineLen = 1024;

}  // namespace

bool json_output(void) {
    return s_json != nullptr;
}

namespace {

// The reports of the record a worker thread queries (null: written now).
thread_local std::string* t_reports = nullptr;

// One report where it goes: a --json run keeps standard output for its
// document, so each report becomes one element of the document's log (at
// most kLogLineLen - 1 bytes), without its line end.
void put_report(const char* text) {
    if (s_json != nullptr) {
        char line[kLogLineLen];
        (void)snprintf(line, sizeof(line), "%s", text);
        strip_newline(line);
        s_json->String(line);
        return;
    }
    // Reports name devices and listing words: on the terminal every byte
    // outside 0x20..0x7E but the report's line end shows as '?' (the
    // document escapes them instead).
    (void)fputs(TerminalSafeLine(text).c_str(), stdout);
    (void)fflush(stdout);
}

}  // namespace

unsigned g_jobs = kDefaultJobs;

void ts_log(int threshold, const char* format, ...) {
    if (g_level > threshold) {
        return;
    }
    va_list args;
    va_start(args, format);
    char line[kLogLineLen];
    va_list copy;
    va_copy(copy, args);
    const int length = vsnprintf(line, sizeof(line), format, copy);
    va_end(copy);
    std::string whole;
    if (length >= static_cast<int>(sizeof(line))) {
        whole.assign(static_cast<size_t>(length) + 1, '\0');
        (void)vsnprintf(&whole[0], whole.size(), format, args);
        whole.resize(static_cast<size_t>(length));
    }
    va_end(args);
    const char* text = whole.empty() ? line : whole.c_str();
    if (length < 0) {
        return;
    }
    if (t_reports != nullptr) {
        t_reports->append(text, strlen(text) + 1);  // each report ended by its NUL
        return;
    }
    put_report(text);
}

std::vector<std::string> run_side_by_side(const std::vector<std::string_view>& nodes,
                                          const std::function<void(size_t)>& work) {
    std::vector<std::string> reports(nodes.size());
    RunJobsPerNode(nodes, g_jobs, [&reports, &work](size_t i) {
        t_reports = &reports[i];
        work(i);
        t_reports = nullptr;
    });
    return reports;
}

std::vector<std::string> run_side_by_side(const std::vector<LunInfo*>& records,
                                          void (*work)(LunInfo*)) {
    std::vector<std::string_view> nodes;
    for (const LunInfo* record : records) {
        nodes.emplace_back(record->dev_name);
    }
    return run_side_by_side(nodes, [&records, work](size_t i) { work(records[i]); });
}

namespace {

void query_record(LunInfo* record) {
    (void)get_dev_info(record);
}

}  // namespace

std::vector<std::string> query_side_by_side(const std::vector<LunInfo*>& records) {
    if (g_jobs <= 1 || records.size() <= 1) {
        return {};
    }
    return run_side_by_side(records, query_record);
}

void ts_log_capture(std::string* reports) {
    t_reports = reports;
}

void ts_log_replay(const std::string& reports) {
    for (size_t start = 0; start < reports.size(); start += strlen(reports.c_str() + start) + 1) {
        put_report(reports.c_str() + start);
    }
}

void take_dev_info(LunInfo* record, const std::vector<std::string>& reports, size_t i) {
    if (reports.empty()) {
        (void)get_dev_info(record);
        return;
    }
    ts_log_replay(reports[i]);
}

void strip_newline(char* line) {
    size_t len = strlen(line);
    if (len > 0 && line[len - 1] == '\n') {
        line[len - 1] = '\0';
    }
}

// ---- list ----

LunInfo* lun_of(list_head* link) {
    return list_entry(link, LunInfo, node);
}

void free_lunlist(void) {
    while (!list_empty(&g_lunlist)) {
        LunInfo* lun = lun_of(g_lunlist.next);
        while (!list_empty(&lun->paths)) {
            LunInfo* path = lun_of(lun->paths.next);
            list_del(&path->node);
            free(path);
        }
        list_del(&lun->node);
        free(lun);
    }
}

// ---- SCSI senders ----

// A unit that stays in UNIT ATTENTION, or a transport worth another try, gets
// kScsiTurAttempts requests in all; a failed SG_IO ends at once.
int do_tur(int fd) {
    ScsiExchange exchange;
    const int result = scsi_TestUnitReady(fd, kSgTimeoutMs, kScsiTurAttempts, &exchange);
    if (result == SCSI_SEND_FAILED) {
        report_send_failure(kTurIoctlFailed, exchange);
    }
    return result == SCSI_GOOD ? 0 : -1;
}

// A missing buffer or a length of 0 or less sends nothing and says nothing.
int do_inquiry(int fd, int evpd, int page, unsigned char* buf, int len) {
    ScsiExchange exchange;
    const int result =
        scsi_Inquiry(fd, static_cast<unsigned char>(evpd), static_cast<unsigned char>(page), buf,
                     len, kSgTimeoutMs, &exchange);
    if (result == SCSI_SEND_FAILED) {
        report_send_failure(kPlatform.inquiry_ioctl_failed, exchange);
    } else if (result == SCSI_NOT_GOOD) {
        const ScsiRequest& done = exchange.request;
        ts_log(3, "inqury page 0x%x failed.status:%d, host_status:%d, driver_status:%d\n",
               static_cast<unsigned int>(page), done.status, done.hostStatus, done.driverStatus);
    }
    return result == SCSI_GOOD ? 0 : -1;
}

// ---- attribute queries ----

int get_vid(int fd, char* dest, size_t size) {
    unsigned char buf[kStandard.allocLen];
    if (!query_page(fd, kStandard, buf, "get vendor failed\n", __func__)) {
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
    unsigned char buf[kIdentification.allocLen];
    if (!query_page(fd, kIdentification, buf, "get wwn failed.\n", __func__)) {
        return -1;
    }
    // A first designator that is no 16-byte NAA one names no LUN: "--". A
    // page cut short after the designator's header is read as it always was
    // (the bytes not sent are zeros).
    if (scsi_FirstNaa16(buf, static_cast<int>(sizeof(buf))) == nullptr) {
        (void)sprintf_s(dest, size, "%s", "--");
        return 0;
    }
    binary_to_ascii(buf, 8, 16, dest, size);
    return 0;
}

int get_interface_version(int fd, char* dest, size_t size) {
    unsigned char buf[kInterface.allocLen];
    if (!query_page(fd, kInterface, buf, "get interface version failed.\n", __func__)) {
        return -1;
    }
    (void)memcpy_s(dest, size, buf + 183, 4);
    return 0;
}

int get_port_type(int fd, char* dest, size_t size) {
    unsigned char buf[kInterface.allocLen];
    if (!query_page(fd, kInterface, buf, "get port type failed.\n", __func__)) {
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

int get_lun_name(int fd, char* dest, size_t size) {
    unsigned char buf[kLun.allocLen];
    if (!query_page(fd, kLun, buf, "get lun name failed\n", __func__)) {
        return -1;
    }
    (void)memcpy_s(dest, size, buf + kLunLunName.offset, kLunLunName.length);
    return 0;
}

int get_host_lunID(int fd, char* dest, size_t size) {
    unsigned char buf[kLun.allocLen];
    if (!query_page(fd, kLun, buf, "get host lun id failed\n", __func__)) {
        return -1;
    }
    // Bytes 85..88 of page 0xC8, most significant first.
    const unsigned int id = scsi_Be32(buf + 85);
    (void)sprintf_s(dest, size, "%u", id);
    return 0;
}

// The name is never read beyond the 80-byte scratch area: a length byte above
// 80 gives an empty name (deliberate: the length byte is the device's word).
void array_name_from_page(const unsigned char* page, char* dest, size_t size) {
    constexpr size_t kScratch = kLunArrayName.length;
    unsigned char scratch[kScratch];
    (void)memset_s(scratch, sizeof(scratch), 0, sizeof(scratch));
    size_t len = page[kLunArrayNameLength];
    if (memcpy_s(scratch, sizeof(scratch), page + kLunArrayName.offset, len) != BOUNDED_OK) {
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
    unsigned char buf[kLun.allocLen];
    if (!query_page(fd, kLun, buf, "get array name failed\n", __func__)) {
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
    unsigned char buf[kOwnWork.allocLen];
    if (tpg_newer_layout(version) != 0) {
        if (do_inquiry(fd, kOwnWork.evpd, kOwnWork.page, buf, kOwnWork.allocLen) != 0) {
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
    if (do_inquiry(fd, kController.evpd, kController.page, buf, kController.allocLen) != 0) {
        return -1;
    }
    unsigned char x = buf[29];
    if (do_inquiry(fd, kOwnWork.evpd, kOwnWork.page, buf, kOwnWork.allocLen) != 0) {
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

// ---- queries of one record ----

void set_all_dashes(char* const* fields, const size_t* sizes, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        set_dashes(fields[i], sizes[i]);
    }
}

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

// ---- table ----

namespace {

// Every floor is at least as wide as its heading, so the floors alone give the
// widths of a table without rows.
const Column kColumns[12] = {
    {"DiskName", g_uiVdiskNameWindow, 8},
    {"LunName", g_uiLunNameWindow, 7},
    {"WWN", g_uiWWNWindow, 24},
    {"Path", g_uiPathWindow, 8},
    {"PathStatus", g_uiPathStatusWindow, 10},
    {"HostAdapter", g_uiHostnoWindow, 11},
    {"Capacity", g_uiCapacityWindow, 8},
    {"Vendor", g_uiVendorWindow, 6},
    {"Ctrl(Own/Work)", g_uiCtrlWindow, 14},
    {"HostLunID", g_uiHostLunIDWindow, 9},
    {"ArrayName", g_uiArrayNameWindow, 9},
    {"PortType", g_uiPortTypeWindow, 8},
};

// Each cell is its text centred in its column's width and two blanks.
constexpr unsigned int kMargin = 2;
constexpr ColumnTable kTable(kColumns, kMargin);

// The path's own text, or the LUN's when the path's whole field is "--".
const char* path_or_lun(const char* path_field, const char* lun_field) {
    return strcmp(path_field, "--") == 0 ? lun_field : path_field;
}

// A queried attribute in a path row.
const char* attribute_cell(const char* path_field, const char* lun_field) {
    return kPlatform.paths_queried ? path_or_lun(path_field, lun_field) : lun_field;
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
    // The port type of a path that is not queried is the path listing's
    // transport, "--" included.
    const char* port_type =
        kPlatform.paths_queried ? path_or_lun(path->port_type, lun->port_type) : path->port_type;
    const char* row[12] = {lun->dev_name,
                           attribute_cell(path->lun_name, lun->lun_name),
                           attribute_cell(path->wwn, lun->wwn),
                           path->dev_name,
                           path->path_status,
                           path->host_no,
                           lun->capacity,
                           attribute_cell(path->vendor, lun->vendor),
                           attribute_cell(path->ctrl, lun->ctrl),
                           attribute_cell(path->host_lun_id, lun->host_lun_id),
                           attribute_cell(path->array_name, lun->array_name),
                           port_type};
    for (int i = 0; i < 12; ++i) {
        cells[i] = row[i];
    }
}

void measure_row(const char* const cells[12]) {
    kTable.Measure(cells);
}

// One cell through print_str_in_mid, which flushes it.
void put_cell(const char* text, unsigned int width, CellAlign /*align*/, FILE* /*out*/) {
    print_str_in_mid(text, width);
}

void print_row(const char* const cells[12]) {
    kTable.PutRow(cells, put_cell, stdout);
    (void)fflush(stdout);
}

}  // namespace

unsigned int CHOOSE_LEN(unsigned int current, size_t len, unsigned int minimum) {
    return RaisedWidth(current, len, minimum);
}

void reset_windows(void) {
    for (const Column& c : kColumns) {
        c.width = 0;
    }
    g_uiTotalWindow = 0;
}

void calc_window_len(list_head* head) {
    const char* cells[12];
    for (list_head* l = head->next; l != head; l = l->next) {
        const LunInfo* lun = lun_of(l);
        if (list_empty(&lun->paths)) {
            if (!kPlatform.lun_rows) {
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
    PutRule(count, '-', stdout);
    (void)fflush(stdout);
}

// tsexTool's print_str_in_mid prints nothing for a text wider than its cell;
// this one prints it whole, so the two stay wrappers of their own.
void print_str_in_mid(const char* text, unsigned int width) {
    if (text == nullptr) {
        ts_log(2, "invalid buf\n");
        return;
    }
    // Measured as it came, printed with '?' for each byte a terminal would act
    // on: a LUN, array or listed device name that holds an ESC sequence must
    // not clear or retitle the administrator's terminal, and the widths stay.
    PutCell(text, width, CellAlign::kCentre, stdout);
    (void)fflush(stdout);
}

void print_header(void) {
    // Deliberate: a table without a measured row (an ESXi host whose LUNs have
    // no paths) still gets the minimum widths; its headings would otherwise
    // run together. Every measured table has them already.
    kTable.ApplyFloors();
    g_uiTotalWindow = kTable.RuleLength();
    print_dash(g_uiTotalWindow);
    out("\n");
    kTable.PutHeadings(put_cell, stdout);
    (void)fflush(stdout);
}

void print_end(void) {
    print_dash(g_uiTotalWindow);
    out("\n");
    if (g_isdm == 1) {
        out("These disks are not managed by Multipath.\n");
    }
}

int print_info(void) {
    if (list_empty(&g_lunlist)) {
        out("There is no Qelmar disk\n");
        return 0;
    }
    calc_window_len(&g_lunlist);
    print_header();
    const char* cells[12];
    for (list_head* l = g_lunlist.next; l != &g_lunlist; l = l->next) {
        LunInfo* lun = lun_of(l);
        if (list_empty(&lun->paths)) {
            if (!kPlatform.lun_rows) {
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
    if (kPlatform.table_end) {
        print_end();
    }
    return 0;
}

int check_tessaro(void) {
    if (!kPlatform.product_installed()) {
        return 0;
    }
    ts_log(1, "Tessaro is installed.\n");
    return -1;
}

// ---- the --json document ----

namespace {

// A table cell's text: null where the table shows "--" (a query that failed,
// a port type the device did not name), else the text as it stands, empty
// included, so that every cell can be rebuilt.
void put_cell_text(JsonWriter& json, const char* key, const char* text) {
    if (strcmp(text, "--") == 0) {
        json.KeyNull(key);
    } else {
        json.KeyString(key, text);
    }
}

// A text of decimal digits as its number, anything else as null.
void put_decimal(JsonWriter& json, const char* key, const char* text, bool is_signed) {
    const char* digits = is_signed && text[0] == '-' ? text + 1 : text;
    const size_t len = strlen(digits);
    if (len == 0 || len > 18 || strspn(digits, "0123456789") != len) {
        json.KeyNull(key);
        return;
    }
    const long long value = strtoll(text, nullptr, 10);
    json.KeyInt(key, value);
}

// The queried attributes of a record, in the table's column order.
void put_attributes(JsonWriter& json, const char* lun_name, const char* wwn, const char* vendor,
                    const char* ctrl, const char* host_lun_id, const char* array_name) {
    put_cell_text(json, "lun_name", lun_name);
    put_cell_text(json, "wwn", wwn);
    put_cell_text(json, "vendor", vendor);
    put_cell_text(json, "ctrl", ctrl);
    put_decimal(json, "host_lun_id", host_lun_id, false);
    put_cell_text(json, "array_name", array_name);
}

// Whether the run's deadline left the node of a path without its answers:
// Linux opens the name itself, the ESXi shell its /dev/disks node.
bool not_checked(const char* dev_name) {
    return query_NotChecked(dev_name) ||
           query_NotChecked((std::string("/dev/disks/") + dev_name).c_str());
}

void put_path(JsonWriter& json, const LunInfo* lun, const LunInfo* path) {
    const char* cells[12];
    row_cells(lun, path, cells);
    json.BeginObject();
    put_cell_text(json, "path", path->dev_name);
    // Never "failed" for a path our own deadline left unchecked.
    put_cell_text(json, "path_status", not_checked(path->dev_name) ? "unknown" : path->path_status);
    put_decimal(json, "host_adapter", path->host_no, true);
    if (kPlatform.paths_queried) {
        put_attributes(json, path->lun_name, path->wwn, path->vendor, path->ctrl, path->host_lun_id,
                       path->array_name);
    }
    put_cell_text(json, "port_type", path->port_type);
    // What the path's row shows under the LUN attribute columns: the path's
    // own value or the LUN's, by the platform's row rule.
    json.Key("shown");
    json.BeginObject();
    put_attributes(json, cells[1], cells[2], cells[7], cells[8], cells[9], cells[10]);
    put_cell_text(json, "port_type", cells[11]);
    json.EndObject();
    json.EndObject();
}

void put_lun(JsonWriter& json, const LunInfo* lun) {
    json.BeginObject();
    put_cell_text(json, "dev_name", lun->dev_name);
    put_cell_text(json, "lun_name", lun->lun_name);
    put_cell_text(json, "wwn", lun->wwn);
    put_cell_text(json, "capacity", lun->capacity);
    unsigned long long bytes = 0;
    if (capacity_bytes_of(lun, &bytes)) {
        json.KeyUnsigned("capacity_bytes", bytes);
    } else {
        json.KeyNull("capacity_bytes");
    }
    put_cell_text(json, "vendor", lun->vendor);
    put_cell_text(json, "ctrl", lun->ctrl);
    put_decimal(json, "host_lun_id", lun->host_lun_id, false);
    put_cell_text(json, "array_name", lun->array_name);
    if (kPlatform.lun_rows) {
        // Only a LUN with a row of its own shows these.
        put_cell_text(json, "port_type", lun->port_type);
        put_decimal(json, "host_adapter", lun->host_no, true);
    }
    json.Key("paths");
    json.BeginArray();
    for (const list_head* p = lun->paths.next; p != &lun->paths; p = p->next) {
        put_path(json, lun, lun_of(const_cast<list_head*>(p)));
    }
    json.EndArray();
    json.EndObject();
}

void json_begin(JsonWriter& json) {
    json.BeginObject();
    json.KeyInt("schema_version", 1);
    json.KeyString("program", "ts_showdisk");
    json.KeyString("platform", kPlatform.json_platform);
    json.Key("log");
    json.BeginArray();
}

// Closes the log and the document; result says how the run ended, and a
// listed run carries its LUNs. The run's status, or 1 for a broken document.
int json_end(JsonWriter& json, const char* result, int status) {
    json.EndArray();
    json.KeyString("result", result);
    if (strcmp(result, "listed") == 0) {
        if (kPlatform.table_end) {
            // The table's "not managed by Multipath" note.
            json.KeyBool("multipath", g_isdm != 1);
        }
        json.Key("luns");
        json.BeginArray();
        for (list_head* l = g_lunlist.next; l != &g_lunlist; l = l->next) {
            put_lun(json, lun_of(l));
        }
        json.EndArray();
    }
    PutDeadlineMember(json);
    json.EndObject();
    s_json = nullptr;
    return json.Finish() ? status : 1;
}

}  // namespace

// ---- the run ----

namespace {

enum class FirstArgument { Run, Version, Invalid };

// Only the first argument counts. Linux: -v, -l, anything else ignored.
// ESXi: -v/--version, -l/-L, anything else invalid.
FirstArgument read_first_argument(int argc, const char* const argv[]) {
    if (argc < 2) {
        return FirstArgument::Run;
    }
    const char* arg = argv[1];
    const bool esxi = kPlatform.esxi_arguments;
    if (strcmp(arg, "-v") == 0 || (esxi && strcmp(arg, "--version") == 0)) {
        return FirstArgument::Version;
    }
    if (strcmp(arg, "-l") == 0 || (esxi && strcmp(arg, "-L") == 0)) {
        g_level = 0;
        return FirstArgument::Run;
    }
    return esxi ? FirstArgument::Invalid : FirstArgument::Run;
}

struct LeadingOptions {
    bool json = false;
    bool help = false;
    bool bad_jobs = false;
    bool bad_timeout = false;
    unsigned timeout = 0;  // seconds; 0: no deadline
    int skipped = 0;       // words taken before the first argument of old
};

// --jobs N, --timeout SECONDS, --json and --help lead the words; what follows them is read as
// before.
LeadingOptions read_leading_options(int argc, const char* const argv[]) {
    LeadingOptions lead;
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        if (strcmp(arg, "--help") == 0) {
            lead.help = true;
            return lead;
        }
        if (strcmp(arg, "--jobs") == 0) {
            if (i + 1 >= argc || !ParseJobs(argv[i + 1], &g_jobs)) {
                lead.bad_jobs = true;
                return lead;
            }
            lead.skipped = ++i;
            continue;
        }
        if (strcmp(arg, "--timeout") == 0) {
            if (i + 1 >= argc || !query_ParseSeconds(argv[i + 1], &lead.timeout)) {
                lead.bad_timeout = true;
                return lead;
            }
            lead.skipped = ++i;
            continue;
        }
        if (strcmp(arg, "--json") != 0 || lead.json) {
            break;
        }
        lead.json = true;
        lead.skipped = i;
    }
    return lead;
}

// The table's last line and the run's status when the deadline cut it.
int cut_status(int status, bool json) {
    if (query_Outcome() == QUERY_COMPLETE) {
        return status;
    }
    if (!json) {
        out(query_SummaryLine().c_str());
    }
    return 1;
}

// Discovery and queries, then the table or the document; the exit status.
int list_luns(void) {
    if (check_tessaro() != 0) {
        if (s_json != nullptr) {
            return json_end(*s_json, "product_installed", 1);
        }
        out("Tessaro is installed in the OS. Please use Tessaro CLI.\n");
        return 1;
    }
    if (!list_paths_first()) {
        return s_json != nullptr ? json_end(*s_json, "path_list_failed", 1) : 1;
    }
    if (get_lun_list() != 0) {
        ts_log(3, "%s", kPlatform.lun_list_failed);
        return s_json != nullptr ? json_end(*s_json, "lun_list_failed", 1) : 1;
    }
    if (get_info() != 0) {
        ts_log(3, "%s", kPlatform.lun_info_failed);
        return s_json != nullptr ? json_end(*s_json, "lun_info_failed", 1) : 1;
    }
    int status = 0;
    if (s_json != nullptr) {
        status = json_end(*s_json, "listed", 0);
    } else if (print_info() != 0) {
        ts_log(3, "print lun info failed\n");
        return 1;
    }
    free_lists();
    return status;
}

}  // namespace

int run_showdisk(int argc, char* argv[]) {
    INIT_LIST_HEAD(&g_lunlist);
    const LeadingOptions lead = read_leading_options(argc, argv);
    if (lead.help) {
        out(kPlatform.help_text);
        return 0;
    }
    if (lead.bad_jobs) {
        out("Error: --jobs needs a number from 1 to 1024.\n");
        return 1;
    }
    if (lead.bad_timeout) {
        out("Error: --timeout needs a whole number of seconds from 1 to 3600.\n");
        return 1;
    }
    switch (read_first_argument(argc - lead.skipped, argv + lead.skipped)) {
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
    // A deadline: the queries go to a process of their own, and this one
    // answers from its journal (query_process.h).
    const bool started = lead.timeout != 0 && query_Start(lead.timeout) == 0;
    if (started && !query_InChild()) {
        g_jobs = 1;  // over the journal nothing waits: one LUN after another
    }
    const bool listed = !started || query_InChild() || !query_ListingMissing();
    if (!lead.json) {
        const int status = listed ? list_luns() : 1;
        if (query_InChild()) {
            query_ChildEnd();
        }
        return cut_status(status, false);
    }
    JsonWriter json(stdout);
    s_json = &json;
    json_begin(json);
    int status = listed ? list_luns() : json_end(json, "deadline", 1);
    if (query_InChild()) {
        query_ChildEnd();
    }
    status = cut_status(status, true);
    s_json = nullptr;
    return status;
}
