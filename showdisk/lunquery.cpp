// ts_showdisk's SCSI senders and attribute queries, the same on Linux and in
// the ESXi shell: TEST UNIT READY ahead of each INQUIRY of the program's
// plan, the cell text each page gives, and the pool that queries records
// side by side.
#include "lunquery.h"

#include <stdio.h>
#include <string.h>

#include "boundedfunc.h"
#include "hex_text.h"
#include "job_pool.h"
#include "lun_pages.h"
#include "lun_plan.h"
#include "luninfo_platform.h"
#include "scsi_bytes.h"
#include "scsi_commands.h"
#include "showdisk_log.h"

namespace {

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

void set_dashes(char* field, size_t size) {
    (void)strncpy_s(field, size, "--", 2);
}

void report_send_failure(const char* format, const ScsiExchange& exchange) {
    const int err = exchange.request.sysError;
    ts_log(3, format, strerror(err), err);
}

// The ESXi build names the query and a line number in its failure reports
// ("[get_wwn: 102] send tur failed."). The numbers are those the program
// has always printed, one for each kind of failure, whatever line reports
// it now.
constexpr int kTurReportLine = 102;
constexpr int kInquiryReportLine = 117;
constexpr int kTpgReportLine = 453;

// A query's failure report at threshold 0; line is the number the ESXi
// build prints with the query's name.
void report_query_failure(const char* who, int line, const char* text) {
    if (kPlatform.query_report_names_query) {
        ts_log(0, "[%s: %d] %s", who, line, text);
    } else {
        ts_log(0, "%s", text);
    }
}

// TEST UNIT READY ahead of a query; who is the query.
bool tur_ok(int fd, const char* who) {
    if (do_tur(fd) != 0) {
        report_query_failure(who, kTurReportLine, "send tur failed.\n");
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
        report_query_failure(who, kInquiryReportLine, failure);
        return false;
    }
    return true;
}

}  // namespace

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
            report_query_failure(__func__, kTpgReportLine, "get tpg failed.\n");
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
    (void)PutHexDigits(src + start, count, dest, size);
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

// ---- records side by side ----

std::vector<std::string> run_side_by_side(const std::vector<std::string_view>& nodes,
                                          const std::function<void(size_t)>& work) {
    std::vector<std::string> reports(nodes.size());
    RunJobsPerNode(nodes, g_jobs, [&reports, &work](size_t i) {
        ts_log_capture(&reports[i]);
        work(i);
        ts_log_capture(nullptr);
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

void take_dev_info(LunInfo* record, const std::vector<std::string>& reports, size_t i) {
    if (reports.empty()) {
        (void)get_dev_info(record);
        return;
    }
    ts_log_replay(reports[i]);
}
