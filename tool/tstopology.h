// tsexTool records and lists: devices, paths, vluns, physical paths and
// alarms, the intrusive list they are linked by, their defaults and the two
// copy rules that discovery uses to merge them.
#ifndef TSEXTOOL_TSTOPOLOGY_H
#define TSEXTOOL_TSTOPOLOGY_H

#include <array>
#include <cstddef>
#include <cstdio>

// A fixed text field: always NUL-terminated; N is the full size.
template <size_t N>
using TsText = std::array<char, N>;

// Intrusive, circular, doubly linked list link. An empty list, or an
// unlinked element, points to itself.
struct ListHead {
    ListHead* prev;
    ListHead* next;
};

inline void INIT_LIST_HEAD(ListHead* link) {
    link->next = link;
    link->prev = link;
}

// Elements are only ever appended, so every list keeps creation order.
inline void list_add_tail(ListHead* element, ListHead* head) {
    ListHead* last = head->prev;
    element->next = head;
    element->prev = last;
    last->next = element;
    head->prev = element;
}

inline void list_del(ListHead* element) {
    element->prev->next = element->next;
    element->next->prev = element->prev;
    element->next = nullptr;
    element->prev = nullptr;
}

inline bool list_empty(const ListHead* head) {
    return head->next == head;
}

// The record that embeds the link.
#define list_entry(link, type, member) \
    (reinterpret_cast<type*>(reinterpret_cast<char*>(link) - offsetof(type, member)))

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
};

// One physical path: the paths over one initiator-port/target-port pair.
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

// Discovery results besides 0. -1 from the vlun discovery means that the
// "multipath -ll" listing could not be started at all.
#define TS_ERR_CANNOT_RUN (-1)
#define TS_ERR_NOT_VENDOR (-2)    // the device is not one of the vendor's
#define TS_ERR_NO_MULTIPATH (-3)  // the multipath command is missing or fails
#define TS_ERR_INQUIRY (-4)       // the standard INQUIRY failed (strict identification)
#define TS_ERR_OPEN (-5)          // the device node cannot be opened

// Vlun, path and phypath discovery from "multipath -ll". At most one of the
// two names is given: a dm name selects one vlun, an sd name selects paths.
int tstopo_GetVlunTopology(const char* vlunName, const char* pathName);
int tstopo_GetPhypathTopology();
VlunInfo* tstopo_GetVlunByDevname(const char* name);

// Device discovery: the /sys/block scan (optionally for one name), or the
// vluns and paths copied into device records.
int tstopo_GetDeviceTopology(const char* name);
void tstopo_VlunConvertToDevice();

// ---------------------------------------------------------------------------
// The steps of discovery, for the tests and the fuzz targets. Records are
// allocated with malloc, one by one, and released with free.

// Listing cutters: each works on one line, writes only into the caller's
// buffer (destSize bytes, always terminated) and returns 0 or -1.

// Segment index (from 1) of text, segments being maximal runs of characters
// other than delim, counted forward (direction 1) or backward from the end
// (direction -1). A segment too long for destSize - 1 characters leaves dest
// empty and still succeeds.
int GetStringSegmentWithInChar(const char* text, char delim, int index, int direction, char* dest,
                               int destSize);
// The word that begins at the first occurrence of pattern.
int GetStringByCompareRegion(const char* text, const char* pattern, char* dest, int destSize);
// The 32 WWID characters after the leading 3 of a map header (WWID first, or
// the alias first and the WWID in parentheses).
int GetDMwwnStringFromLinebuf(const char* line, char* dest, int destSize);
// The header's vendor (last word before the last comma) and product (first
// word after it). The product is written first.
int GetDMvidpidStringFromLinebuf(const char* line, char* vendor, char* product, int size);
// The header's dm name: its first word that is "dm-" and digits only.
int GetDMnameStringFromLinebuf(const char* line, char* dest, int destSize);
// The size text of a "size=..." or "[size=...]" line.
int GetSizeFromLinebuf(const char* line, char* dest, int destSize);
// The SCSI address of a path line into path (acHctl, iHctlValid and the four
// numbers); path is left unchanged on failure.
int GetHTCLFromLinebuf(const char* line, PathInfo* path);
int GetHTCLFromLineHCTLBuf(const char* text, PathInfo* path);

// Multipath discovery: reads "multipath -ll" (or a listing stream) into
// g_tsvlunlist, without identification.
int GetVlunTopologyFromMultipath(const char* vlunName, const char* pathName);
void GetVlunTopologyFromListing(FILE* listing, const char* vlunName, const char* pathName);
VlunInfo* CreateVlunFromMultipath(const char* line, const char* dmName);
PathInfo* CreatePathFromMultipath(VlunInfo* vlun, const char* line, const char* sdName);

// Physical paths: the paths over one initiator-port/target-port pair.
PhypathInfo* LookupAndCreatePhypathByPath(PathInfo* path);
// While on, LookupAndCreatePhypathByPath finds phypaths through an index by
// host and target WWN (built from g_tsphypathlist when turned on) instead of
// walking the list; the results are the same.
void tstopo_IndexPhypaths(int on);
PhypathInfo* CreatePhypathByPath(PathInfo* path);
void UpdatePhypathInfoByPath(PhypathInfo* phypath, PathInfo* path);

// The host's transport classes (/sys/class/fc_host, fc_remote_ports,
// iscsi_host, iscsi_session), for links whose devices do not answer. A path
// without initiator or target port identifiers from its port page takes
// them from there through its H:C:T, in the form the page gives them.
void tstopo_TakePortsFromTransport(PathInfo* path);
// A phypath whose link the transport reports down (an FC host port or
// remote port not Online, an iSCSI session not LOGGED_IN) shows that state.
void tstopo_TakeTransportState(PhypathInfo* phypath);
// The page's form of an FC port name that sysfs shows as "0x..." (16
// lower-case hex digits); -1 when the text is no port name.
int tstopo_FcPortNameText(const char* sysfsText, char* dest, size_t destSize);
// Where the transport classes are read from ("/sys/class"); tests point it
// elsewhere.
void tstopo_SetTransportRoot(const char* root);

// Device records.
DevInfo* CreateDeviceWithDevname(const char* name);
DevInfo* CreateDeviceWithDevinfo(const DevInfo* source);
// The capacity text of /sys/block/NAME/size ("10G", "9.5G", "0.0K").
int GetCapacityFromSysfs(const char* name, char* dest, int destSize);

// 0 when the node exists and is readable, else -1.
int JudgeFileExistAndRead(const char* nodePath);
// 0 when name may be put into a shell command line, else -1.
int JudgeDevnameUnsafeStr(const char* name);

#endif  // TSEXTOOL_TSTOPOLOGY_H
