// Device discovery: the vendor's disks as plain block devices, found by a
// scan of /sys/block (each entry identified through SCSI commands, its
// capacity read from the sysfs size file) or copied from the vluns and paths
// of multipath discovery.
#include "discovery/tstopology_devices.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "../../common/listing_text.h"
#include "../../common/unique_dir.h"
#include "../../common/unique_fd.h"
#include "../../common/unique_pipe.h"
#include "boundedfunc.h"
#include "discovery/tsioctrl.h"
#include "discovery/tsquery.h"
#include "records/tsstatus.h"
#include "tslog.h"

namespace {

constexpr int kLogError = 3;
constexpr int kLogDetail = 0;

constexpr char kSysBlock[] = "/sys/block";
constexpr size_t kSysBlockLength = sizeof kSysBlock - 1;
constexpr size_t kEntryPathSize = 256;
constexpr int kLineSize = 256;
// The unit of the sysfs size files, whatever the device's own block size.
constexpr uint64_t kSectorBytes = 512;

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// The leading decimal number of a line; none counts as 0. Kept apart from
// ts_showdisk's strtoull, which also skips leading blanks and takes a sign.
uint64_t LeadingNumber(const char* text) {
    uint64_t value = 0;
    for (; IsDigit(*text); ++text) {
        uint64_t digit = static_cast<uint64_t>(*text - '0');
        if (value > (UINT64_MAX - digit) / 10) {
            return UINT64_MAX;
        }
        value = value * 10 + digit;
    }
    return value;
}

bool IsDirectory(const char* path) {
    struct stat info {};
    return stat(path, &info) == 0 && S_ISDIR(info.st_mode);
}

}  // namespace

int GetCapacityFromSysfs(const char* name, char* dest, int destSize) {
    if (JudgeDevnameUnsafeStr(name) != 0) {
        tsprint_Log(kLogError, "Device[%s] is invalid name.\n", name != nullptr ? name : "");
        return -1;
    }
    if (dest == nullptr || destSize <= 0) {
        return -1;
    }
    char command[kLineSize];
    UniquePipe pipe;
    if (sprintf_s(command, sizeof command, "cat /sys/block/%s/size 2>/dev/null", name) >= 0) {
        pipe = UniquePipe(popen(command, "r"));
    }
    if (!pipe.Valid()) {
        tsprint_Log(kLogError, "Popen device size[/sys/block/%s/size] failed.\n", name);
        return -1;
    }
    char line[kLineSize];
    if (fgets(line, sizeof line, pipe.Get()) == nullptr) {
        return -1;
    }
    size_t length = strlen(line);
    if (length > 0 && line[length - 1] == '\n') {
        line[length - 1] = '\0';
    }
    return SizeTextFromSectors(LeadingNumber(line), dest, static_cast<size_t>(destSize));
}

namespace {

// A kernel name that may go into a sysfs path: "dm-" and digits, or "sd"
// and lower-case letters.
bool IsBlockName(const char* name) {
    if (strncmp(name, "dm-", 3) == 0) {
        return IsDigit(name[3]) && strspn(name + 3, "0123456789") == strlen(name + 3);
    }
    return strncmp(name, "sd", 2) == 0 && name[2] != '\0' &&
           strspn(name + 2, "abcdefghijklmnopqrstuvwxyz") == strlen(name + 2);
}

}  // namespace

int tstopo_GetBlockBytes(const char* name, uint64_t* bytes) {
    // Only checked kernel names: nothing else is put into the path.
    if (name == nullptr || bytes == nullptr || !IsBlockName(name)) {
        return -1;
    }
    char path[kEntryPathSize];
    if (snprintf(path, sizeof path, "%s/%s/size", kSysBlock, name) >=
        static_cast<int>(sizeof path)) {
        return -1;
    }
    UniqueFd fd(open(path, O_RDONLY | O_CLOEXEC));
    char text[32] = {};
    const ssize_t length = fd.Valid() ? read(fd.Get(), text, sizeof text - 1) : -1;
    if (length <= 0 || !IsDigit(text[0])) {
        return -1;
    }
    const uint64_t sectors = LeadingNumber(text);
    if (sectors > UINT64_MAX / kSectorBytes) {
        return -1;
    }
    *bytes = sectors * kSectorBytes;
    return 0;
}

namespace {

// A record for the disk NAME of /sys/block, not yet identified; null when
// its node is missing or unreadable, or no memory is left.
DevInfo* NewDeviceRecord(const char* name) {
    char node[kEntryPathSize];
    (void)memset_s(node, sizeof node, 0, sizeof node);
    if (sprintf_s(node, sizeof node - 1, "/dev/%s", name) < 0 || JudgeFileExistAndRead(node) != 0) {
        return nullptr;
    }
    auto* dev = static_cast<DevInfo*>(malloc(sizeof(DevInfo)));
    if (dev == nullptr) {
        tsprint_Log(kLogError, "Alloc memory failed for device.\n");
        return nullptr;
    }
    tstopo_InitDevInfoToDefault(dev, TS_DEVTYPE_DEVICE);
    // A name too long for its field could not be looked up again.
    if (sprintf_s(dev->acDevName.data(), dev->acDevName.size(), "%s", name) < 0 ||
        sprintf_s(dev->acDevPath.data(), dev->acDevPath.size(), "%s", node) < 0) {
        free(dev);
        return nullptr;
    }
    return dev;
}

// Keeps an identified record in g_tsdevicelist, or frees one that is not
// the vendor's or did not answer.
DevInfo* KeepIdentifiedDevice(DevInfo* dev, int result) {
    if (result == TS_ERR_NOT_VENDOR || result == TS_ERR_INQUIRY || result == TS_ERR_OPEN) {
        free(dev);
        return nullptr;
    }
    list_add_tail(&dev->stNode, &g_tsdevicelist);
    tsprint_Log(kLogDetail, "Create device[%s].\n", dev->acDevName.data());
    return dev;
}

void TakeSysfsCapacity(DevInfo* dev) {
    if (dev != nullptr && GetCapacityFromSysfs(dev->acDevName.data(), dev->acCapacity.data(),
                                               static_cast<int>(dev->acCapacity.size())) != 0) {
        tsprint_Log(kLogError, "Device[%s] get size failed.\n", dev->acDevName.data());
    }
}

// The disks of /sys/block identified side by side: the records are made in
// entry order (their diagnostics kept per entry), queried on the pool, then
// kept or freed in entry order with their diagnostics written.
void IdentifyDevices(const std::vector<std::string>& names) {
    std::vector<std::string> madeLogs(names.size());
    std::vector<TsQuery> queries(names.size());
    for (size_t i = 0; i < names.size(); ++i) {
        tsprint_CaptureLog(&madeLogs[i]);
        queries[i] = tsquery_Of(NewDeviceRecord(names[i].c_str()), TS_INQUIRY_STRICT);
        tsprint_CaptureLog(nullptr);
    }
    std::vector<TsQuery> made;
    std::vector<size_t> madeIndex;
    for (size_t i = 0; i < names.size(); ++i) {
        if (queries[i].dev != nullptr) {
            made.push_back(queries[i]);
            madeIndex.push_back(i);
        }
    }
    tsquery_Run(&made);
    size_t next = 0;
    for (size_t i = 0; i < names.size(); ++i) {
        tsprint_WriteLogText(madeLogs[i]);
        if (next < madeIndex.size() && madeIndex[next] == i) {
            TsQuery& query = made[next++];
            TakeSysfsCapacity(KeepIdentifiedDevice(query.dev, tsquery_Take(&query)));
        }
    }
}

}  // namespace

DevInfo* CreateDeviceWithDevname(const char* name) {
    if (name == nullptr) {
        return nullptr;
    }
    DevInfo* dev = NewDeviceRecord(name);
    if (dev == nullptr) {
        return nullptr;
    }
    return KeepIdentifiedDevice(dev, tsioctrl_GetDevInfomationByInquiry(dev, TS_INQUIRY_STRICT));
}

DevInfo* CreateDeviceWithDevinfo(const DevInfo* source) {
    if (source == nullptr) {
        return nullptr;
    }
    auto* dev = static_cast<DevInfo*>(malloc(sizeof(DevInfo)));
    if (dev == nullptr) {
        tsprint_Log(kLogError, "Alloc memory failed for device.\n");
        return nullptr;
    }
    tstopo_InitDevInfoToDefault(dev, TS_DEVTYPE_DEVICE);
    (void)memcpy_s(dev, sizeof(*dev), source, sizeof(*source));
    INIT_LIST_HEAD(&dev->stNode);
    dev->iDevType = TS_DEVTYPE_DEVICE;
    list_add_tail(&dev->stNode, &g_tsdevicelist);
    tsprint_Log(kLogDetail, "Create device[%s].\n", dev->acDevName.data());
    return dev;
}

void tstopo_VlunConvertToDevice() {
    for (ListHead* vlunLink = g_tsvlunlist.next; vlunLink != &g_tsvlunlist;
         vlunLink = vlunLink->next) {
        VlunInfo* vlun = list_entry(vlunLink, VlunInfo, stList);
        DevInfo* dev = CreateDeviceWithDevinfo(&vlun->stDev);
        if (dev != nullptr) {
            // The listing's own values win where it has them.
            SRC_VALID_AND_COPY(dev->acVidPid.data(), dev->acVidPid.size(), vlun->acDmVidPid.data(),
                               vlun->acDmVidPid.size());
            SRC_VALID_AND_COPY(dev->acCapacity.data(), dev->acCapacity.size(),
                               vlun->acDmSize.data(), vlun->acDmSize.size());
            SRC_VALID_AND_COPY(dev->acLunWwn.data(), dev->acLunWwn.size(), vlun->acDmWwn.data(),
                               vlun->acDmWwn.size());
        }
        for (ListHead* link = vlun->stPathList.next; link != &vlun->stPathList; link = link->next) {
            (void)CreateDeviceWithDevinfo(&list_entry(link, PathInfo, stList)->stDev);
        }
    }
}

int tstopo_GetDeviceTopology(const char* name) {
    UniqueDir dir(opendir(kSysBlock));
    if (!dir.Valid()) {
        tsprint_Log(kLogError, "Open dir(/sys/block) failed.\n");
        return -1;
    }
    char path[kEntryPathSize];
    (void)strncpy_s(path, sizeof path, kSysBlock, sizeof path - 1);
    char* tail = path + kSysBlockLength;
    std::vector<std::string> names;  // with more than one job: identified after the walk
    for (const dirent* entry = readdir(dir.Get()); entry != nullptr; entry = readdir(dir.Get())) {
        if (strcmp(entry->d_name, ".") == 0 || strcmp(entry->d_name, "..") == 0) {
            continue;
        }
        // Cut back to "/sys/block" before every entry: appending to the last
        // entry's path would leave every entry after the first unexamined.
        tail[0] = '\0';
        if (strcat_s(tail, sizeof path - kSysBlockLength, "/") != BOUNDED_OK ||
            strcat_s(tail + 1, sizeof path - kSysBlockLength - 1, entry->d_name) != BOUNDED_OK ||
            !IsDirectory(path)) {
            continue;
        }
        if (name != nullptr && strcmp(name, entry->d_name) != 0) {
            continue;
        }
        if (tsquery_Jobs() <= 1) {
            TakeSysfsCapacity(CreateDeviceWithDevname(entry->d_name));
        } else {
            names.emplace_back(entry->d_name);
        }
    }
    IdentifyDevices(names);
    return 0;
}
