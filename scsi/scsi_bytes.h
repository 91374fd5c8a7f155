// Reading the numbers and lengths of SCSI data: big-endian fields at any
// alignment, and the bytes of a vital product data page that can be trusted.
#ifndef TSKIT_SCSI_BYTES_H
#define TSKIT_SCSI_BYTES_H

#include <cstdint>

inline uint16_t scsi_Be16(const unsigned char* bytes) {
    return static_cast<uint16_t>(bytes[0] << 8 | bytes[1]);
}

inline uint32_t scsi_Be32(const unsigned char* bytes) {
    return static_cast<uint32_t>(bytes[0]) << 24 | static_cast<uint32_t>(bytes[1]) << 16 |
           static_cast<uint32_t>(bytes[2]) << 8 | static_cast<uint32_t>(bytes[3]);
}

inline uint64_t scsi_Be64(const unsigned char* bytes) {
    return static_cast<uint64_t>(scsi_Be32(bytes)) << 32 | scsi_Be32(bytes + 4);
}

// The bytes of a vital product data page that the device filled: its page
// length (bytes 2 and 3) plus the four header bytes, but never more than the
// allocation length asked for. A buffer too short to hold the length field
// has no usable bytes.
inline int scsi_UsableLength(const unsigned char* page, int allocLen) {
    if (allocLen < 4) {
        return 0;
    }
    const int length = scsi_Be16(page + 2) + 4;
    return length < allocLen ? length : allocLen;
}

// The LUN's WWN in a device identification page (0x83): the first
// designator's 16 bytes when that designator is an NAA one (designator type
// 3, the low nibble of its byte 1) of designator length 16, null otherwise.
// Devices may put another designator first (a T10 vendor ID one, whose text
// is the same for every LUN of a model): its bytes are no WWN. usable is how
// many bytes of page may be read: at least the designator's 24.
inline const unsigned char* scsi_FirstNaa16(const unsigned char* page, int usable) {
    constexpr int kFirst = 4;       // the first designation descriptor
    constexpr int kNaaType = 3;     // designator type NAA
    constexpr int kNaaLength = 16;  // NAA IEEE Registered Extended
    if (usable < kFirst + 4 + kNaaLength || (page[kFirst + 1] & 0x0F) != kNaaType ||
        page[kFirst + 3] != kNaaLength) {
        return nullptr;
    }
    return page + kFirst + 4;
}

#endif  // TSKIT_SCSI_BYTES_H
