// ts_showdisk for Solaris 10: walks the device tree for disks of the ssd
// driver, asks each raw node about itself with INQUIRY through USCSI and
// prints one fixed-width row per device path.
#ifndef TSKIT_SHOWDISK_SOLARIS_DEVICEINFO_SOLARIS_H
#define TSKIT_SHOWDISK_SOLARIS_DEVICEINFO_SOLARIS_H

#include <stdint.h>

#include "../scsi/solaris/solaris_platform.h"

// Attribute store of the device being processed.
extern char g_acVendorID[9];
extern char g_acProductID[17];
extern char g_acVersion[10];
extern char g_acSerialNumber[17];
extern char g_acWwn[35];
extern char g_acLunName[61];
extern int32_t g_lDevLunId;  // -1: none

// Reply buffer of every INQUIRY and the allocation length of the current one.
extern unsigned char g_Buf[256];
extern unsigned int g_uiReqLen;

struct ScsiCmdRequest {
    unsigned char* cdb;
    uint8_t cdb_len;    // at most 16
    int32_t direction;  // 0, 1: from the device; 2: to the device
    unsigned char* buffer;
    uint32_t buffer_len;
    unsigned char* sense;
    uint32_t sense_len;
    int16_t timeout;  // seconds; 0: 6
};

// Device ids seen so far; the head is a dummy node with no id.
struct DevIdNode {
    TS_DevId devid;
    DevIdNode* next;
};

extern DevIdNode* g_pSsdIdHeader;
extern DevIdNode* g_pSsdIdTail;
extern TS_DiNode save_node;

// Selectors of TS_ScsiGetDriveInfo.
#define TS_DRIVE_INFO_STD 1
#define TS_DRIVE_INFO_SERIAL 2
#define TS_DRIVE_INFO_WWN 3
#define TS_DRIVE_INFO_LUN 4

int TS_DeviceOpen(const char* path);
int TS_HatDoScsiCmd(int fd, const ScsiCmdRequest* request);
int TS_ScsiStdInquiry(int fd, unsigned char* buffer, unsigned int length, unsigned char page);
int TS_ScsiGetDriveInfo(int fd, int selector);
int TS_IsDeviceIdExist(TS_DevId devid);
// While on, TS_IsDeviceIdExist answers from an index of the recorded ids
// (built from the list when turned on, kept up by the walk) instead of
// walking the list; the answers are the same.
void TS_IndexDeviceIds(int on);
void TS_ResetDeviceInfo(void);
void TS_GetLunInfo(const char* path);
int TS_TraverseDisk(TS_DiNode node, TS_DiMinor minor, void* arg);
int TS_GetLunList(void);
void TS_PrintfHead(void);
void TS_PrintfTail(void);
void TS_DisplayDeviceInfo(const char* path);
void TS_FreeDevIdList(void);

// A --json run: the rows, the messages about each device and the walk's
// result go into this document instead of the table (null: the table).
class JsonWriter;
void TS_SetJsonWriter(JsonWriter* json);

#endif  // TSKIT_SHOWDISK_SOLARIS_DEVICEINFO_SOLARIS_H
