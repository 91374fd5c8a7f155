// ts_showdisk for Solaris 10. Takes a snapshot of the device tree, walks its
// block-device minor nodes, keeps every disk identity (device id) of the ssd
// driver once, turns it into the names of its raw nodes under /dev/rdsk and
// sends each of them four INQUIRY commands through USCSI. One row per device
// path; the table has fixed column widths.
#include "deviceInfo_solaris.h"

#include <errno.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <string>

#include "../common/column_table.h"
#include "../common/hash_index.h"
#include "../common/json_writer.h"
#include "../common/unique_fd.h"
#include "boundedfunc.h"
#include "lun_decode.h"
#include "lun_log.h"
#include "lun_pages.h"
#include "lun_plan.h"
#include "scsi_bytes.h"
#include "scsi_commands.h"

char g_acVendorID[9];
char g_acProductID[17];
char g_acVersion[10];
char g_acSerialNumber[17];
char g_acWwn[35];
char g_acLunName[61];
int32_t g_lDevLunId = -1;

unsigned char g_Buf[256];
unsigned int g_uiReqLen = 0;

DevIdNode* g_pSsdIdHeader = nullptr;
DevIdNode* g_pSsdIdTail = nullptr;
TS_DiNode save_node = nullptr;

namespace {

const int kInvalid = -EINVAL;
const unsigned int kMaxCdb = 16;
const short kDefaultTimeout = 6;  // seconds
const unsigned int kSenseLen = 32;
const unsigned int kInquiryCdbLen = 6;
const unsigned int kMsPerSecond = 1000;
// Request directions 0 and 1 read from the device, 2 writes to it.
const ScsiDirection kDirections[] = {SCSI_DIR_NONE, SCSI_DIR_FROM_DEVICE, SCSI_DIR_TO_DEVICE};
constexpr unsigned int kMaxAllocLen = 256;  // one byte of allocation length

// libdevinfo snapshot: subtree, minor nodes, properties and more, taken afresh.
const unsigned int kSnapshotFlags = 0xDF27;

// The INQUIRY steps of the program's plan (lun_plan.h), which
// TS_GetLunInfo sends in the plan's order; each within the one-byte
// allocation length.
constexpr LunInquiry kStdStep = lun_PlanStep(kLunSolarisPlan, 0, kLunPageStandard);
constexpr LunInquiry kSerialStep = lun_PlanStep(kLunSolarisPlan, 1, kLunPageInterface);
constexpr LunInquiry kWwnStep = lun_PlanStep(kLunSolarisPlan, 1, kLunPageIdentification);
constexpr LunInquiry kLunStep = lun_PlanStep(kLunSolarisPlan, 1, kLunPageLun);
static_assert(kStdStep.allocLen != 0 && kSerialStep.allocLen != 0 && kWwnStep.allocLen != 0 &&
                  kLunStep.allocLen != 0,
              "every page the program reads is in its plan");
static_assert(kStdStep.allocLen < kMaxAllocLen && kSerialStep.allocLen < kMaxAllocLen &&
                  kWwnStep.allocLen < kMaxAllocLen && kLunStep.allocLen < kMaxAllocLen,
              "TS_ScsiStdInquiry refuses a length of 256 or more");

const unsigned int kRuleLen = 89;
const char kUnknown[] = "UNKNOWN";

void Flush() {
    (void)fflush(stdout);
}

// The document of a --json run, null for the table.
JsonWriter* s_json = nullptr;

// The program's messages go through the kit's logger: every one of them
// is written (no threshold is ever raised), on standard output terminal-safe
// (a message names a device link) or into the --json document.
int s_messageLevel = 0;
LunLog s_messages(LunLogOptions{&s_messageLevel, false, true, false});

// In a --json run a message is one element of the device's messages: its
// first 511 bytes, without its line end.
void JsonMessage(const char* text) {
    char line[512];
    (void)snprintf(line, sizeof line, "%s", text);
    const size_t len = strlen(line);
    if (len > 0 && line[len - 1] == '\n') {
        line[len - 1] = '\0';
    }
    s_json->String(line);
}

// A message about the device being processed, printf's way.
void message_printf(const char* format, ...) BOUNDED_PRINTF(1, 2);
void message_printf(const char* format, ...) {
    va_list args;
    va_start(args, format);
    s_messages.Write(0, format, args);
    va_end(args);
}

// A cell of the table in the document: null where the table shows UNKNOWN
// (the field is empty: its INQUIRY failed or the device sent no text).
void PutField(const char* key, const char* text) {
    if (text[0] == '\0') {
        s_json->KeyNull(key);
    } else {
        s_json->KeyString(key, text);
    }
}

// A text field of the reply, to its first NUL.
void CopyText(char* dest, size_t size, const LunField& field) {
    (void)lun_Text(g_Buf, static_cast<int>(g_uiReqLen), field, LunText::ToNul, dest, size);
}

void SetUnknownIfEmpty(char* field, size_t size) {
    if (field[0] == '\0') {
        (void)strncpy_s(field, size, kUnknown, sizeof kUnknown - 1);
    }
}

// The device table's fixed columns: the widths never change with the data, a
// longer text is written whole and pushes the rest of its row along, as
// printf's %-*s would. The heading row is laid out one blank wider in its
// "Dev Lun ID" column than the rows under it. Every cell goes out through
// TerminalSafePut: the LUN name, vendor, product and serial come from the
// device, the path from the host's links, and an ESC sequence among them
// must not rewrite the administrator's terminal.
unsigned int g_diskNameWidth = 52;
unsigned int g_lunNameWidth = 35;
unsigned int g_vendorWidth = 12;
unsigned int g_typeWidth = 10;
unsigned int g_serialWidth = 16;
unsigned int g_lunIdHeadingWidth = 13;
unsigned int g_lunIdWidth = 12;
unsigned int g_wwnWidth = 22;

constexpr CellAlign kLeft = CellAlign::kLeft;
const Column kHeadingColumns[] = {
    {"Disk Name", g_diskNameWidth, 0, kLeft, kLeft},
    {"Lun Name", g_lunNameWidth, 0, kLeft, kLeft},
    {"Vendor ID", g_vendorWidth, 0, kLeft, kLeft},
    {"Type", g_typeWidth, 0, kLeft, kLeft},
    {"Serial Number", g_serialWidth, 0, kLeft, kLeft},
    {"Dev Lun ID", g_lunIdHeadingWidth, 0, kLeft, kLeft},
    {"Device WWN", g_wwnWidth, 0, kLeft, kLeft},
};
const Column kRowColumns[] = {
    {"Disk Name", g_diskNameWidth, 0, kLeft, kLeft},
    {"Lun Name", g_lunNameWidth, 0, kLeft, kLeft},
    {"Vendor ID", g_vendorWidth, 0, kLeft, kLeft},
    {"Type", g_typeWidth, 0, kLeft, kLeft},
    {"Serial Number", g_serialWidth, 0, kLeft, kLeft},
    {"Dev Lun ID", g_lunIdWidth, 0, kLeft, kLeft},
    {"Device WWN", g_wwnWidth, 0, kLeft, kLeft},
};
constexpr ColumnTable kHeadingTable(kHeadingColumns, 0);
constexpr ColumnTable kRowTable(kRowColumns, 0);

// Two rules of kRuleLen dashes on one line: the program has always printed
// its rule twice over.
void PrintRule() {
    PutRule(kRuleLen, '-', stdout);
    Flush();
    PutRule(kRuleLen, '-', stdout);
    (void)fputc('\n', stdout);
    Flush();
}

}  // namespace

// Read-write without blocking: the ssd driver hands USCSI commands only to a
// descriptor opened for writing, and an absent medium must not hold the open.
// Failure is -1 (deliberately, not 0): descriptor 0 is a good descriptor when
// standard input is closed.
int TS_DeviceOpen(const char* path) {
    const int fd = TS_PlatOpen(path, TS_O_RDWR | TS_O_NONBLOCK);
    return fd < 0 ? -1 : fd;
}

int TS_HatDoScsiCmd(int fd, const ScsiCmdRequest* request) {
    if (request == nullptr) {
        return kInvalid;
    }
    if (request->cdb_len > kMaxCdb) {
        message_printf("%s\n", "cdb length is error");
        return kInvalid;
    }
    if (request->direction < 0 || request->direction > 2) {
        return kInvalid;
    }
    ScsiRequest command;
    (void)memset_s(&command, sizeof command, 0, sizeof command);
    command.cdb = request->cdb;
    command.cdbLen = request->cdb_len;
    command.direction = kDirections[request->direction];
    command.data = request->buffer;
    command.dataLen = request->buffer_len;
    // No request-sense buffer goes down: the ioctl's result alone decides.
    const short seconds = request->timeout != 0 ? request->timeout : kDefaultTimeout;
    command.timeoutMs = static_cast<unsigned int>(seconds) * kMsPerSecond;
    // The ioctl's own result decides; status and sense are not examined.
    if (scsi_PassThrough(fd, &command) != 0) {
        const int err = command.sysError;
        message_printf("errno is:%d,%s\n", err, strerror(err));
        return -err;
    }
    return 0;
}

int TS_ScsiStdInquiry(int fd, unsigned char* buffer, unsigned int length, unsigned char page) {
    if (length >= kMaxAllocLen) {
        return kInvalid;
    }
    ScsiCmdRequest request;
    unsigned char cdb[kInquiryCdbLen];
    unsigned char sense[kSenseLen];
    (void)memset_s(&request, sizeof request, 0, sizeof request);
    (void)memset_s(cdb, sizeof cdb, 0, sizeof cdb);
    (void)memset_s(sense, sizeof sense, 0, sizeof sense);
    scsi_InquiryCdb(cdb, page != 0 ? 1 : 0, page, static_cast<int>(length));  // EVPD for a page
    request.direction = 1;
    request.buffer = buffer;
    request.buffer_len = length;
    request.cdb = cdb;
    request.cdb_len = kInquiryCdbLen;
    request.sense = sense;
    request.sense_len = kSenseLen;
    request.timeout = kDefaultTimeout;
    return TS_HatDoScsiCmd(fd, &request);
}

int TS_ScsiGetDriveInfo(int fd, int selector) {
    unsigned char page = 0;
    switch (selector) {
        case TS_DRIVE_INFO_STD:
            g_uiReqLen = kStdStep.allocLen;
            break;
        case TS_DRIVE_INFO_SERIAL:
            g_uiReqLen = kSerialStep.allocLen;
            page = kSerialStep.page;
            break;
        case TS_DRIVE_INFO_WWN:
            g_uiReqLen = kWwnStep.allocLen;
            page = kWwnStep.page;
            break;
        case TS_DRIVE_INFO_LUN:
            g_uiReqLen = kLunStep.allocLen;
            page = kLunStep.page;
            break;
        default:
            return -1;
    }
    (void)memset_s(g_Buf, sizeof g_Buf, 0, sizeof g_Buf);
    const int result = TS_ScsiStdInquiry(fd, g_Buf, g_uiReqLen, page);
    if (result != 0) {
        return result;
    }
    switch (selector) {
        case TS_DRIVE_INFO_STD:
            CopyText(g_acVendorID, sizeof g_acVendorID, kLunVendorId);
            CopyText(g_acProductID, sizeof g_acProductID, kLunProductId);
            CopyText(g_acVersion, sizeof g_acVersion, kLunRevision);
            break;
        case TS_DRIVE_INFO_SERIAL:
            CopyText(g_acSerialNumber, sizeof g_acSerialNumber, kLunArraySerialCopy);
            break;
        case TS_DRIVE_INFO_WWN:
            // Only a first designator that is a 16-byte NAA one is the WWN;
            // else the field stays empty and shows as unknown. A page cut
            // short after the designator's header reads as zeros beyond it.
            (void)lun_Wwn(
                g_Buf, lun_ReadableLength(g_Buf, static_cast<int>(g_uiReqLen), LunLength::Buffer),
                g_acWwn, sizeof g_acWwn);
            break;
        default: {
            CopyText(g_acLunName, sizeof g_acLunName, kLunLunNameToNul);
            g_lDevLunId = -1;
            // The id is read only when the device said it sent all four of
            // its bytes (page length + 4 reaches 196), deliberately: a page
            // that ends earlier leaves zeros in the buffer, which would read
            // as LUN id 0.
            const int len = static_cast<int>(g_uiReqLen);
            if (lun_FieldSent(lun_ReadableLength(g_Buf, len, LunLength::Page), kLunDevLunId)) {
                g_lDevLunId = static_cast<int32_t>(lun_Number(g_Buf, len, kLunDevLunId));
            }
            break;
        }
    }
    return 0;
}

namespace {

// The recorded ids by a hash of their bytes while the walk runs: each ssd
// node would otherwise compare its id with every id recorded before it.
// Without it (or once it failed) the list is walked, with the same answer.
HashIndex s_devidIndex;
bool s_devidIndexOn = false;

bool SameDevid(TS_DevId stored, TS_DevId devid, size_t size) {
    // Two ids are compared only when their sizes agree, deliberately:
    // comparing the longer id's size would read past the shorter one.
    return stored != nullptr && TS_PlatDevidSizeof(stored) == size &&
           memcmp(stored, devid, size) == 0;
}

void IndexDevid(TS_DevId devid) {
    if (s_devidIndexOn && devid != nullptr) {
        s_devidIndex.Add(HashBytes(devid, TS_PlatDevidSizeof(devid)), devid);
    }
}

}  // namespace

void TS_IndexDeviceIds(int on) {
    s_devidIndex.Clear();
    s_devidIndexOn = on != 0;
    for (const DevIdNode* node = g_pSsdIdHeader == nullptr ? nullptr : g_pSsdIdHeader->next;
         node != nullptr; node = node->next) {
        IndexDevid(node->devid);
    }
}

int TS_IsDeviceIdExist(TS_DevId devid) {
    if (g_pSsdIdHeader == nullptr || devid == nullptr) {
        return 0;
    }
    const size_t size = TS_PlatDevidSizeof(devid);
    if (s_devidIndexOn && !s_devidIndex.Failed()) {
        return s_devidIndex.Find(HashBytes(devid, size),
                                 [devid, size](void* stored) {
                                     return SameDevid(stored, devid, size);
                                 }) != nullptr
                   ? 1
                   : 0;
    }
    for (const DevIdNode* node = g_pSsdIdHeader->next; node != nullptr; node = node->next) {
        if (SameDevid(node->devid, devid, size)) {
            return 1;
        }
    }
    return 0;
}

void TS_ResetDeviceInfo(void) {
    (void)memset_s(g_acVendorID, sizeof g_acVendorID, 0, sizeof g_acVendorID);
    (void)memset_s(g_acProductID, sizeof g_acProductID, 0, sizeof g_acProductID);
    (void)memset_s(g_acVersion, sizeof g_acVersion, 0, sizeof g_acVersion);
    (void)memset_s(g_acSerialNumber, sizeof g_acSerialNumber, 0, sizeof g_acSerialNumber);
    (void)memset_s(g_acWwn, sizeof g_acWwn, 0, sizeof g_acWwn);
    (void)memset_s(g_acLunName, sizeof g_acLunName, 0, sizeof g_acLunName);
    g_lDevLunId = -1;
}

void TS_GetLunInfo(const char* path) {
    TS_ResetDeviceInfo();
    if (s_json != nullptr) {
        s_json->BeginObject();
        s_json->KeyString("disk_name", path);
        s_json->Key("messages");
        s_json->BeginArray();
    }
    UniqueFd fd(TS_DeviceOpen(path));
    if (!fd.Valid()) {
        message_printf("Can't open device %s, exit!\n", path);
        if (s_json != nullptr) {
            s_json->EndArray();
            s_json->KeyBool("opened", false);
            s_json->EndObject();
        }
        return;
    }
    const int std = TS_ScsiGetDriveInfo(fd.Get(), TS_DRIVE_INFO_STD);
    char* blank = strchr(g_acProductID, ' ');
    if (blank != nullptr) {
        *blank = '\0';
    }
    const int serial = TS_ScsiGetDriveInfo(fd.Get(), TS_DRIVE_INFO_SERIAL);
    const int wwn = TS_ScsiGetDriveInfo(fd.Get(), TS_DRIVE_INFO_WWN);
    const int lun = TS_ScsiGetDriveInfo(fd.Get(), TS_DRIVE_INFO_LUN);
    if (std != 0 && serial != 0 && wwn != 0 && lun != 0) {
        message_printf("%s\n", "cmd failed");
    }
    TS_DisplayDeviceInfo(path);
}

int TS_TraverseDisk(TS_DiNode node, TS_DiMinor minor, void* arg) {
    (void)arg;
    const char* driver = TS_PlatDiNodeName(node);
    if (driver == nullptr || strcmp(driver, "ssd") != 0) {
        return TS_DI_WALK_CONTINUE;
    }
    TS_DevId devid = TS_PlatDiDevid(node);
    if (devid == nullptr || TS_PlatDevidValid(devid) != 1 || TS_IsDeviceIdExist(devid) == 1 ||
        TS_PlatDiMinorSpectype(minor) != TS_S_IFCHR) {
        return TS_DI_WALK_CONTINUE;
    }
    // Only the first raw minor of a node (in walk order) is used.
    if (save_node != nullptr && save_node == node) {
        return TS_DI_WALK_CONTINUE;
    }
    save_node = node;

    TS_NameList names = nullptr;
    if (TS_PlatDevidToNmlist("/dev/rdsk", devid, TS_PlatDiMinorName(minor), &names) != 0) {
        return TS_DI_WALK_CONTINUE;
    }
    // Every path of the identity that the host knows is its own row.
    for (size_t i = 0;; ++i) {
        const char* path = TS_PlatNmlistPath(names, i);
        if (path == nullptr) {
            break;
        }
        TS_GetLunInfo(path);
    }
    TS_PlatDevidFreeNmlist(names);

    auto* seen = static_cast<DevIdNode*>(malloc(sizeof(DevIdNode)));
    if (seen == nullptr) {
        return TS_DI_WALK_CONTINUE;
    }
    seen->devid = devid;
    seen->next = nullptr;
    if (g_pSsdIdTail == nullptr) {
        free(seen);
        return TS_DI_WALK_CONTINUE;
    }
    g_pSsdIdTail->next = seen;
    g_pSsdIdTail = seen;
    IndexDevid(devid);
    return TS_DI_WALK_CONTINUE;
}

int TS_GetLunList(void) {
    if (s_json == nullptr) {
        TS_PrintfHead();
    }
    TS_DiSnapshot root = TS_PlatDiInit("/", kSnapshotFlags);
    if (root == nullptr) {
        return -1;
    }
    if (s_json != nullptr) {
        s_json->Key("disks");
        s_json->BeginArray();
    }
    TS_IndexDeviceIds(1);
    (void)TS_PlatDiWalkMinor(root, "ddi_block", 0, nullptr, TS_TraverseDisk);
    TS_IndexDeviceIds(0);
    TS_PlatDiFini(root);
    if (s_json != nullptr) {
        s_json->EndArray();
    } else {
        TS_PrintfTail();
    }
    return 0;
}

void TS_SetJsonWriter(JsonWriter* json) {
    s_json = json;
    s_messages.SetSink(json != nullptr ? JsonMessage : nullptr);
}

void TS_PrintfHead(void) {
    PrintRule();
    kHeadingTable.PutHeadings(PutCell, stdout);
    Flush();
}

void TS_PrintfTail(void) {
    PrintRule();
}

void TS_DisplayDeviceInfo(const char* path) {
    if (s_json != nullptr) {
        // The seven columns; the device's messages came before them.
        s_json->EndArray();
        s_json->KeyBool("opened", true);
        PutField("lun_name", g_acLunName);
        PutField("vendor_id", g_acVendorID);
        PutField("type", g_acProductID);
        PutField("serial_number", g_acSerialNumber);
        if (g_lDevLunId == -1) {
            s_json->KeyNull("dev_lun_id");
        } else {
            s_json->KeyInt("dev_lun_id", g_lDevLunId);
        }
        PutField("wwn", g_acWwn);
        s_json->EndObject();
        return;
    }
    SetUnknownIfEmpty(g_acVendorID, sizeof g_acVendorID);
    SetUnknownIfEmpty(g_acProductID, sizeof g_acProductID);
    SetUnknownIfEmpty(g_acVersion, sizeof g_acVersion);
    SetUnknownIfEmpty(g_acSerialNumber, sizeof g_acSerialNumber);
    SetUnknownIfEmpty(g_acLunName, sizeof g_acLunName);
    SetUnknownIfEmpty(g_acWwn, sizeof g_acWwn);
    char lunId[24];
    if (g_lDevLunId == -1) {
        (void)strncpy_s(lunId, sizeof lunId, kUnknown, sizeof kUnknown - 1);
    } else {
        (void)sprintf_s(lunId, sizeof lunId, "%ld", static_cast<long>(g_lDevLunId));
    }
    const char* const cells[] = {path,  g_acLunName, g_acVendorID, g_acProductID, g_acSerialNumber,
                                 lunId, g_acWwn};
    kRowTable.PutRow(cells, PutCell, stdout);
    (void)printf("\n");
    Flush();
}

void TS_FreeDevIdList(void) {
    DevIdNode* node = g_pSsdIdHeader;
    while (node != nullptr) {
        DevIdNode* next = node->next;
        free(node);
        node = next;
    }
    g_pSsdIdHeader = nullptr;
    g_pSsdIdTail = nullptr;
}
