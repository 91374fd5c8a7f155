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

// What a field of a page holds that names the host, the array or the LUN.
enum class LunHolds : unsigned char {
    Name,        // text up to its first NUL: a LUN name or a port identifier
    Serial,      // a serial number as text, blanks in front; it may be all digits
    SerialCopy,  // the first characters of a serial number another page holds whole
    Bytes,       // an identifier as binary bytes (shown as hex digits)
    WideName,    // two-byte characters; the byte before the field counts their bytes
};

// A field at a fixed place of a page. length 0: to the end of the page.
struct LunField {
    unsigned char page;
    unsigned short offset;
    unsigned short length;
    LunHolds holds;
};

// Page 0x80: the array's serial number, to the end of the page.
constexpr LunField kLunUnitSerial = {kLunPageSerial, 4, 0, LunHolds::Serial};
// Page 0xC0: the first 16 characters of the array's serial number, and the
// identifiers of the target port and of the initiator port of the path
// (a WWPN in hex digits, or an iSCSI name).
constexpr LunField kLunArraySerialCopy = {kLunPageInterface, 112, 16, LunHolds::SerialCopy};
constexpr LunField kLunTargetPortId = {kLunPageInterface, 192, 241, LunHolds::Name};
constexpr LunField kLunInitiatorPortId = {kLunPageInterface, 433, 241, LunHolds::Name};
// Page 0xC8: the LUN's name, the array's raw 16-byte id of the LUN (the
// digits of its NAA designator), and the array's name: a length byte, then
// at most 40 two-byte characters.
constexpr LunField kLunLunName = {kLunPageLun, 29, 40, LunHolds::Name};
constexpr LunField kLunRawLunId = {kLunPageLun, 90, 16, LunHolds::Bytes};
constexpr unsigned short kLunArrayNameLength = 106;
constexpr LunField kLunArrayName = {kLunPageLun, 107, 80, LunHolds::WideName};
static_assert(kLunArrayNameLength + 1 == kLunArrayName.offset, "the length byte leads the name");
// Page 0xC9: the identifier of the port the path enters.
constexpr LunField kLunPortId = {kLunPageOwnWork, 134, 127, LunHolds::Name};

// Every field above that holds an identifier; within a page in the order
// the anonymizer finds them (its replacements are drawn in that order).
// Page 0x83's designators stand at no fixed place: the anonymizer walks
// them.
constexpr LunField kLunIdentifierFields[] = {
    kLunUnitSerial, kLunArraySerialCopy, kLunTargetPortId, kLunInitiatorPortId,
    kLunArrayName,  kLunRawLunId,        kLunLunName,      kLunPortId,
};

#endif  // TSKIT_LUN_PAGES_H
