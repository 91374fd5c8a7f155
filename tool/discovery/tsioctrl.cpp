// tsexTool SCSI pass-through: the SG_IO command senders, the sense decoder,
// and the identification of one device node from its standard INQUIRY data,
// the arrays' vital product data pages and READ CAPACITY.
#include "discovery/tsioctrl.h"

#include <fcntl.h>

#include <cstring>

#include "../../common/hex_text.h"
#include "../../common/query_process.h"
#include "../../common/unique_fd.h"
#include "boundedfunc.h"
#include "lun_decode.h"
#include "lun_pages.h"
#include "lun_plan.h"
#include "lun_send.h"
#include "lun_vendor.h"
#include "scsi_bytes.h"
#include "scsi_commands.h"
#include "tslog.h"

namespace {

// Milliseconds, as SG_IO counts them. On block device nodes the Linux block
// layer raises any SG_IO timeout below 7 seconds to 7 seconds (BLK_MIN_SG_TIMEOUT),
// so this small value never cuts a command short there.
constexpr unsigned int kSgTimeoutMs = 10;

// The INQUIRY steps of tsexTool's plan (lun_plan.h): page and allocation
// length of each request, and the size of its buffer.
constexpr LunInquiry kStandard = lun_PlanStep(kLunToolPlan, 0, kLunPageStandard);
constexpr LunInquiry kInterface = lun_PlanStep(kLunToolPlan, 1, kLunPageInterface);
constexpr LunInquiry kSerial = lun_PlanStep(kLunToolPlan, 1, kLunPageSerial);
constexpr LunInquiry kIdentification = lun_PlanStep(kLunToolPlan, 1, kLunPageIdentification);
constexpr LunInquiry kController = lun_PlanStep(kLunToolPlan, 1, kLunPageController);
constexpr LunInquiry kLun = lun_PlanStep(kLunToolPlan, 1, kLunPageLun);
constexpr LunInquiry kOwnWork = lun_PlanStep(kLunToolPlan, 1, kLunPageOwnWork);
static_assert(kStandard.allocLen != 0 && kInterface.allocLen != 0 && kSerial.allocLen != 0 &&
                  kIdentification.allocLen != 0 && kController.allocLen != 0 &&
                  kLun.allocLen != 0 && kOwnWork.allocLen != 0,
              "every page tsexTool reads is in its plan");

// The ioctl itself failed; reported alike by every sender.
const char* const kSendFailed = "Execute ioctl(SG_IO) failed: %s (errno=%d)\n";

const LunSender kSender = {
    kSgTimeoutMs,
    tsprint_Log,
    kSendFailed,
    kSendFailed,
    "Get inqury page[opcode=0x%x] failed with error[status:%d host_status:%d "
    "driver_status:%d].\n",
};

void LogSendFailure(const ScsiExchange& exchange) {
    const int err = exchange.request.sysError;
    tsprint_Log(kLunSendReportLevel, kSendFailed, strerror(err), err);
}

// A READ CAPACITY that came back with an error status; which is "short"
// (the 10-byte command) or "long" (the 16-byte one).
void LogCapacityFailure(const char* which, const ScsiExchange& exchange) {
    const ScsiRequest& done = exchange.request;
    tsprint_Log(3,
                "Get read %s capacity failed with error[status:%d host_status:%d "
                "driver_status:%d].\n",
                which, done.status, done.hostStatus, done.driverStatus);
}

uint64_t CapacityBytes(uint64_t lastLba, uint32_t blockLength) {
    return (lastLba + 1) * blockLength;
}

// ---------------------------------------------------------------------------
// Page reading helpers. tsexTool reads a page to the length the device gave
// it, and takes its text fields with every byte the field holds.

int Readable(const unsigned char* page, int allocLen) {
    return lun_ReadableLength(page, allocLen, LunLength::Page);
}

void CopyField(const unsigned char* page, int allocLen, const LunField& field, char* dest,
               size_t size) {
    (void)lun_Text(page, allocLen, field, LunText::AsSent, dest, size);
}

template <size_t N>
void CopyField(const unsigned char* page, int allocLen, const LunField& field, TsText<N>* text) {
    CopyField(page, allocLen, field, text->data(), text->size());
}

template <size_t N>
void PutLunId(const unsigned char* page, int allocLen, const LunField& field, TsText<N>* text) {
    (void)sprintf_s(text->data(), text->size(), "%u", lun_LowNumber(page, allocLen, field));
}

// Sends one INQUIRY of the plan into buffer (its allocation length in
// bytes) and records its outcome in acInqStatus.
int FetchPage(int fd, DevInfo* dev, const LunInquiry& step, unsigned char* buffer) {
    int ret = tsioctrl_Inquiry(fd, step.evpd, step.page, buffer, step.allocLen);
    UpdateDevinfoInquiryState(dev, ret);
    return ret;
}

}  // namespace

// ---------------------------------------------------------------------------
// Senders.

int tsioctrl_TUR(int fd) {
    return lun_SendTur(fd, kSender);
}

int tsioctrl_Inquiry(int fd, unsigned char evpd, unsigned char pageCode, unsigned char* buffer,
                     int allocLen) {
    return lun_SendInquiry(fd, kSender, evpd, pageCode, buffer, allocLen);
}

int tsioctrl_ReadCapacity(int fd, uint64_t* capacity) {
    ScsiExchange exchange;
    uint32_t lastLba = 0;
    uint32_t blockLength = 0;
    const int result = scsi_ReadCapacity10(fd, kSgTimeoutMs, &lastLba, &blockLength, &exchange);
    if (result == SCSI_SEND_FAILED) {
        LogSendFailure(exchange);
        return tsioctrl_ReadLongCapacity(fd, capacity);
    }
    if (result != SCSI_GOOD) {
        LogCapacityFailure("short", exchange);
        return tsioctrl_ReadLongCapacity(fd, capacity);
    }
    // All ones: the device is too large for the 10-byte command.
    if (lastLba == 0xFFFFFFFFU) {
        return tsioctrl_ReadLongCapacity(fd, capacity);
    }
    *capacity = CapacityBytes(lastLba, blockLength);
    return 0;
}

int tsioctrl_ReadLongCapacity(int fd, uint64_t* capacity) {
    ScsiExchange exchange;
    uint64_t lastLba = 0;
    uint32_t blockLength = 0;
    const int result = scsi_ReadCapacity16(fd, kSgTimeoutMs, &lastLba, &blockLength, &exchange);
    if (result == SCSI_SEND_FAILED) {
        LogSendFailure(exchange);
        return -1;
    }
    if (result != SCSI_GOOD) {
        LogCapacityFailure("long", exchange);
        return -1;
    }
    *capacity = CapacityBytes(lastLba, blockLength);
    return 0;
}

void Analyze_sg_io_hdr(const sg_io_hdr_t* hdr, int* senseKey, int* asc, int* ascq) {
    if (hdr == nullptr) {
        return;
    }
    scsi_DecodeSense(hdr->sbp, hdr->sb_len_wr, senseKey, asc, ascq);
}

// ---------------------------------------------------------------------------
// Byte and text helpers.

uint32_t GetUnalignedBe32(const unsigned char* bytes) {
    return scsi_Be32(bytes);
}

int tsioctrl_AsciiToString(const unsigned char* src, int count, char* dest, int destSize,
                           int trim) {
    if (src == nullptr || dest == nullptr || count <= 0) {
        return -1;
    }
    if (trim == 1) {
        while (count > 0 && src[count - 1] == 0) {
            --count;
        }
    }
    if (destSize < 2 * count + 1) {
        return -1;
    }
    (void)PutHexDigits(src, static_cast<size_t>(count), dest, static_cast<size_t>(destSize));
    dest[2 * count] = '\0';
    return 0;
}

void TrimHeadTailBlankSpace(const char* src, char* dest, int destSize) {
    if (src == nullptr || dest == nullptr || destSize <= 0) {
        return;
    }
    const char* start = src;
    while (*start == ' ') {
        ++start;
    }
    size_t length = strlen(start);
    while (length > 0 && start[length - 1] == ' ') {
        --length;
    }
    if (length == 0) {
        dest[0] = '\0';
        return;
    }
    if (memcpy_s(dest, static_cast<size_t>(destSize - 1), start, length) != BOUNDED_OK) {
        dest[0] = '\0';
        return;
    }
    dest[length] = '\0';
}

// ---------------------------------------------------------------------------
// Decoders.

int DecodePageSTD(const unsigned char* page, int allocLen, DevInfo* dev) {
    constexpr int kTextSize = 64;
    char vendorRaw[kTextSize];
    char productRaw[kTextSize];
    char vendor[kTextSize];
    char product[kTextSize];
    (void)memset_s(vendorRaw, sizeof(vendorRaw), 0, sizeof(vendorRaw));
    (void)memset_s(productRaw, sizeof(productRaw), 0, sizeof(productRaw));
    (void)memset_s(vendor, sizeof(vendor), 0, sizeof(vendor));
    (void)memset_s(product, sizeof(product), 0, sizeof(product));
    CopyField(page, allocLen, kLunVendorId, vendorRaw, kTextSize);
    CopyField(page, allocLen, kLunProductId, productRaw, kTextSize);
    TrimHeadTailBlankSpace(vendorRaw, vendor, kTextSize);
    TrimHeadTailBlankSpace(productRaw, product, kTextSize);

    // The trimmed field must be one of the names whole: a longer word is
    // another vendor's.
    if (lun_IsVendorName(vendor)) {
        (void)sprintf_s(dev->acVidPid.data(), dev->acVidPid.size(), "%s/%s", vendor, product);
        return TS_OK;
    }
    return TS_ERR_NOT_VENDOR;
}

int DecodePageC0(const unsigned char* page, int allocLen, DevInfo* dev) {
    const int usable = Readable(page, allocLen);
    if (!lun_FieldSent(usable, kLunShieldByte)) {
        return -1;
    }
    dev->iShieldTpg = (page[kLunShieldByte.offset] & 0x40) != 0 ? 1 : 0;
    if (lun_Qualifier(page, allocLen) != 0) {
        dev->iShieldTpg = 1;
    }

    if (!lun_FieldSent(usable, kLunDualArrayByte)) {
        return -1;
    }
    if ((page[kLunDualArrayByte.offset] & 0xC0) != 0) {
        dev->iDualArray = 1;
    }

    if (!lun_FieldSent(usable, kLunInterfaceVersion)) {
        return -1;
    }
    dev->iIfVersion =
        lun_InterfaceVersion(page + kLunInterfaceVersion.offset, LunVersion::EitherPlace);
    if (dev->iIfVersion < kLunPortType.fromVersion) {
        return 0;
    }

    if (!lun_FieldSent(usable, kLunPortType)) {
        return -1;
    }
    (void)sprintf_s(dev->acPortType.data(), dev->acPortType.size(), "%s",
                    lun_PortTypeText(page[kLunPortType.offset], LunPortTypes::FcAndIscsi));

    if (!lun_FieldSent(usable, kLunTargetPortId)) {
        return -1;
    }
    CopyField(page, allocLen, kLunTargetPortId, &dev->acTargetWwn);

    if (!lun_FieldSent(usable, kLunInitiatorPortId)) {
        return -1;
    }
    CopyField(page, allocLen, kLunInitiatorPortId, &dev->acHostWwn);
    return 0;
}

int DecodePage80(const unsigned char* page, int allocLen, DevInfo* dev) {
    // The serial number runs to the end of the page; its first 20
    // characters are kept.
    constexpr LunField kSerialKept = {kLunUnitSerial.page, kLunUnitSerial.offset, 20,
                                      kLunUnitSerial.holds};
    if (!lun_FieldSent(Readable(page, allocLen), kSerialKept)) {
        return -1;
    }
    CopyField(page, allocLen, kSerialKept, &dev->acArraySn);
    return 0;
}

int DecodePage83(const unsigned char* page, int allocLen, DevInfo* dev) {
    if (lun_Qualifier(page, allocLen) != 0) {
        return -1;
    }
    // No WWN: the field keeps "--".
    return lun_Wwn(page, Readable(page, allocLen), dev->acLunWwn.data(), dev->acLunWwn.size()) ? 0
                                                                                               : -1;
}

int DecodePageC4(const unsigned char* page, int allocLen, DevInfo* dev) {
    if (!lun_FieldSent(Readable(page, allocLen), kLunControllerCode)) {
        return -1;
    }
    const int index = lun_ControllerIndex(page[kLunControllerCode.offset]);
    (void)sprintf_s(dev->acCtrl.data(), dev->acCtrl.size(), "%c", 'A' + index);
    return 0;
}

int DecodePageC8(const unsigned char* page, int allocLen, DevInfo* dev) {
    const int usable = Readable(page, allocLen);
    const bool qualified = lun_Qualifier(page, allocLen) == 0;
    if (!lun_FieldSent(usable, kLunLunName)) {
        return -1;
    }
    if (qualified) {
        CopyField(page, allocLen, kLunLunName, &dev->acLunName);
    }

    if (!lun_FieldSent(usable, kLunHostLunId)) {
        return -1;
    }
    if (qualified) {
        PutLunId(page, allocLen, kLunHostLunId, &dev->acArrayLunId);
    }

    if (!lun_FieldSent(usable, kLunRawLunId)) {
        return -1;
    }
    CopyField(page, allocLen, kLunRawLunId, &dev->acRawLunId);

    // No terminator: the name ends at its first zero character or at the
    // zero bytes of the field behind it.
    if (lun_ArrayNameOf(page, allocLen, usable, dev->iIfVersion, LunArrayName::SecondBytes,
                        dev->acArrayName.data(), dev->acArrayName.size()) != 0) {
        return -1;
    }

    if (dev->iIfVersion < kLunDevLunId.fromVersion) {
        return 0;
    }
    if (!lun_FieldSent(usable, kLunDevLunId)) {
        return -1;
    }
    if (qualified) {
        PutLunId(page, allocLen, kLunDevLunId, &dev->acDevLunId);
    }
    return 0;
}

namespace {

// The controller this path enters; before 514 page 0xC4 told it.
int PathController(const unsigned char* page, int usable, DevInfo* dev) {
    if (dev->iIfVersion >= kLunPathController.fromVersion) {
        if (!lun_FieldSent(usable, kLunPathController)) {
            return -1;
        }
        (void)lun_Text(page, usable, kLunPathController, LunText::AsSent, dev->acCtrl.data(),
                       dev->acCtrl.size());
    } else if (dev->iIfVersion == kLunPathLetter.fromVersion) {
        if (!lun_FieldSent(usable, kLunPathLetter)) {
            return -1;
        }
        (void)sprintf_s(dev->acCtrl.data(), dev->acCtrl.size(), "%c",
                        lun_ControllerLetter(page[kLunPathLetter.offset]));
    }
    return 0;
}

// The owning and working controllers as "owning/working".
int OwnWork(const unsigned char* page, int usable, DevInfo* dev) {
    constexpr int kNameSize = 32;
    char owning[kNameSize];
    char working[kNameSize];
    (void)memset_s(owning, sizeof(owning), 0, sizeof(owning));
    (void)memset_s(working, sizeof(working), 0, sizeof(working));
    const int version = dev->iIfVersion;
    if (version >= kLunOwnController.fromVersion) {
        if (!lun_FieldSent(usable, kLunOwnController)) {
            return -1;
        }
        (void)lun_Text(page, usable, kLunOwnController, LunText::AsSent, owning, kNameSize);
        (void)lun_Text(page, usable, kLunWorkController, LunText::AsSent, working, kNameSize);
    } else if (version == kLunOwnLetter.fromVersion) {
        if (!lun_FieldSent(usable, kLunPathLetter)) {
            return -1;
        }
        (void)sprintf_s(owning, kNameSize, "%c", lun_ControllerLetter(page[kLunOwnLetter.offset]));
        (void)sprintf_s(working, kNameSize, "%c",
                        lun_ControllerLetter(page[kLunWorkLetter.offset]));
    } else {
        if (!lun_FieldSent(usable, kLunOwnCode)) {
            return -1;
        }
        AnalyzeWorkOwnTpgid(page, dev->acCtrl.data(), working, owning, kNameSize);
    }
    (void)sprintf_s(dev->acOwnWork.data(), dev->acOwnWork.size(), "%s/%s", owning, working);
    return 0;
}

}  // namespace

int DecodePageC9(const unsigned char* page, int allocLen, DevInfo* dev) {
    const int usable = Readable(page, allocLen);
    const bool qualified = lun_Qualifier(page, allocLen) == 0;
    if (PathController(page, usable, dev) != 0) {
        return -1;
    }
    // The owning and working controllers, only from a qualified page.
    if (qualified && OwnWork(page, usable, dev) != 0) {
        return -1;
    }

    if (usable < 11) {
        return -1;
    }
    if (!qualified) {
        dev->iShieldTpg = 1;
    }

    if (dev->iIfVersion < kLunPortId.fromVersion) {
        return -1;
    }
    // The identifier, and the byte behind it that ends it.
    if (usable < lun_FieldEnd(kLunPortId) + 1) {
        return -1;
    }
    CopyField(page, allocLen, kLunPortId, &dev->acPortId);
    return 0;
}

void AnalyzeWorkOwnTpgid(const unsigned char* page, const char* ctrl, char* work, char* own,
                         int size) {
    lun_OwnWorkFromCodes(page, ctrl, work, own, size);
}

void FormatCapacityText(uint64_t capacity, TsText<16>* text) {
    static const char* const kUnits[] = {"B", "K", "M", "G", "T", "P"};
    constexpr int kTopUnit = 5;
    if (capacity == 0) {
        (void)sprintf_s(text->data(), text->size(), "--");
        return;
    }
    auto group = [capacity](int unit) {
        return static_cast<int>((capacity >> (10 * unit)) & 0x3FF);
    };
    int unit = kTopUnit;
    while (unit > 0 && group(unit) == 0) {
        --unit;
    }
    const int integer = group(unit);
    const int fraction = unit > 0 ? group(unit - 1) : 0;
    // The truncated tenth of the next smaller unit: 50 MiB of a GiB is 0.0,
    // 512 MiB is 0.5.
    const int tenth = fraction * 10 / 1024;
    if (tenth == 0 && integer > 9) {
        (void)sprintf_s(text->data(), text->size(), "%d%s", integer, kUnits[unit]);
    } else {
        (void)sprintf_s(text->data(), text->size(), "%d.%c%s", integer, '0' + tenth, kUnits[unit]);
    }
}

// ---------------------------------------------------------------------------
// Fetch steps.

void UpdateDevinfoInquiryState(DevInfo* dev, int result) {
    if (dev == nullptr) {
        return;
    }
    char* state = dev->acInqStatus.data();
    const size_t bound = dev->acInqStatus.size() - 1;
    if (result == 0) {
        (void)sprintf_s(state, bound, "active");
    } else if (!tstopo_TextHasValue(state)) {
        (void)sprintf_s(state, bound, "--");
    }
}

int GetPathInfoFromPageSTD(int fd, DevInfo* dev) {
    unsigned char page[kStandard.allocLen];
    if (FetchPage(fd, dev, kStandard, page) != 0) {
        return TS_ERR_INQUIRY;
    }
    return DecodePageSTD(page, kStandard.allocLen, dev);
}

int GetPathInfoFromPageC0(int fd, DevInfo* dev) {
    unsigned char page[kInterface.allocLen];
    if (FetchPage(fd, dev, kInterface, page) != 0) {
        return -1;
    }
    return DecodePageC0(page, kInterface.allocLen, dev);
}

int GetPathInfoFromPage80(int fd, DevInfo* dev) {
    unsigned char page[kSerial.allocLen];
    if (FetchPage(fd, dev, kSerial, page) != 0) {
        return -1;
    }
    return DecodePage80(page, kSerial.allocLen, dev);
}

int GetPathInfoFromPage83(int fd, DevInfo* dev) {
    unsigned char page[kIdentification.allocLen];
    if (FetchPage(fd, dev, kIdentification, page) != 0) {
        return -1;
    }
    return DecodePage83(page, kIdentification.allocLen, dev);
}

int GetPathInfoFromPageC4(int fd, DevInfo* dev) {
    // From 514 on page 0xC9 names the controller.
    if (dev->iIfVersion >= TS_IFVERSION_LETTERS) {
        return 0;
    }
    unsigned char page[kController.allocLen];
    if (FetchPage(fd, dev, kController, page) != 0) {
        return -1;
    }
    return DecodePageC4(page, kController.allocLen, dev);
}

int GetPathInfoFromPageC8(int fd, DevInfo* dev) {
    unsigned char page[kLun.allocLen];
    if (FetchPage(fd, dev, kLun, page) != 0) {
        return -1;
    }
    return DecodePageC8(page, kLun.allocLen, dev);
}

int GetPathInfoFromPageC9(int fd, DevInfo* dev) {
    unsigned char page[kOwnWork.allocLen];
    if (FetchPage(fd, dev, kOwnWork, page) != 0) {
        return -1;
    }
    return DecodePageC9(page, kOwnWork.allocLen, dev);
}

int GetPathInfoFromReadCapacity(int fd, DevInfo* dev) {
    uint64_t capacity = 0;
    if (tsioctrl_ReadCapacity(fd, &capacity) != 0) {
        return -1;
    }
    FormatCapacityText(capacity, &dev->acCapacity);
    dev->ullCapacityBytes = capacity;
    return 0;
}

int tsioctrl_GetDevInfomationByInquiry(DevInfo* dev, int mode) {
    if (dev == nullptr) {
        return TS_ERR_FAILED;
    }
    const char* node = dev->acDevPath.data();
    UniqueFd fd(query_OpenDevice(node, O_RDONLY));
    if (!fd.Valid()) {
        tsprint_Log(1, "Open device[%s] failed.\n", node);
        return TS_ERR_OPEN;
    }

    if (tsioctrl_TUR(fd.Get()) == 0) {
        (void)sprintf_s(dev->acStatus.data(), dev->acStatus.size(), "active");
    } else {
        (void)sprintf_s(dev->acStatus.data(), dev->acStatus.size(), "--");
        tsprint_Log(3, "Device[%s] send TUR failed.\n", node);
    }
    (void)memcpy_s(dev->acInqStatus.data(), dev->acInqStatus.size(), dev->acStatus.data(),
                   dev->acStatus.size());

    const int standard = GetPathInfoFromPageSTD(fd.Get(), dev);
    if (standard == TS_ERR_NOT_VENDOR) {
        fd.Reset();
        tsprint_Log(3, "Device[%s] is not qelmar device.\n", node);
        return TS_ERR_NOT_VENDOR;
    }
    if (standard == TS_ERR_INQUIRY && mode == TS_INQUIRY_STRICT) {
        fd.Reset();
        tsprint_Log(3, "Device[%s] inquire standard page fail.\n", node);
        return TS_ERR_INQUIRY;
    }

    (void)GetPathInfoFromPageC0(fd.Get(), dev);
    if (dev->iIfVersion >= TS_IFVERSION_VPD) {
        (void)GetPathInfoFromPage80(fd.Get(), dev);
        (void)GetPathInfoFromPage83(fd.Get(), dev);
        (void)GetPathInfoFromPageC4(fd.Get(), dev);
        (void)GetPathInfoFromPageC8(fd.Get(), dev);
        (void)GetPathInfoFromPageC9(fd.Get(), dev);
    }
    (void)GetPathInfoFromReadCapacity(fd.Get(), dev);

    if (dev->iShieldTpg == 1) {
        (void)sprintf_s(dev->acOwnWork.data(), dev->acOwnWork.size(), "--/--");
        tsprint_Log(0, "Device[%s] shield own/work tpg.\n", node);
    }
    return TS_OK;
}
