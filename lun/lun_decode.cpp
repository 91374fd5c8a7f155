// The decoders of the vendor's page fields and the programs' readings of
// them.
#include "lun_decode.h"

#include <string.h>

#include "../common/hex_text.h"
#include "boundedfunc.h"
#include "../scsi/scsi_bytes.h"

namespace {

constexpr int kNaaType = 3;        // designator type NAA
constexpr int kNaaLength = 16;     // NAA IEEE Registered Extended
constexpr int kFirstAt = 4;        // the first designation descriptor
constexpr int kLastByte = 255;     // an older array's name runs to here at most
constexpr size_t kMaxField = 256;  // no text field is longer

// A byte of the buffer; beyond it the device returned nothing, which reads
// as the zero fill.
unsigned char ByteAt(const unsigned char* page, int len, int index) {
    return index >= 0 && index < len ? page[index] : 0;
}

int SecondBytes(const unsigned char* page, int len, int readable, int version, char* dest,
                size_t size) {
    const int nameAt = kLunArrayName.offset;
    const size_t room = size - 1;
    if (version >= kLunVersionLetters) {
        if (!lun_FieldSent(readable, kLunArrayName)) {
            return -1;
        }
        for (int i = 1; i < kLunArrayName.length && static_cast<size_t>(i - 1) / 2 < room; i += 2) {
            dest[(i - 1) / 2] = static_cast<char>(page[nameAt + i]);
        }
        return 0;
    }
    if (readable < nameAt + 1) {
        return -1;
    }
    // Older arrays fill the name to the end of the page; the byte at the
    // readable length reads as the buffer's zero fill and ends the name.
    for (int i = 1; i <= readable - (nameAt - 1) && nameAt + i <= kLastByte &&
                    static_cast<size_t>(i - 1) / 2 < room;
         i += 2) {
        dest[(i - 1) / 2] = static_cast<char>(ByteAt(page, len, nameAt + i));
    }
    return 0;
}

// The name is never read beyond the 80-byte scratch area.
int NonZeroBytes(const unsigned char* page, char* dest, size_t size) {
    constexpr size_t kScratch = kLunArrayName.length;
    unsigned char scratch[kScratch];
    (void)memset_s(scratch, sizeof(scratch), 0, sizeof(scratch));
    size_t count = page[kLunArrayNameLength];
    if (memcpy_s(scratch, sizeof(scratch), page + kLunArrayName.offset, count) != BOUNDED_OK) {
        (void)memset_s(scratch, sizeof(scratch), 0, sizeof(scratch));
    }
    if (count > kScratch) {
        count = kScratch;
    }
    size_t stored = 0;
    for (size_t i = 0; i < count && stored < size - 1; ++i) {
        if (scratch[i] != 0) {
            dest[stored++] = static_cast<char>(scratch[i]);
        }
    }
    return 0;
}

}  // namespace

int lun_ReadableLength(const unsigned char* page, int len, LunLength reading) {
    return reading == LunLength::Page ? scsi_UsableLength(page, len) : len;
}

int lun_Qualifier(const unsigned char* page, int len) {
    return len > 0 ? (page[0] & 0xE0) >> 5 : 0;
}

int lun_Text(const unsigned char* page, int len, const LunField& field, LunText reading, char* dest,
             size_t size) {
    if (page == nullptr || dest == nullptr || size == 0) {
        return -1;
    }
    // The field as the buffer holds it, zeros where it ends early.
    unsigned char src[kMaxField + 1];
    (void)memset_s(src, sizeof(src), 0, sizeof(src));
    const size_t count = field.length != 0 ? field.length : kMaxField;
    for (size_t i = 0; i < count && i < kMaxField; ++i) {
        src[i] = ByteAt(page, len, static_cast<int>(field.offset + i));
    }
    switch (reading) {
        case LunText::AsSent:
        case LunText::BlanksEnd:
            if (memcpy_s(dest, size - 1, src, count) != BOUNDED_OK) {
                return -1;
            }
            for (size_t i = 0; reading == LunText::BlanksEnd && i < count; ++i) {
                dest[i] = dest[i] == ' ' ? '\0' : dest[i];
            }
            return 0;
        case LunText::ToNul:
            return strncpy_s(dest, size, reinterpret_cast<const char*>(src), count) == BOUNDED_OK
                       ? 0
                       : -1;
    }
    return -1;
}

uint32_t lun_Number(const unsigned char* page, int len, const LunField& field) {
    uint32_t value = 0;
    for (int i = 0; i < field.length && i < 4; ++i) {
        value = (value << 8) | ByteAt(page, len, field.offset + i);
    }
    return value;
}

uint32_t lun_LowNumber(const unsigned char* page, int len, const LunField& field) {
    return lun_Number(page, len, field) & 0xFFFFu;
}

bool lun_Wwn(const unsigned char* page, int readable, char* dest, size_t size) {
    if (readable < kFirstAt + 4 + kNaaLength || (page[kFirstAt + 1] & 0x0F) != kNaaType ||
        page[kFirstAt + 3] != kNaaLength) {
        return false;
    }
    (void)PutHexDigits(page + kFirstAt + 4, kNaaLength, dest, size);
    return true;
}

int lun_InterfaceVersion(const unsigned char bytes[4], LunVersion reading) {
    if (reading == LunVersion::OlderPlaceSigned) {
        return static_cast<signed char>(bytes[0]) * 256 + static_cast<signed char>(bytes[2]);
    }
    if (bytes[1] != 0 && bytes[3] != 0) {
        return bytes[1] * 256 + bytes[3];
    }
    return bytes[0] * 256 + bytes[2];
}

const char* lun_PortTypeText(unsigned char code, LunPortTypes names) {
    static const char* const kNames[] = {"--", "FC", "SAS", "iSCSI", "FCoE", "IB"};
    if (code >= sizeof(kNames) / sizeof(kNames[0])) {
        return "--";
    }
    if (names == LunPortTypes::FcAndIscsi && code != 1 && code != 3) {
        return "--";
    }
    return kNames[code];
}

int lun_ControllerIndex(int code) {
    if (code > 0x80) {
        return code - 0x81;
    }
    if (code > 0x30) {
        return code - 0x31;
    }
    return code;
}

char lun_ControllerLetter(unsigned char code) {
    return static_cast<char>(code + 0x10);
}

void lun_OwnWorkFromCodes(const unsigned char* page, const char* ctrl, char* work, char* own,
                          int size) {
    if (page == nullptr || work == nullptr || own == nullptr || size <= 0) {
        return;
    }
    const size_t bound = static_cast<size_t>(size);
    const int self = ctrl != nullptr && strcmp(ctrl, "B") == 0 ? 1 : 0;
    const int other = 1 - self;
    const int w = page[kLunWorkCode.offset];
    const int o = page[kLunOwnCode.offset];
    (void)sprintf_s(work, bound, "--");
    (void)sprintf_s(own, bound, "--");
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

void lun_OwnWorkPairText(unsigned char x, unsigned char a, unsigned char b, char* dest,
                         size_t size) {
    const char* first = ((b == 1 && x == '1') || (b == 2 && x == '2')) ? "0A" : "0B";
    const char* second = ((a == 1 && x == '1') || (a == 0 && x == '2')) ? "0A" : "0B";
    (void)sprintf_s(dest, size, "%s/%s", first, second);
}

int lun_ArrayNameOf(const unsigned char* page, int len, int readable, int version,
                    LunArrayName reading, char* dest, size_t size) {
    if (page == nullptr || dest == nullptr || size == 0) {
        return -1;
    }
    if (reading == LunArrayName::SecondBytes) {
        return SecondBytes(page, len, readable, version, dest, size);
    }
    return NonZeroBytes(page, dest, size);
}
