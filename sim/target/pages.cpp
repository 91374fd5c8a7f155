// Page encoders: standard INQUIRY data, the VPD pages a LUN path of the
// vendor's arrays answers, and READ CAPACITY data. Multi-byte fields are
// big-endian as SCSI transfers them. Text fields of the vendor pages are NUL
// padded; the standard data's identification fields are blank padded.
#include <algorithm>
#include <cstddef>
#include <string>

#include "pages.h"

#include "json_checks.h"
#include "scsi_target.h"

namespace sansim {
namespace detail {
namespace {

constexpr size_t kStandardSize = 96;
constexpr size_t kSerialSize = 24;
constexpr size_t kDesignatorSize = 24;
constexpr size_t kT10DesignatorSize = 4 + 8 + 16;  // header, vendor, product
constexpr size_t kPageC0Size = 700;
constexpr size_t kPageC4Size = 32;
constexpr size_t kPageC8Size = 256;
constexpr size_t kPageC9Size = 264;
constexpr size_t kCapacity10Size = 8;
constexpr size_t kCapacity16Size = 32;

constexpr uint8_t kDirectAccess = 0x00;  // peripheral device type of a disk
constexpr uint32_t kOtherBlockSize = 512;

const int kLunPages[] = {0x00, 0x80, 0x83, 0xC0, 0xC4, 0xC8, 0xC9};

void PutBe16(std::vector<uint8_t>* b, size_t at, uint32_t v) {
    (*b)[at] = static_cast<uint8_t>(v >> 8);
    (*b)[at + 1] = static_cast<uint8_t>(v);
}

void PutBe32(std::vector<uint8_t>* b, size_t at, uint32_t v) {
    for (size_t i = 0; i < 4; ++i) {
        (*b)[at + i] = static_cast<uint8_t>(v >> (24 - 8 * i));
    }
}

void PutBe64(std::vector<uint8_t>* b, size_t at, uint64_t v) {
    for (size_t i = 0; i < 8; ++i) {
        (*b)[at + i] = static_cast<uint8_t>(v >> (56 - 8 * i));
    }
}

// Text in a field of width bytes, cut to the field, the rest filled with pad.
void PutText(std::vector<uint8_t>* b, size_t at, size_t width, const std::string& text,
             uint8_t pad) {
    for (size_t i = 0; i < width; ++i) {
        (*b)[at + i] = i < text.size() ? static_cast<uint8_t>(text[i]) : pad;
    }
}

// A hex digit's value; anything else counts as 0.
int HexValue(char c) {
    const int value = HexDigitValue(c);
    return value < 0 ? 0 : value;
}

// Hex text into width bytes; missing digits read as 0.
void PutHex(std::vector<uint8_t>* b, size_t at, size_t width, const std::string& hex) {
    for (size_t i = 0; i < width; ++i) {
        int high = 2 * i < hex.size() ? HexValue(hex[2 * i]) : 0;
        int low = 2 * i + 1 < hex.size() ? HexValue(hex[2 * i + 1]) : 0;
        (*b)[at + i] = static_cast<uint8_t>(high << 4 | low);
    }
}

// A VPD page of total bytes: device type, page code and page length filled.
std::vector<uint8_t> NewVpdPage(int page, size_t total) {
    std::vector<uint8_t> b(total, 0);
    b[0] = kDirectAccess;
    b[1] = static_cast<uint8_t>(page);
    PutBe16(&b, 2, static_cast<uint32_t>(total - 4));
    return b;
}

std::vector<uint8_t> StandardData(const std::string& vendor, const std::string& product,
                                  const std::string& revision) {
    std::vector<uint8_t> b(kStandardSize, 0);
    b[0] = kDirectAccess;
    b[2] = 0x06;                                     // version: SPC-4
    b[3] = 0x02;                                     // response data format 2
    b[4] = static_cast<uint8_t>(kStandardSize - 5);  // additional length
    PutText(&b, 8, 8, vendor, ' ');
    PutText(&b, 16, 16, product, ' ');
    PutText(&b, 32, 4, revision, ' ');
    return b;
}

bool Listed(const std::vector<int>& pages, int page) {
    return std::find(pages.begin(), pages.end(), page) != pages.end();
}

bool PageMissing(const Responder& r, int page) {
    return (r.dmFaults != nullptr && Listed(r.dmFaults->missingPages, page)) ||
           (r.faults != nullptr && Listed(r.faults->missingPages, page));
}

// A device does not list the pages it refuses.
std::vector<uint8_t> SupportedPages(const Responder& r, const int* pages, size_t count) {
    std::vector<uint8_t> list;
    for (size_t i = 0; i < count; ++i) {
        if (!PageMissing(r, pages[i])) {
            list.push_back(static_cast<uint8_t>(pages[i]));
        }
    }
    std::vector<uint8_t> b = NewVpdPage(0x00, 4 + list.size());
    std::copy(list.begin(), list.end(), b.begin() + 4);
    return b;
}

// The serial number is right-aligned ASCII: its last character is the last
// byte of the page, blanks in front.
std::vector<uint8_t> SerialPage(const Array& a) {
    std::vector<uint8_t> b = NewVpdPage(0x80, kSerialSize);
    const size_t width = kSerialSize - 4;
    const std::string serial = a.serial.substr(0, width);
    for (size_t i = 0; i < width; ++i) {
        size_t lead = width - serial.size();
        b[4 + i] = i < lead ? ' ' : static_cast<uint8_t>(serial[i - lead]);
    }
    return b;
}

// The designator of the logical unit: binary code set, associated with the
// logical unit, NAA, 16 bytes (IEEE Registered Extended: the WWID's digits).
// With t10DesignatorFirst a T10 vendor ID designator comes first: ASCII code
// set, type 1, the vendor identification (8 bytes) and, as its vendor
// specific part, the product identification (16 bytes), blank padded; the
// same text for every LUN of an array model.
std::vector<uint8_t> IdentificationPage(const Lun& lun, const Array& a) {
    const size_t t10 = lun.t10DesignatorFirst ? kT10DesignatorSize : 0;
    std::vector<uint8_t> b = NewVpdPage(0x83, kDesignatorSize + t10);
    if (t10 != 0) {
        b[4] = 0x02;  // protocol identifier 0, code set 2 (ASCII)
        b[5] = 0x01;  // PIV 0, association 0 (logical unit), designator type 1 (T10 vendor ID)
        b[7] = static_cast<uint8_t>(t10 - 4);
        PutText(&b, 8, 8, a.vendor, ' ');
        PutText(&b, 16, 16, a.product, ' ');
    }
    b[t10 + 4] = 0x01;  // protocol identifier 0, code set 1 (binary)
    b[t10 + 5] = 0x03;  // PIV 0, association 0 (logical unit), designator type 3 (NAA)
    b[t10 + 7] = 16;    // designator length
    PutHex(&b, t10 + 8, 16, lun.wwid.substr(1));
    return b;
}

size_t ControllerIndex(const Array& a, const std::string& name) {
    auto it = std::find(a.controllers.begin(), a.controllers.end(), name);
    return static_cast<size_t>(it - a.controllers.begin());
}

// Page 0xC9 codes a controller as its letter less 0x10: 'A' is 0x31.
uint8_t ControllerCode(const std::string& name) {
    return static_cast<uint8_t>(name.empty() ? 0 : static_cast<uint8_t>(name[0]) - 0x10);
}

std::vector<uint8_t> PageC0(const Responder& r) {
    const Array& a = *r.array;
    std::vector<uint8_t> b = NewVpdPage(0xC0, kPageC0Size);
    const bool shield =
        (r.faults != nullptr && r.faults->shield) || (r.dmFaults != nullptr && r.dmFaults->shield);
    if (shield) {
        b[11] |= 0x40;
    }
    PutText(&b, 112, 16, a.serial, 0);
    if (r.lun->dualArray) {
        b[160] = 0x80;
    }
    if (a.versionBytesGiven) {
        std::copy(a.versionBytes.begin(), a.versionBytes.end(), b.begin() + 183);
    } else {
        b[183] = static_cast<uint8_t>(a.interfaceVersion >> 8);
        b[184] = 0;
        b[185] = static_cast<uint8_t>(a.interfaceVersion & 0xFF);
        b[186] = 0;
    }
    b[191] = static_cast<uint8_t>(a.portTypeCode);
    PutText(&b, 192, 241, r.port->identifier, 0);
    PutText(&b, 433, 241, r.host != nullptr ? r.host->initiatorPort : std::string(), 0);
    return b;
}

std::vector<uint8_t> PageC4(const Responder& r) {
    std::vector<uint8_t> b = NewVpdPage(0xC4, kPageC4Size);
    b[29] = static_cast<uint8_t>('1' + ControllerIndex(*r.array, r.port->controller));
    return b;
}

std::vector<uint8_t> PageC8(const Responder& r) {
    const Lun& lun = *r.lun;
    const std::string& arrayName = r.array->name;
    std::vector<uint8_t> b = NewVpdPage(0xC8, kPageC8Size);
    PutText(&b, 29, 40, lun.name, 0);
    PutBe32(&b, 85, lun.hostLunId);
    PutHex(&b, 90, 16, lun.rawLunId);
    // The array name in two-byte characters, as a wide string.
    const size_t chars = std::min<size_t>(arrayName.size(), (192 - 107) / 2);
    b[106] = static_cast<uint8_t>(2 * chars);
    for (size_t i = 0; i < chars; ++i) {
        b[107 + 2 * i] = 0;
        b[108 + 2 * i] = static_cast<uint8_t>(arrayName[i]);
    }
    PutBe32(&b, 192, lun.arrayLunId);
    return b;
}

std::vector<uint8_t> PageC9(const Responder& r) {
    const Lun& lun = *r.lun;
    const std::string& self = r.port->controller;
    std::vector<uint8_t> b = NewVpdPage(0xC9, kPageC9Size);
    b[8] = lun.worker == self ? 1 : 0;
    b[9] = lun.owner == self ? 1 : 2;
    b[12] = ControllerCode(lun.worker);
    b[13] = ControllerCode(lun.owner);
    b[14] = ControllerCode(self);
    PutText(&b, 69, 8, self, 0);
    PutText(&b, 77, 8, lun.worker, 0);
    PutText(&b, 85, 8, lun.owner, 0);
    PutText(&b, 134, 127, lun.portId, 0);
    return b;
}

// The last LBA names the last block; a LUN smaller than one block still
// reports LBA 0, the lowest address the field can hold.
uint64_t LastLba(uint64_t sizeBytes, uint32_t blockSize) {
    const uint64_t blocks = sizeBytes / blockSize;
    return blocks == 0 ? 0 : blocks - 1;
}

std::vector<uint8_t> Capacity10(uint64_t sizeBytes, uint32_t blockSize) {
    std::vector<uint8_t> b(kCapacity10Size, 0);
    // Beyond 32 bits the field holds all ones: the initiator is to ask again
    // with READ CAPACITY(16).
    const uint64_t last = LastLba(sizeBytes, blockSize);
    PutBe32(&b, 0, last > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<uint32_t>(last));
    PutBe32(&b, 4, blockSize);
    return b;
}

std::vector<uint8_t> Capacity16(uint64_t sizeBytes, uint32_t blockSize) {
    std::vector<uint8_t> b(kCapacity16Size, 0);
    PutBe64(&b, 0, LastLba(sizeBytes, blockSize));
    PutBe32(&b, 8, blockSize);
    return b;
}

std::vector<uint8_t> OtherDevicePage(const Responder& r, int page) {
    const OtherDevice& d = *r.other;
    static const int kOtherPages[] = {0x00};
    switch (page) {
        case kPageStandard:
            return StandardData(d.vendor, d.product, d.revision);
        case 0x00:
            return SupportedPages(r, kOtherPages, 1);
        case kPageCapacity10:
            return Capacity10(d.sizeBytes, kOtherBlockSize);
        case kPageCapacity16:
            return Capacity16(d.sizeBytes, kOtherBlockSize);
        default:
            return {};
    }
}

std::vector<uint8_t> LunPathPage(const Responder& r, int page) {
    if (r.lun == nullptr || r.array == nullptr || r.port == nullptr) {
        return {};
    }
    switch (page) {
        case kPageStandard:
            return StandardData(r.array->vendor, r.array->product, r.array->revision);
        case 0x00:
            return SupportedPages(r, kLunPages, sizeof kLunPages / sizeof kLunPages[0]);
        case 0x80:
            return SerialPage(*r.array);
        case 0x83:
            return IdentificationPage(*r.lun, *r.array);
        case 0xC0:
            return PageC0(r);
        case 0xC4:
            return PageC4(r);
        case 0xC8:
            return PageC8(r);
        case 0xC9:
            return PageC9(r);
        case kPageCapacity10:
            return Capacity10(r.lun->sizeBytes, r.lun->blockSize);
        case kPageCapacity16:
            return Capacity16(r.lun->sizeBytes, r.lun->blockSize);
        default:
            return {};
    }
}

// The dm node's own setting wins over the path's.
const int* Override(const Responder& r, const std::map<int, int> Faults::*field, int page) {
    for (const Faults* f : {r.dmFaults, r.faults}) {
        if (f != nullptr) {
            auto it = (f->*field).find(page);
            if (it != (f->*field).end()) {
                return &it->second;
            }
        }
    }
    return nullptr;
}

void ApplyPatches(const Faults* f, int page, std::vector<uint8_t>* b) {
    if (f == nullptr) {
        return;
    }
    for (const PagePatch& patch : f->patches) {
        if (patch.page != page) {
            continue;
        }
        const size_t end = static_cast<size_t>(patch.offset) + patch.bytes.size();
        if (end > b->size()) {
            b->resize(end, 0);
        }
        std::copy(patch.bytes.begin(), patch.bytes.end(),
                  b->begin() + static_cast<std::ptrdiff_t>(patch.offset));
    }
}

}  // namespace

std::vector<uint8_t> BuildPage(const Responder& r, int page) {
    if (page >= 0 && PageMissing(r, page)) {
        return {};
    }
    std::vector<uint8_t> b = r.other != nullptr ? OtherDevicePage(r, page) : LunPathPage(r, page);
    if (b.empty()) {
        return b;
    }
    // A short page: the length field says N and only N bytes follow it.
    if (const int* length = Override(r, &Faults::pageLength, page)) {
        const size_t n = static_cast<size_t>(*length);
        if (page == kPageStandard) {
            b[4] = static_cast<uint8_t>(n);
            b.resize(std::min(b.size(), 5 + n));
        } else if (page >= 0) {
            PutBe16(&b, 2, static_cast<uint32_t>(n));
            b.resize(std::min(b.size(), 4 + n));
        }
    }
    if (const int* qualifier = Override(r, &Faults::qualifier, page)) {
        b[0] = static_cast<uint8_t>((*qualifier & 0x07) << 5 | (b[0] & 0x1F));
    }
    ApplyPatches(r.faults, page, &b);
    ApplyPatches(r.dmFaults, page, &b);
    return b;
}

bool OpcodeRefused(const Responder& r, int opcode) {
    return (r.dmFaults != nullptr && Listed(r.dmFaults->failOpcodes, opcode)) ||
           (r.faults != nullptr && Listed(r.faults->failOpcodes, opcode));
}

const Faults& SenseSettings(const Responder& r) {
    static const Faults kDefaults;
    const Faults* dm = r.dmFaults;
    if (dm != nullptr &&
        (dm->senseFormat != kDefaults.senseFormat || dm->senseLength != kDefaults.senseLength)) {
        return *dm;
    }
    if (r.faults != nullptr) {
        return *r.faults;
    }
    return dm != nullptr ? *dm : kDefaults;
}

}  // namespace detail

std::vector<uint8_t> EncodePage(const Topology& topo, const DeviceRef& ref, int page) {
    detail::Responder r;
    if (detail::ResolveNode(topo, ref, &r) != detail::NodeKind::Device) {
        return {};
    }
    return detail::BuildPage(r, page);
}

}  // namespace sansim
