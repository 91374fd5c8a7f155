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

#endif  // TSKIT_SCSI_BYTES_H
