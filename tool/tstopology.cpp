// tsexTool records: the global lists, the record defaults and the copy rules.
#include "tstopology.h"

#include <cstring>

#include "boundedfunc.h"

ListHead g_tsvlunlist = {&g_tsvlunlist, &g_tsvlunlist};
ListHead g_tsphypathlist = {&g_tsphypathlist, &g_tsphypathlist};
ListHead g_tsdevicelist = {&g_tsdevicelist, &g_tsdevicelist};
ListHead g_tsalarmlist = {&g_tsalarmlist, &g_tsalarmlist};

namespace {

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
