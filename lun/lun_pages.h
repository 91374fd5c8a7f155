// The pages of the vendor's arrays that the programs ask for: standard
// INQUIRY data and the vital product data pages by their codes.
#ifndef TSKIT_LUN_PAGES_H
#define TSKIT_LUN_PAGES_H

// Standard INQUIRY data goes with EVPD 0 and page code 0; every other page
// with EVPD 1.
constexpr unsigned char kLunPageStandard = 0x00;
constexpr unsigned char kLunPageSerial = 0x80;          // unit serial number
constexpr unsigned char kLunPageIdentification = 0x83;  // device identification
constexpr unsigned char kLunPageInterface = 0xC0;       // interface version, ports
constexpr unsigned char kLunPageController = 0xC4;      // the controller a path enters
constexpr unsigned char kLunPageLun = 0xC8;             // LUN name, ids, array name
constexpr unsigned char kLunPageOwnWork = 0xC9;         // owning and working controllers

// The interface versions of the arrays' vendor pages (page 0xC0), from
// which fields apply.
constexpr unsigned short kLunVersionVpd = 512;      // serial, WWN, controller and LUN pages
constexpr unsigned short kLunVersionLetters = 514;  // page 0xC9 codes controllers as letters
constexpr unsigned short kLunVersionNames = 515;    // page 0xC9 names controllers as text
constexpr unsigned short kLunVersionPortId = 516;   // page 0xC8 device LUN id, 0xC9 port id

// What a field of a page holds.
enum class LunHolds : unsigned char {
    Name,        // text up to its first NUL: a LUN name or a port identifier
    Serial,      // a serial number as text, blanks in front; it may be all digits
    SerialCopy,  // the first characters of a serial number another page holds whole
    Bytes,       // an identifier as binary bytes (shown as hex digits)
    WideName,    // two-byte characters; the byte before the field counts their bytes
    Text,        // text that names no host, array or LUN: a vendor, a controller
    Number,      // an unsigned number, most significant byte first
    Code,        // a byte whose value or bits mean something (lun_decode.h)
};

// A field at a fixed place of a page. length 0: to the end of the page.
// fromVersion: the interface version from which the arrays send it (0: every
// array, and standard data).
struct LunField {
    unsigned char page;
    unsigned short offset;
    unsigned short length;
    LunHolds holds;
    unsigned short fromVersion = 0;
};

// Standard data: vendor, product and revision, blank-padded.
constexpr LunField kLunVendorId = {kLunPageStandard, 8, 8, LunHolds::Text};
constexpr LunField kLunProductId = {kLunPageStandard, 16, 16, LunHolds::Text};
constexpr LunField kLunRevision = {kLunPageStandard, 32, 4, LunHolds::Text};

// Page 0x80: the array's serial number, to the end of the page.
constexpr LunField kLunUnitSerial = {kLunPageSerial, 4, 0, LunHolds::Serial, kLunVersionVpd};

// Page 0xC0. Byte 11 bit 0x40: the array hides owning and working
// controllers; byte 160, its top two bits: the LUN is one of a pair of
// arrays; bytes 183..186: the interface version (lun_InterfaceVersion);
// byte 191: the port type; then the first 16 characters of the array's
// serial number, and the identifiers of the target port and of the
// initiator port of the path (a WWPN in hex digits, or an iSCSI name).
constexpr LunField kLunShieldByte = {kLunPageInterface, 11, 1, LunHolds::Code};
constexpr LunField kLunDualArrayByte = {kLunPageInterface, 160, 1, LunHolds::Code};
constexpr LunField kLunInterfaceVersion = {kLunPageInterface, 183, 4, LunHolds::Code};
constexpr LunField kLunPortType = {kLunPageInterface, 191, 1, LunHolds::Code, kLunVersionVpd};
constexpr LunField kLunArraySerialCopy = {kLunPageInterface, 112, 16, LunHolds::SerialCopy};
constexpr LunField kLunTargetPortId = {kLunPageInterface, 192, 241, LunHolds::Name, kLunVersionVpd};
constexpr LunField kLunInitiatorPortId = {kLunPageInterface, 433, 241, LunHolds::Name,
                                          kLunVersionVpd};

// Page 0xC4, before interface version 514: the code of the controller the
// path enters (lun_ControllerIndex).
constexpr LunField kLunControllerCode = {kLunPageController, 29, 1, LunHolds::Code, kLunVersionVpd};

// Page 0xC8: the LUN's name; the host LUN id; the array's raw 16-byte id of
// the LUN (the digits of its NAA designator); the array's name: a length
// byte, then at most 40 two-byte characters (before interface version 514
// they may run to the end of the page); the device LUN id.
constexpr LunField kLunLunName = {kLunPageLun, 29, 40, LunHolds::Name, kLunVersionVpd};
// The Solaris program's reading of the LUN name: 60 characters from its
// place, to the NUL that ends a name (a name of all 40 runs on into the
// bytes behind it, as its table has always shown it).
constexpr LunField kLunLunNameToNul = {kLunPageLun, 29, 60, LunHolds::Name};
constexpr LunField kLunHostLunId = {kLunPageLun, 85, 4, LunHolds::Number, kLunVersionVpd};
constexpr LunField kLunRawLunId = {kLunPageLun, 90, 16, LunHolds::Bytes, kLunVersionVpd};
constexpr unsigned short kLunArrayNameLength = 106;
constexpr LunField kLunArrayName = {kLunPageLun, 107, 80, LunHolds::WideName, kLunVersionVpd};
static_assert(kLunArrayNameLength + 1 == kLunArrayName.offset, "the length byte leads the name");
constexpr LunField kLunDevLunId = {kLunPageLun, 192, 4, LunHolds::Number, kLunVersionPortId};

// Page 0xC9: on the oldest arrays the working and owning controllers as
// numbers (bytes 8 and 9, lun_OwnWorkFromCodes); from 514 the working,
// owning and path's controller as letters less 0x10 (bytes 12..14); from 515
// the path's, working and owning controllers' names; from 516 the
// identifier of the port the path enters.
constexpr LunField kLunWorkCode = {kLunPageOwnWork, 8, 1, LunHolds::Code, kLunVersionVpd};
constexpr LunField kLunOwnCode = {kLunPageOwnWork, 9, 1, LunHolds::Code, kLunVersionVpd};
constexpr LunField kLunWorkLetter = {kLunPageOwnWork, 12, 1, LunHolds::Code, kLunVersionLetters};
constexpr LunField kLunOwnLetter = {kLunPageOwnWork, 13, 1, LunHolds::Code, kLunVersionLetters};
constexpr LunField kLunPathLetter = {kLunPageOwnWork, 14, 1, LunHolds::Code, kLunVersionLetters};
constexpr LunField kLunPathController = {kLunPageOwnWork, 69, 8, LunHolds::Text, kLunVersionNames};
constexpr LunField kLunWorkController = {kLunPageOwnWork, 77, 8, LunHolds::Text, kLunVersionNames};
constexpr LunField kLunOwnController = {kLunPageOwnWork, 85, 8, LunHolds::Text, kLunVersionNames};
constexpr LunField kLunPortId = {kLunPageOwnWork, 134, 127, LunHolds::Name, kLunVersionPortId};

// Every field above that holds an identifier; within a page in the order
// the anonymizer finds them (its replacements are drawn in that order).
// Page 0x83's designators stand at no fixed place: the anonymizer walks
// them.
constexpr LunField kLunIdentifierFields[] = {
    kLunUnitSerial, kLunArraySerialCopy, kLunTargetPortId, kLunInitiatorPortId,
    kLunArrayName,  kLunRawLunId,        kLunLunName,      kLunPortId,
};

#endif  // TSKIT_LUN_PAGES_H
