// tsexTool records and lists: devices, paths, vluns, physical paths and
// alarms (linked by the kit's intrusive list, common/intrusive_list.h), their defaults, the two
// copy rules that discovery uses to merge them, the look-up of a vlun by its
// dm name and the checks of device nodes and names. Discovery fills the
// lists (tstopology_discovery.h, tstopology_devices.h); the tables and the
// alarm analysis read them.
#ifndef TSEXTOOL_TSTOPOLOGY_H
#define TSEXTOOL_TSTOPOLOGY_H

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "../../common/intrusive_list.h"

// A fixed text field: always NUL-terminated; N is the full size.
template <size_t N>
using TsText = std::array<char, N>;

// Record kinds (DevInfo::iDevType).
enum TsDevType { TS_DEVTYPE_DEVICE = 0, TS_DEVTYPE_PATH = 1, TS_DEVTYPE_VLUN = 2 };

// Everything known about one block device.
struct DevInfo {
    ListHead stNode;  // link in g_tsdevicelist; unlinked in path and vlun records
    int iDevType;
    TsText<256> acDevPath;
    TsText<64> acDevName;
    TsText<64> acVidPid;
    TsText<16> acCapacity;
    TsText<64> acLunName;
    TsText<64> acLunWwn;
    TsText<16> acDevLunId;
    TsText<16> acArrayLunId;
    TsText<16> acCtrl;
    TsText<32> acOwnWork;
    TsText<128> acArrayName;
    TsText<64> acArraySn;
    TsText<64> acRawLunId;
    TsText<16> acPortType;
    TsText<129> acPortId;
    TsText<16> acStatus;
    TsText<16> acInqStatus;
    TsText<256> acHostWwn;
    TsText<256> acTargetWwn;
    int iIfVersion;
    int iShieldTpg;
    int iDualArray;
    // A path that the listing shows failed by dm: the map sends it no I/O, so
    // it is not active whatever its TEST UNIT READY says.
    int iDmFailed;
    uint64_t ullCapacityBytes;  // READ CAPACITY's answer in bytes; 0 when it gave none
};

struct VlunInfo;
struct PhypathInfo;

// One SCSI path (sd device) of a vlun.
struct PathInfo {
    DevInfo stDev;
    ListHead stList;          // link in the parent vlun's stPathList
    VlunInfo* pstVlun;        // the owning vlun; never null
    PhypathInfo* pstPhypath;  // the physical path it was merged into, or null
    TsText<64> acHctl;
    int iHctlValid;
    int iHost;
    int iChannel;
    int iTarget;
    int iLun;
};

// One DM-multipath device (dm device).
struct VlunInfo {
    DevInfo stDev;
    ListHead stList;      // link in g_tsvlunlist
    ListHead stPathList;  // its PathInfo records, in listing order
    TsText<64> acDmWwn;
    TsText<16> acDmSize;
    TsText<64> acDmVidPid;
    // The map's alias: the name its header starts with when the WWID follows
    // in parentheses ("mpatha (36e0fc...) dm-0 ..."); "--" for a map named
    // by its WWID. A device-mapper name holds at most 127 characters.
    TsText<128> acAlias;
};

// One physical path: the paths over one initiator-port/target-port pair,
// and for iSCSI over one session: two logins from one initiator name to one
// target port (each software iSCSI session has a SCSI host of its own) are
// two links that fail apart.
struct PhypathInfo {
    ListHead stNode;  // link in g_tsphypathlist
    TsText<64> acAlias;
    TsText<16> acCtrl;
    TsText<128> acArrayName;
    TsText<64> acArraySn;
    TsText<16> acPortType;
    TsText<129> acPortId;
    TsText<16> acStatus;
    TsText<256> acHostWwn;
    TsText<256> acTargetWwn;
    int iHctValid;
    int iHost;
    int iChannel;
    int iTarget;
    int iSession;  // the iSCSI session K of its paths; -1 off iSCSI or when unknown
};

// Alarm subjects: which fields an alarm carries depends on its type.
struct AlarmPhypathSubject {  // types 11, 12, 13
    TsText<16> acCtrl;
    TsText<256> acHostWwn;
    TsText<256> acTargetWwn;
    TsText<128> acArrayName;
    TsText<64> acArraySn;
};

struct AlarmVlunSubject {  // types 14, 15, 16, 17
    TsText<64> acAlias;
    TsText<64> acWwn;
    TsText<64> acNewWwn;
    TsText<64> acArraySn;
    TsText<16> acCtrl;
};

struct AlarmPathSubject {  // type 18
    TsText<64> acAlias;
    TsText<64> acVlunAlias;
    TsText<64> acVlunWwn;
    TsText<16> acCtrl;
    TsText<256> acHostWwn;
    TsText<256> acTargetWwn;
    // 1 when the physical path it runs over is active: another session to
    // the same port pair may be down without explaining this path.
    int iPhypathActive;
};

// One finding of the alarm analysis. Written field by field by its creator;
// the subject fields that its type does not fill are never read.
struct AlarmInfo {
    ListHead stNode;  // link in g_tsalarmlist
    TsText<16> acLevel;
    int iType;
    TsText<512> acDescription;
    union {
        AlarmPhypathSubject stPhypath;
        AlarmVlunSubject stVlun;
        AlarmPathSubject stPath;
    } unSubject;
};

// The four global lists; tstool_Init makes them empty.
extern ListHead g_tsvlunlist;
extern ListHead g_tsphypathlist;
extern ListHead g_tsdevicelist;
extern ListHead g_tsalarmlist;

// A text field has a value when it is non-empty and neither "--" nor "--/--".
bool tstopo_TextHasValue(const char* text);

void tstopo_InitDevInfoToDefault(DevInfo* dev, int devType);
void tstopo_InitPathInfoToDefault(PathInfo* path, VlunInfo* vlun);
void tstopo_InitVlunInfoToDefault(VlunInfo* vlun);

// Copy count bytes of src into dest (size destSize) only when dest has no
// value / only when src has a value.
void DEST_INVALID_AND_COPY(char* dest, size_t destSize, const char* src, size_t count);
void SRC_VALID_AND_COPY(char* dest, size_t destSize, const char* src, size_t count);

// The vlun of g_tsvlunlist whose dm name (acDevName) is name, or null.
VlunInfo* tstopo_GetVlunByDevname(const char* name);

// Checks made before a device node is opened, or before a device name
// reaches a shell command line.
// 0 when the node exists and is readable, else -1.
int JudgeFileExistAndRead(const char* nodePath);
// 0 when name may be put into a shell command line, else -1.
int JudgeDevnameUnsafeStr(const char* name);

#endif  // TSEXTOOL_TSTOPOLOGY_H
