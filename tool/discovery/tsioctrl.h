// tsexTool SCSI commands and identification: TEST UNIT READY, INQUIRY
// and READ CAPACITY sent through the kit's device layer (SG_IO on Linux), and the decoding of
// the standard data and the arrays' vital product data pages into a DevInfo.
//
// Every page has a thin fetch step (GetPathInfoFromPageXX: one INQUIRY on an
// open descriptor) and a pure decoder (DecodePageXX) that works on the
// returned bytes alone. A decoder is given the buffer and its allocation
// length; it never reads beyond the buffer, and bytes that the device did not
// return read as 0 because the buffer is zero-filled before each request.
#ifndef TSEXTOOL_TSIOCTRL_H
#define TSEXTOOL_TSIOCTRL_H

#include <scsi/sg.h>

#include <cstdint>

#include "lun_pages.h"
#include "records/tsstatus.h"
#include "records/tstopology.h"

// Identification modes of tsioctrl_GetDevInfomationByInquiry.
enum TsInquiryMode {
    TS_INQUIRY_TOLERANT = 0,  // vluns and paths: a failed standard INQUIRY does not stop
    TS_INQUIRY_STRICT = 1,    // plain disks: a failed standard INQUIRY rejects the device
};

// Interface versions of the arrays' vendor pages (page 0xC0).
enum TsIfVersion {
    TS_IFVERSION_VPD = kLunVersionVpd,          // serial, WWN, controller and LUN pages are read
    TS_IFVERSION_LETTERS = kLunVersionLetters,  // page 0xC9 codes controllers as letters - 0x10
    TS_IFVERSION_NAMES = kLunVersionNames,      // page 0xC9 carries controller names as text
    TS_IFVERSION_PORT_ID = kLunVersionPortId,   // page 0xC8 LUN ID and page 0xC9 port id
};

// ---------------------------------------------------------------------------
// Command senders. None opens or closes the descriptor.

// TEST UNIT READY, retried on UNIT ATTENTION and on retryable transport
// errors, at most five requests in all. 0 when the unit is ready, else -1.
int tsioctrl_TUR(int fd);

// One INQUIRY. buffer (allocLen bytes) is zero-filled first. 0 when status,
// host_status and driver_status are all 0, else -1.
int tsioctrl_Inquiry(int fd, unsigned char evpd, unsigned char pageCode, unsigned char* buffer,
                     int allocLen);

// READ CAPACITY(10), falling back to READ CAPACITY(16) when it fails or the
// device is too large for it. 0 with the capacity in bytes, else -1 and
// *capacity untouched.
int tsioctrl_ReadCapacity(int fd, uint64_t* capacity);

// READ CAPACITY(16) alone.
int tsioctrl_ReadLongCapacity(int fd, uint64_t* capacity);

// Sense key, ASC and ASCQ of a completed request, from fixed (at least 14
// bytes) or descriptor (at least 4 bytes) sense data; left as the caller set
// them when the sense is not recognised.
void Analyze_sg_io_hdr(const sg_io_hdr_t* hdr, int* senseKey, int* asc, int* ascq);

// ---------------------------------------------------------------------------
// Byte and text helpers.

uint32_t GetUnalignedBe32(const unsigned char* bytes);

// count bytes as 2*count lower-case hex digits. trim 1 drops trailing zero
// bytes first. -1 when an argument is missing, count is 0 or the text does
// not fit in destSize.
int tsioctrl_AsciiToString(const unsigned char* src, int count, char* dest, int destSize, int trim);

// Copies src without its leading and trailing spaces (0x20 only).
void TrimHeadTailBlankSpace(const char* src, char* dest, int destSize);

// ---------------------------------------------------------------------------
// Identification.

// Opens dev->acDevPath read-only and fills dev from the device. Returns one of
// TsStatus (TS_OK, TS_ERR_FAILED for a missing record, TS_ERR_NOT_VENDOR,
// TS_ERR_INQUIRY, TS_ERR_OPEN).
int tsioctrl_GetDevInfomationByInquiry(DevInfo* dev, int mode);

// acInqStatus after one INQUIRY: "active" on success; on failure "--" only
// while the field has no value.
void UpdateDevinfoInquiryState(DevInfo* dev, int result);

// The older own/work report of page 0xC9 (bytes 8 working, 9 owning), relative
// to the controller ctrl that this path enters (lun_OwnWorkFromCodes). work
// and own get size bytes.
void AnalyzeWorkOwnTpgid(const unsigned char* page, const char* ctrl, char* work, char* own,
                         int size);

// Fetch steps: one INQUIRY each (none for 0xC4 from version 514 on), then the
// decoder. GetPathInfoFromPageSTD returns 0, -2 (another vendor) or -4 (the
// INQUIRY failed); the others 0 or -1.
int GetPathInfoFromPageSTD(int fd, DevInfo* dev);
int GetPathInfoFromPageC0(int fd, DevInfo* dev);
int GetPathInfoFromPage80(int fd, DevInfo* dev);
int GetPathInfoFromPage83(int fd, DevInfo* dev);
int GetPathInfoFromPageC4(int fd, DevInfo* dev);
int GetPathInfoFromPageC8(int fd, DevInfo* dev);
int GetPathInfoFromPageC9(int fd, DevInfo* dev);
int GetPathInfoFromReadCapacity(int fd, DevInfo* dev);

// Pure decoders of one returned page (allocLen bytes at page). The page
// decoders stop with -1 at the first step whose bytes lie beyond the usable
// length; what the steps before wrote stays. DecodePageSTD returns 0 or -2.
int DecodePageSTD(const unsigned char* page, int allocLen, DevInfo* dev);
int DecodePageC0(const unsigned char* page, int allocLen, DevInfo* dev);
int DecodePage80(const unsigned char* page, int allocLen, DevInfo* dev);
int DecodePage83(const unsigned char* page, int allocLen, DevInfo* dev);
int DecodePageC4(const unsigned char* page, int allocLen, DevInfo* dev);
int DecodePageC8(const unsigned char* page, int allocLen, DevInfo* dev);
int DecodePageC9(const unsigned char* page, int allocLen, DevInfo* dev);

// Capacity text in binary units: "10G", "1.5G", "512B"; "--" for 0.
void FormatCapacityText(uint64_t capacity, TsText<16>* text);

#endif  // TSEXTOOL_TSIOCTRL_H
