// The decoders of the fields of the vendor's pages (lun_pages.h), one for
// each field whose meaning is more than its bytes, and the readings in
// which the programs differ, each named with its reason. A decoder works on
// the bytes a device returned alone: it sends nothing and logs nothing.
#ifndef TSKIT_LUN_DECODE_H
#define TSKIT_LUN_DECODE_H

#include <stddef.h>
#include <stdint.h>

#include "lun_pages.h"

// ---- page length and qualifier ----

// How many bytes of a page a program reads.
enum class LunLength : unsigned char {
    // tsexTool: the page length the device gave (bytes 2 and 3, plus the
    // header) within the buffer; a field beyond it was not sent.
    Page,
    // ts_showdisk: the whole buffer, zero-filled before the request; bytes
    // the device did not send read as zeros, as the program always read them.
    Buffer,
};
int lun_ReadableLength(const unsigned char* page, int len, LunLength reading);

// The peripheral qualifier (byte 0, bits 5..7); 0 for an empty buffer. A
// page of qualifier other than 0 speaks of no LUN behind this path.
int lun_Qualifier(const unsigned char* page, int len);

// Where a field ends, and whether the readable bytes hold all of it.
constexpr int lun_FieldEnd(const LunField& field) {
    return field.offset + field.length;
}
constexpr bool lun_FieldSent(int readable, const LunField& field) {
    return readable >= lun_FieldEnd(field);
}

// ---- text fields ----

// How a program takes a text field into its destination, which keeps its
// last byte for a terminator in every reading.
enum class LunText : unsigned char {
    // tsexTool's cells and ts_showdisk's LUN name: every byte of the field,
    // NULs and what follows them included; the destination is zero-filled.
    AsSent,
    // The Solaris table and ts_showdisk's controller names: the characters
    // before the first NUL.
    ToNul,
    // ts_showdisk's vendor: the bytes as sent with every blank made a NUL,
    // so that the text ends at the first blank.
    BlanksEnd,
};
// page holds len bytes; a field beyond them reads as zeros (a field of
// length 0 is read as 256 bytes). 0, or -1 with the destination emptied
// when the field (AsSent, BlanksEnd) or its text (ToNul) does not fit it.
int lun_Text(const unsigned char* page, int len, const LunField& field, LunText reading, char* dest,
             size_t size);

// A number field, most significant byte first; zeros beyond len.
uint32_t lun_Number(const unsigned char* page, int len, const LunField& field);
// tsexTool's LUN id cells: the low two bytes of a LUN id field, as its
// arrays hand out ids below 65536.
uint32_t lun_LowNumber(const unsigned char* page, int len, const LunField& field);

// ---- page 0x83 ----

// The first designator of a device identification page, when the readable
// bytes hold its header: its code set, type and length, and where its bytes
// start.
struct LunDesignator {
    unsigned codeSet;
    unsigned type;
    size_t at;
    size_t length;
};
// Every designator whose header the len bytes of page hold, in their
// order; a designator's bytes may run beyond len.
template <typename Found>
void lun_EachDesignator(const unsigned char* page, size_t len, Found found) {
    for (size_t at = 4; at + 4 <= len; at += 4 + page[at + 3]) {
        found(LunDesignator{page[at] & 0x0Fu, page[at + 1] & 0x0Fu, at + 4, page[at + 3]});
    }
}

// The LUN's WWN: the first designator's 16 bytes when that designator is an
// NAA one (type 3) of length 16, as 32 lower-case hex digits. Devices may put
// another designator first (a T10 vendor ID one, whose text is the same for
// every LUN of a model): its bytes are no WWN, and the function returns
// false with dest untouched. readable: at least the designator's 24 bytes.
bool lun_Wwn(const unsigned char* page, int readable, char* dest, size_t size);

// ---- page 0xC0 ----

// Where a program reads the interface version of bytes 183..186.
enum class LunVersion : unsigned char {
    // tsexTool: newer arrays write it into bytes 184 and 186, older ones
    // into 183 and 185; the newer place counts when both its bytes are set.
    EitherPlace,
    // ts_showdisk: bytes 183 and 185 alone, each a signed byte, as its
    // choice of page 0xC9's layout always read them.
    OlderPlaceSigned,
};
// The version from the four bytes of kLunInterfaceVersion.
int lun_InterfaceVersion(const unsigned char bytes[4], LunVersion reading);

// The names of the port type codes a program shows; "--" for any other.
enum class LunPortTypes : unsigned char {
    FcAndIscsi,  // tsexTool: the transports its physical paths know
    Every,       // ts_showdisk: FC, SAS, iSCSI, FCoE and IB
};
const char* lun_PortTypeText(unsigned char code, LunPortTypes names);

// ---- controllers: pages 0xC4 and 0xC9 ----

// Page 0xC4's controller code: 0x81.. and 0x31.. ('1'..) both count from the
// first controller, as do the plain numbers 0..0x30.
int lun_ControllerIndex(int code);
// A letter of page 0xC9 from 514 on: the controller's letter less 0x10.
char lun_ControllerLetter(unsigned char code);
// tsexTool's owning and working controllers on the oldest arrays, from page
// 0xC9 bytes 8 (working) and 9 (owning): codes from 0x81 or 0x31 name the
// controllers outright; small numbers are relative to this path's
// controller (ctrl "B" or else A): working 1 is this one and 0 the other,
// owning 1 this one and 2 the other; anything else "--".
void lun_OwnWorkFromCodes(const unsigned char* page, const char* ctrl, char* work, char* own,
                          int size);
// ts_showdisk's controller cell on the oldest arrays: "first/second", each
// "0A" or "0B", from page 0xC4's code x ('1' or '2') and page 0xC9 bytes 8
// (a) and 9 (b).
void lun_OwnWorkPairText(unsigned char x, unsigned char a, unsigned char b, char* dest,
                         size_t size);

// ---- page 0xC8: the array's name ----

// How a program reads the array's two-byte characters.
enum class LunArrayName : unsigned char {
    // tsexTool: the second byte of every character, all 40 of them from 514
    // on, else to the end of the readable page; the length byte is not read.
    SecondBytes,
    // ts_showdisk: as many bytes as the length byte says (a length above 80
    // gives an empty name: the length byte is the device's word), every
    // NUL among them left out.
    NonZeroBytes,
};
// dest is zero-filled by the caller for SecondBytes, which writes no
// terminator; readable and version are SecondBytes' alone. -1 when the
// readable bytes do not hold the name.
int lun_ArrayNameOf(const unsigned char* page, int len, int readable, int version,
                    LunArrayName reading, char* dest, size_t size);

#endif  // TSKIT_LUN_DECODE_H
