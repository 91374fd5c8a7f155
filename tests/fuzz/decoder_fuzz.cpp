/*
 * Random page bytes and lengths through every page decoder of tsioctrl, under
 * every interface version range, and random capacities through the capacity
 * text. The page is a heap buffer of exactly the allocation length, so that
 * ASan reports any read beyond it; the record is a heap DevInfo with its
 * defaults, and afterwards every text field must still hold a NUL within its
 * size.
 *
 * Input: byte 0 picks the decoder (or all of them in the identification
 * order), byte 1 the interface version, bytes 2 and 3 the allocation length,
 * byte 4 flags (bit 0: a page length covering the whole buffer; bit 1:
 * qualifier 0; bit 2: controller "B"; bit 3: the version also written into
 * page 0xC0 bytes 183 and 185, so that short inputs reach the later steps);
 * the rest is the page.
 */
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include <memory>
#include <vector>

#include "discovery/tsioctrl.h"
#include "records/tstopology.h"

namespace {

constexpr size_t kHeader = 5;
constexpr int kMaxAlloc = 1100; /* beyond the largest request, 1024 */

/* Each range of the vendor pages, its edges, and values no array sends. */
const int kVersions[] = {0, 1, 255, 511, 512, 513, 514, 515, 516, 517, 768, 0x7FFF, 0xFFFF};

template <size_t N>
void CheckTerminated(const TsText<N>& field) {
    if (memchr(field.data(), 0, N) == nullptr) {
        __builtin_trap();
    }
}

void CheckRecord(const DevInfo& d) {
    CheckTerminated(d.acDevPath);
    CheckTerminated(d.acDevName);
    CheckTerminated(d.acVidPid);
    CheckTerminated(d.acCapacity);
    CheckTerminated(d.acLunName);
    CheckTerminated(d.acLunWwn);
    CheckTerminated(d.acDevLunId);
    CheckTerminated(d.acArrayLunId);
    CheckTerminated(d.acCtrl);
    CheckTerminated(d.acOwnWork);
    CheckTerminated(d.acArrayName);
    CheckTerminated(d.acArraySn);
    CheckTerminated(d.acRawLunId);
    CheckTerminated(d.acPortType);
    CheckTerminated(d.acPortId);
    CheckTerminated(d.acStatus);
    CheckTerminated(d.acInqStatus);
    CheckTerminated(d.acHostWwn);
    CheckTerminated(d.acTargetWwn);
}

uint64_t Capacity(const unsigned char* bytes, size_t size) {
    uint64_t value = 0;
    for (size_t i = 0; i < size && i < 8; ++i) {
        value = value << 8 | bytes[i];
    }
    return value;
}

/* The page decoders in the order an identification calls them. */
void DecodeAll(const unsigned char* page, int allocLen, DevInfo* dev) {
    (void)DecodePageSTD(page, allocLen, dev);
    (void)DecodePageC0(page, allocLen, dev);
    (void)DecodePage80(page, allocLen, dev);
    (void)DecodePage83(page, allocLen, dev);
    if (dev->iIfVersion < TS_IFVERSION_LETTERS) {
        (void)DecodePageC4(page, allocLen, dev);
    }
    (void)DecodePageC8(page, allocLen, dev);
    (void)DecodePageC9(page, allocLen, dev);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < kHeader) {
        return 0;
    }
    const int decoder = data[0] % 9;
    const int version = kVersions[data[1] % (sizeof kVersions / sizeof kVersions[0])];
    const int allocLen = (data[2] << 8 | data[3]) % (kMaxAlloc + 1);
    const uint8_t flags = data[4];

    std::vector<unsigned char> page(static_cast<size_t>(allocLen), 0);
    const size_t given = size - kHeader;
    if (given > 0 && allocLen > 0) {
        memcpy(page.data(), data + kHeader, given < page.size() ? given : page.size());
    }
    if ((flags & 1) != 0 && allocLen >= 4) {
        page[2] = 0xFF;
        page[3] = 0xFF;
    }
    if ((flags & 2) != 0 && allocLen >= 1) {
        page[0] &= 0x1F;
    }
    if ((flags & 8) != 0 && allocLen >= 187) {
        page[183] = static_cast<unsigned char>(version >> 8);
        page[184] = 0;
        page[185] = static_cast<unsigned char>(version & 0xFF);
        page[186] = 0;
    }

    std::unique_ptr<DevInfo> dev(new DevInfo);
    tstopo_InitDevInfoToDefault(dev.get(), TS_DEVTYPE_PATH);
    dev->iIfVersion = version;
    if ((flags & 4) != 0) {
        (void)snprintf(dev->acCtrl.data(), dev->acCtrl.size(), "B");
    }

    const unsigned char* bytes = page.data();
    switch (decoder) {
        case 0:
            (void)DecodePageSTD(bytes, allocLen, dev.get());
            break;
        case 1:
            (void)DecodePageC0(bytes, allocLen, dev.get());
            break;
        case 2:
            (void)DecodePage80(bytes, allocLen, dev.get());
            break;
        case 3:
            (void)DecodePage83(bytes, allocLen, dev.get());
            break;
        case 4:
            (void)DecodePageC4(bytes, allocLen, dev.get());
            break;
        case 5:
            (void)DecodePageC8(bytes, allocLen, dev.get());
            break;
        case 6:
            (void)DecodePageC9(bytes, allocLen, dev.get());
            break;
        case 7:
            FormatCapacityText(Capacity(data + kHeader, given), &dev->acCapacity);
            if (strlen(dev->acCapacity.data()) > 7) { /* at most "1023.9P" */
                __builtin_trap();
            }
            break;
        default:
            DecodeAll(bytes, allocLen, dev.get());
            break;
    }
    CheckRecord(*dev);
    return 0;
}
