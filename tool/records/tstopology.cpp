// tsexTool records: the global lists, the record defaults, the copy rules,
// the look-up of a vlun by name and the node and name checks.
#include "records/tstopology.h"

#include <unistd.h>

#include <cstring>

#include "../../common/listing_text.h"
#include "boundedfunc.h"
#include "tslog.h"

ListHead g_tsvlunlist = {&g_tsvlunlist, &g_tsvlunlist};
ListHead g_tsphypathlist = {&g_tsphypathlist, &g_tsphypathlist};
ListHead g_tsdevicelist = {&g_tsdevicelist, &g_tsdevicelist};
ListHead g_tsalarmlist = {&g_tsalarmlist, &g_tsalarmlist};

namespace {

constexpr int kLogDetail = 0;

// Writes a default text with the field width less one as the bound.
template <size_t N>
void SetDefault(TsText<N>& field, const char* text) {
    (void)sprintf_s(field.data(), N - 1, "%s", text);
}

}  // namespace

bool tstopo_TextHasValue(const char* text) {
    return text != nullptr && text[0] != '\0' && strcmp(text, "--") != 0 &&
           strcmp(text, "--/--") != 0;
}

void tstopo_InitDevInfoToDefault(DevInfo* dev, int devType) {
    if (dev == nullptr) {
        return;
    }
    (void)memset_s(dev, sizeof(*dev), 0, sizeof(*dev));
    INIT_LIST_HEAD(&dev->stNode);
    dev->iDevType = devType;
    SetDefault(dev->acDevPath, "--");
    SetDefault(dev->acDevName, "--");
    SetDefault(dev->acVidPid, "--/--");
    SetDefault(dev->acCapacity, "--");
    SetDefault(dev->acLunName, "--");
    SetDefault(dev->acLunWwn, "--");
    SetDefault(dev->acDevLunId, "--");
    SetDefault(dev->acArrayLunId, "--");
    SetDefault(dev->acCtrl, "--");
    SetDefault(dev->acOwnWork, "--/--");
    SetDefault(dev->acArrayName, "--");
    SetDefault(dev->acArraySn, "--");
    SetDefault(dev->acRawLunId, "--");
    SetDefault(dev->acPortType, "--");
    SetDefault(dev->acPortId, "--");
    SetDefault(dev->acStatus, "--");
    SetDefault(dev->acInqStatus, "--");
    SetDefault(dev->acHostWwn, "--");
    SetDefault(dev->acTargetWwn, "--");
}

void tstopo_InitPathInfoToDefault(PathInfo* path, VlunInfo* vlun) {
    if (path == nullptr || vlun == nullptr) {
        return;
    }
    (void)memset_s(path, sizeof(*path), 0, sizeof(*path));
    INIT_LIST_HEAD(&path->stList);
    path->pstVlun = vlun;
    tstopo_InitDevInfoToDefault(&path->stDev, TS_DEVTYPE_PATH);
    SetDefault(path->acHctl, "#:#:#:#");
}

void tstopo_InitVlunInfoToDefault(VlunInfo* vlun) {
    if (vlun == nullptr) {
        return;
    }
    (void)memset_s(vlun, sizeof(*vlun), 0, sizeof(*vlun));
    INIT_LIST_HEAD(&vlun->stList);
    INIT_LIST_HEAD(&vlun->stPathList);
    SetDefault(vlun->acDmWwn, "--");
    SetDefault(vlun->acDmSize, "--");
    SetDefault(vlun->acDmVidPid, "--/--");
    SetDefault(vlun->acAlias, "--");
    tstopo_InitDevInfoToDefault(&vlun->stDev, TS_DEVTYPE_VLUN);
}

void DEST_INVALID_AND_COPY(char* dest, size_t destSize, const char* src, size_t count) {
    if (!tstopo_TextHasValue(dest)) {
        (void)memcpy_s(dest, destSize, src, count);
    }
}

void SRC_VALID_AND_COPY(char* dest, size_t destSize, const char* src, size_t count) {
    if (tstopo_TextHasValue(src)) {
        (void)memcpy_s(dest, destSize, src, count);
    }
}

VlunInfo* tstopo_GetVlunByDevname(const char* name) {
    if (name == nullptr) {
        return nullptr;
    }
    for (ListHead* link = g_tsvlunlist.next; link != &g_tsvlunlist; link = link->next) {
        VlunInfo* vlun = list_entry(link, VlunInfo, stList);
        if (strcmp(vlun->stDev.acDevName.data(), name) == 0) {
            return vlun;
        }
    }
    return nullptr;
}

int JudgeFileExistAndRead(const char* nodePath) {
    if (nodePath == nullptr) {
        return -1;
    }
    if (access(nodePath, F_OK) != 0) {
        tsprint_Log(kLogDetail, "Device[%s] isn't exist.\n", nodePath);
        return -1;
    }
    if (access(nodePath, R_OK) != 0) {
        tsprint_Log(kLogDetail, "Device[%s] does not have read access.\n", nodePath);
        return -1;
    }
    return 0;
}

// Deliberately stricter than the five separators && || & | ;: a backquote,
// "$", a redirection, a quote, a blank or a newline would reach the shell that
// runs "cat" just the same, and a kernel name ("cciss!c0d0", "nvme0n1",
// "dm-3") needs none of them. ts_showdisk refuses the same names.
int JudgeDevnameUnsafeStr(const char* name) {
    return IsShellSafeName(name) ? 0 : -1;
}
