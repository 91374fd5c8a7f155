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
#include "lun_pages.h"
#include "lun_plan.h"
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

constexpr unsigned char kPortTypeFc = 1;
constexpr unsigned char kPortTypeIscsi = 3;

// The ioctl itself failed; reported once for every sender.
void LogSendFailure(const ScsiExchange& exchange) {
    const int err = exchange.request.sysError;
    tsprint_Log(3, "Execute ioctl(SG_IO) failed: %s (errno=%d)\n", strerror(err), err);
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
// Page reading helpers.

int Qualifier(const unsigned char* page, int allocLen) {
    return allocLen > 0 ? (page[0] & 0xE0) >> 5 : 0;
}

// A byte of the buffer; beyond it the device returned nothing, which reads
// as the zero fill.
unsigned char ByteAt(const unsigned char* page, int allocLen, int index) {
    return index >= 0 && index < allocLen ? page[index] : 0;
}

// count bytes from offset into a zero-filled scratch buffer, so that a
// decoder given a short buffer copies zero fill instead of reading beyond it.
template <size_t N>
void BytesAt(const unsigned char* page, int allocLen, int offset, int count,
             unsigned char (&out)[N]) {
    (void)memset_s(out, N, 0, N);
    for (int i = 0; i < count && static_cast<size_t>(i) < N; ++i) {
        out[i] = ByteAt(page, allocLen, offset + i);
    }
}

// Sends one INQUIRY of the plan into buffer (its allocation length in
// bytes) and records its outcome in acInqStatus.
int FetchPage(int fd, DevInfo* dev, const LunInquiry& step, unsigned char* buffer) {
    int ret = tsioctrl_Inquiry(fd, step.evpd, step.page, buffer, step.allocLen);
    UpdateDevinfoInquiryState(dev, ret);
    return ret;
}

// Where a field of the page map (lun_pages.h) ends: the usable length a
// page needs for it.
constexpr int FieldEnd(const LunField& field) {
    return field.offset + field.length;
}

// A field of the page copied as it stands into a text field, which keeps
// its terminator.
template <size_t N>
void CopyField(const unsigned char* page, const LunField& field, TsText<N>* text) {
    (void)memcpy_s(text->data(), text->size() - 1, page + field.offset, field.length);
}

// Page 0xC4 controller codes: 0x81.. and 0x31.. ('1'..) both count from the
// first controller, as do the plain numbers 0..0x30.
int ControllerIndex(int code) {
    if (code > 0x80) {
        return code - 0x81;
    }
    if (code > 0x30) {
        return code - 0x31;
    }
    return code;
}

}  // namespace

// ---------------------------------------------------------------------------
// Senders.

int tsioctrl_TUR(int fd) {
    ScsiExchange exchange;
    const int result = scsi_TestUnitReady(fd, kSgTimeoutMs, kScsiTurAttempts, &exchange);
    if (result == SCSI_SEND_FAILED) {
        LogSendFailure(exchange);
    }
    return result == SCSI_GOOD ? 0 : -1;
}

int tsioctrl_Inquiry(int fd, unsigned char evpd, unsigned char pageCode, unsigned char* buffer,
                     int allocLen) {
    ScsiExchange exchange;
    const int result = scsi_Inquiry(fd, evpd, pageCode, buffer, allocLen, kSgTimeoutMs, &exchange);
    if (result == SCSI_SEND_FAILED) {
        LogSendFailure(exchange);
    } else if (result == SCSI_NOT_GOOD) {
        const ScsiRequest& done = exchange.request;
        tsprint_Log(3,
                    "Get inqury page[opcode=0x%x] failed with error[status:%d host_status:%d "
                    "driver_status:%d].\n",
                    pageCode, done.status, done.hostStatus, done.driverStatus);
    }
    return result == SCSI_GOOD ? 0 : -1;
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
    unsigned char vendorField[8];
    unsigned char productField[16];
    BytesAt(page, allocLen, 8, 8, vendorField);
    BytesAt(page, allocLen, 16, 16, productField);

    char vendorRaw[kTextSize];
    char productRaw[kTextSize];
    char vendor[kTextSize];
    char product[kTextSize];
    (void)memset_s(vendorRaw, sizeof(vendorRaw), 0, sizeof(vendorRaw));
    (void)memset_s(productRaw, sizeof(productRaw), 0, sizeof(productRaw));
    (void)memset_s(vendor, sizeof(vendor), 0, sizeof(vendor));
    (void)memset_s(product, sizeof(product), 0, sizeof(product));
    (void)memcpy_s(vendorRaw, kTextSize - 1, vendorField, sizeof(vendorField));
    (void)memcpy_s(productRaw, kTextSize - 1, productField, sizeof(productField));
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
    const int usable = scsi_UsableLength(page, allocLen);
    if (usable < 12) {
        return -1;
    }
    dev->iShieldTpg = (page[11] & 0x40) != 0 ? 1 : 0;
    if (Qualifier(page, allocLen) != 0) {
        dev->iShieldTpg = 1;
    }

    if (usable < 161) {
        return -1;
    }
    if ((page[160] & 0xC0) != 0) {
        dev->iDualArray = 1;
    }

    if (usable < 187) {
        return -1;
    }
    // Newer arrays write the version into bytes 184 and 186, older ones into
    // 183 and 185.
    if (page[184] != 0 && page[186] != 0) {
        dev->iIfVersion = page[184] * 256 + page[186];
    } else {
        dev->iIfVersion = page[183] * 256 + page[185];
    }
    if (dev->iIfVersion < TS_IFVERSION_VPD) {
        return 0;
    }

    if (usable < 192) {
        return -1;
    }
    const char* portType = "--";
    if (page[191] == kPortTypeFc) {
        portType = "FC";
    } else if (page[191] == kPortTypeIscsi) {
        portType = "iSCSI";
    }
    (void)sprintf_s(dev->acPortType.data(), dev->acPortType.size(), "%s", portType);

    if (usable < FieldEnd(kLunTargetPortId)) {
        return -1;
    }
    CopyField(page, kLunTargetPortId, &dev->acTargetWwn);

    if (usable < FieldEnd(kLunInitiatorPortId)) {
        return -1;
    }
    CopyField(page, kLunInitiatorPortId, &dev->acHostWwn);
    return 0;
}

int DecodePage80(const unsigned char* page, int allocLen, DevInfo* dev) {
    // The serial number runs to the end of the page; its first 20
    // characters are kept.
    constexpr LunField kSerialKept = {kLunUnitSerial.page, kLunUnitSerial.offset, 20,
                                      kLunUnitSerial.holds};
    if (scsi_UsableLength(page, allocLen) < FieldEnd(kSerialKept)) {
        return -1;
    }
    CopyField(page, kSerialKept, &dev->acArraySn);
    return 0;
}

int DecodePage83(const unsigned char* page, int allocLen, DevInfo* dev) {
    if (Qualifier(page, allocLen) != 0) {
        return -1;
    }
    const unsigned char* naa = scsi_FirstNaa16(page, scsi_UsableLength(page, allocLen));
    if (naa == nullptr) {
        return -1;  // no WWN: the field keeps "--"
    }
    (void)tsioctrl_AsciiToString(naa, 16, dev->acLunWwn.data(),
                                 static_cast<int>(dev->acLunWwn.size()), 0);
    return 0;
}

int DecodePageC4(const unsigned char* page, int allocLen, DevInfo* dev) {
    if (scsi_UsableLength(page, allocLen) < 30) {
        return -1;
    }
    const int index = ControllerIndex(page[29]);
    (void)sprintf_s(dev->acCtrl.data(), dev->acCtrl.size(), "%c", 'A' + index);
    return 0;
}

int DecodePageC8(const unsigned char* page, int allocLen, DevInfo* dev) {
    const int usable = scsi_UsableLength(page, allocLen);
    const bool qualified = Qualifier(page, allocLen) == 0;
    if (usable < FieldEnd(kLunLunName)) {
        return -1;
    }
    if (qualified) {
        CopyField(page, kLunLunName, &dev->acLunName);
    }

    if (usable < 89) {
        return -1;
    }
    if (qualified) {
        (void)sprintf_s(dev->acArrayLunId.data(), dev->acArrayLunId.size(), "%d",
                        scsi_Be16(page + 87));
    }

    if (usable < FieldEnd(kLunRawLunId)) {
        return -1;
    }
    CopyField(page, kLunRawLunId, &dev->acRawLunId);

    // The array name is a run of 2-byte characters from byte 107; only their
    // second bytes are kept. No terminator: the name ends at its first zero
    // character or at the zero bytes of the field behind it. Its length byte
    // is not read.
    char* name = dev->acArrayName.data();
    const int nameAt = kLunArrayName.offset;
    if (dev->iIfVersion >= TS_IFVERSION_LETTERS) {
        if (usable < FieldEnd(kLunArrayName)) {
            return -1;
        }
        for (int i = 1; i < kLunArrayName.length; i += 2) {
            name[(i - 1) / 2] = static_cast<char>(page[nameAt + i]);
        }
    } else {
        if (usable < nameAt + 1) {
            return -1;
        }
        // Older arrays fill the name to the end of the page; the byte at the
        // usable length reads as the buffer's zero fill and ends the name.
        for (int i = 1; i <= usable - (nameAt - 1) && nameAt + i <= 255; i += 2) {
            name[(i - 1) / 2] = static_cast<char>(ByteAt(page, allocLen, nameAt + i));
        }
    }

    if (dev->iIfVersion < TS_IFVERSION_PORT_ID) {
        return 0;
    }
    if (usable < 196) {
        return -1;
    }
    if (qualified) {
        (void)sprintf_s(dev->acDevLunId.data(), dev->acDevLunId.size(), "%d",
                        scsi_Be16(page + 194));
    }
    return 0;
}

int DecodePageC9(const unsigned char* page, int allocLen, DevInfo* dev) {
    const int usable = scsi_UsableLength(page, allocLen);
    const bool qualified = Qualifier(page, allocLen) == 0;
    const int version = dev->iIfVersion;

    // The controller that this path enters; before 514 page 0xC4 told it.
    if (version >= TS_IFVERSION_NAMES) {
        if (usable < 77) {
            return -1;
        }
        (void)memcpy_s(dev->acCtrl.data(), dev->acCtrl.size() - 1, page + 69, 8);
    } else if (version == TS_IFVERSION_LETTERS) {
        if (usable < 15) {
            return -1;
        }
        (void)sprintf_s(dev->acCtrl.data(), dev->acCtrl.size(), "%c", page[14] + 0x10);
    }

    // The owning and working controllers, only from a qualified page.
    if (qualified) {
        constexpr int kNameSize = 32;
        char owning[kNameSize];
        char working[kNameSize];
        (void)memset_s(owning, sizeof(owning), 0, sizeof(owning));
        (void)memset_s(working, sizeof(working), 0, sizeof(working));
        if (version >= TS_IFVERSION_NAMES) {
            if (usable < 93) {
                return -1;
            }
            (void)memcpy_s(owning, kNameSize - 1, page + 85, 8);
            (void)memcpy_s(working, kNameSize - 1, page + 77, 8);
        } else if (version == TS_IFVERSION_LETTERS) {
            if (usable < 15) {
                return -1;
            }
            (void)sprintf_s(owning, kNameSize, "%c", page[13] + 0x10);
            (void)sprintf_s(working, kNameSize, "%c", page[12] + 0x10);
        } else {
            if (usable < 10) {
                return -1;
            }
            AnalyzeWorkOwnTpgid(page, dev->acCtrl.data(), working, owning, kNameSize);
        }
        (void)sprintf_s(dev->acOwnWork.data(), dev->acOwnWork.size(), "%s/%s", owning, working);
    }

    if (usable < 11) {
        return -1;
    }
    if (!qualified) {
        dev->iShieldTpg = 1;
    }

    if (version < TS_IFVERSION_PORT_ID) {
        return -1;
    }
    if (usable < 262) {
        return -1;
    }
    CopyField(page, kLunPortId, &dev->acPortId);
    return 0;
}

void AnalyzeWorkOwnTpgid(const unsigned char* page, const char* ctrl, char* work, char* own,
                         int size) {
    if (page == nullptr || work == nullptr || own == nullptr || size <= 0) {
        return;
    }
    const size_t bound = static_cast<size_t>(size);
    const int self = ctrl != nullptr && strcmp(ctrl, "B") == 0 ? 1 : 0;
    const int other = 1 - self;
    const int w = page[8];
    const int o = page[9];
    (void)sprintf_s(work, bound, "--");
    (void)sprintf_s(own, bound, "--");

    // Controller codes from 0x81 or from 0x31 name the controllers outright.
    if (w > 0x80 || o > 0x80) {
        (void)sprintf_s(work, bound, "%c", w - 0x40);
        (void)sprintf_s(own, bound, "%c", o - 0x40);
        return;
    }
    if (w > 0x30 || o > 0x30) {
        (void)sprintf_s(work, bound, "%c", w + 0x10);
        (void)sprintf_s(own, bound, "%c", o + 0x10);
        return;
    }
    // Small numbers are relative to this path's controller: working 1 is
    // this one and 0 the other; owning 1 is this one and 2 the other.
    if (w == 1) {
        (void)sprintf_s(work, bound, "%c", 'A' + self);
    } else if (w == 0) {
        (void)sprintf_s(work, bound, "%c", 'A' + other);
    }
    if (o == 1) {
        (void)sprintf_s(own, bound, "%c", 'A' + self);
    } else if (o == 2) {
        (void)sprintf_s(own, bound, "%c", 'A' + other);
    }
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
