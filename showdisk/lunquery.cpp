// ts_showdisk's SCSI senders and attribute queries, the same on Linux and in
// the ESXi shell: TEST UNIT READY ahead of each INQUIRY of the program's
// plan, the cell text each page gives, and the pool that queries records
// side by side.
#include "lunquery.h"

#include <stdio.h>
#include <string.h>

#include "boundedfunc.h"
#include "job_pool.h"
#include "lun_decode.h"
#include "lun_pages.h"
#include "lun_plan.h"
#include "lun_send.h"
#include "luninfo_platform.h"
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

// The ESXi build words a failed INQUIRY ioctl its own way.
const LunSender& sender() {
    static const LunSender kSender = {
        kSgTimeoutMs,
        ts_log,
        kTurIoctlFailed,
        kPlatform.inquiry_ioctl_failed,
        "inqury page 0x%x failed.status:%d, host_status:%d, driver_status:%d\n",
    };
    return kSender;
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
    return lun_SendTur(fd, sender());
}

// A missing buffer or a length of 0 or less sends nothing and says nothing.
int do_inquiry(int fd, int evpd, int page, unsigned char* buf, int len) {
    return lun_SendInquiry(fd, sender(), static_cast<unsigned char>(evpd),
                           static_cast<unsigned char>(page), buf, len);
}

// ---- attribute queries ----

int get_vid(int fd, char* dest, size_t size) {
    unsigned char buf[kStandard.allocLen];
    if (!query_page(fd, kStandard, buf, "get vendor failed\n", __func__)) {
        return -1;
    }
    (void)lun_Text(buf, sizeof(buf), kLunVendorId, LunText::BlanksEnd, dest, size);
    return 0;
}

int get_wwn(int fd, char* dest, size_t size) {
    unsigned char buf[kIdentification.allocLen];
    if (!query_page(fd, kIdentification, buf, "get wwn failed.\n", __func__)) {
        return -1;
    }
    // A first designator that is no 16-byte NAA one names no LUN: "--".
    const int readable = lun_ReadableLength(buf, sizeof(buf), LunLength::Buffer);
    if (!lun_Wwn(buf, readable, dest, size)) {
        (void)sprintf_s(dest, size, "%s", "--");
    }
    return 0;
}

int get_interface_version(int fd, char* dest, size_t size) {
    unsigned char buf[kInterface.allocLen];
    if (!query_page(fd, kInterface, buf, "get interface version failed.\n", __func__)) {
        return -1;
    }
    (void)memcpy_s(dest, size, buf + kLunInterfaceVersion.offset, kLunInterfaceVersion.length);
    return 0;
}

int get_port_type(int fd, char* dest, size_t size) {
    unsigned char buf[kInterface.allocLen];
    if (!query_page(fd, kInterface, buf, "get port type failed.\n", __func__)) {
        return -1;
    }
    const char* text = lun_PortTypeText(buf[kLunPortType.offset], LunPortTypes::Every);
    (void)sprintf_s(dest, size, "%s", text);
    return 0;
}

int get_lun_name(int fd, char* dest, size_t size) {
    unsigned char buf[kLun.allocLen];
    if (!query_page(fd, kLun, buf, "get lun name failed\n", __func__)) {
        return -1;
    }
    (void)lun_Text(buf, sizeof(buf), kLunLunName, LunText::AsSent, dest, size);
    return 0;
}

int get_host_lunID(int fd, char* dest, size_t size) {
    unsigned char buf[kLun.allocLen];
    if (!query_page(fd, kLun, buf, "get host lun id failed\n", __func__)) {
        return -1;
    }
    const unsigned int id = lun_Number(buf, sizeof(buf), kLunHostLunId);
    (void)sprintf_s(dest, size, "%u", id);
    return 0;
}

int get_array_name(int fd, char* dest, size_t size) {
    unsigned char buf[kLun.allocLen];
    if (!query_page(fd, kLun, buf, "get array name failed\n", __func__)) {
        return -1;
    }
    (void)lun_ArrayNameOf(buf, sizeof(buf), sizeof(buf), 0, LunArrayName::NonZeroBytes, dest, size);
    return 0;
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
    // Above interface version 514 page 0xC9 names the controllers.
    if (lun_InterfaceVersion(version, LunVersion::OlderPlaceSigned) > kLunVersionLetters) {
        if (do_inquiry(fd, kOwnWork.evpd, kOwnWork.page, buf, kOwnWork.allocLen) != 0) {
            report_query_failure(__func__, kTpgReportLine, "get tpg failed.\n");
            return -1;
        }
        char half[9];
        (void)memset_s(half, sizeof(half), 0, sizeof(half));
        (void)lun_Text(buf, sizeof(buf), kLunOwnController, LunText::ToNul, work, sizeof(work));
        (void)strcat_s(work, sizeof(work), "/");
        (void)lun_Text(buf, sizeof(buf), kLunWorkController, LunText::ToNul, half, sizeof(half));
        (void)strcat_s(work, sizeof(work), half);
        (void)sprintf_s(dest, size, "%s", work);
        return 0;
    }
    if (do_inquiry(fd, kController.evpd, kController.page, buf, kController.allocLen) != 0) {
        return -1;
    }
    unsigned char x = buf[kLunControllerCode.offset];
    if (do_inquiry(fd, kOwnWork.evpd, kOwnWork.page, buf, kOwnWork.allocLen) != 0) {
        return -1;
    }
    lun_OwnWorkPairText(x, buf[kLunWorkCode.offset], buf[kLunOwnCode.offset], dest, size);
    return 0;
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
