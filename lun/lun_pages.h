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

#endif  // TSKIT_LUN_PAGES_H
