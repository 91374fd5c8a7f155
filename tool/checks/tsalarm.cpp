// tsexTool alarm analysis.
#include "checks/tsalarm.h"

#include <cstdlib>
#include <cstring>

#include "../../common/hash_index.h"
#include "boundedfunc.h"
#include "discovery/tstopology_discovery.h"
#include "records/tsrows.h"
#include "records/tsstatus.h"
#include "tslog.h"

namespace {

constexpr const char* kMajor = "[Major]";

bool Same(const char* left, const char* right) {
    return strcmp(left, right) == 0;
}

template <size_t N>
void CopyField(TsText<N>& dest, const TsText<N>& src) {
    (void)memcpy_s(dest.data(), N, src.data(), N);
}

void CopyPhypathSubject(AlarmInfo* alarm, const PhypathInfo* phypath) {
    AlarmPhypathSubject& subject = alarm->unSubject.stPhypath;
    CopyField(subject.acCtrl, phypath->acCtrl);
    CopyField(subject.acHostWwn, phypath->acHostWwn);
    CopyField(subject.acTargetWwn, phypath->acTargetWwn);
    CopyField(subject.acArrayName, phypath->acArrayName);
    CopyField(subject.acArraySn, phypath->acArraySn);
}

// The array serial a vlun's row shows: its dm node's own, or, for a node
// that is missing or did not answer, the one its paths give its row, so
// that the duplicate rules still find the vlun's array.
const decltype(DevInfo::acArraySn)& VlunArraySn(const VlunInfo* vlun, DevInfo (&rows)[2]) {
    if (tstopo_TextHasValue(vlun->stDev.acArraySn.data()) || list_empty(&vlun->stPathList)) {
        return vlun->stDev.acArraySn;
    }
    (void)tsrows_MergeVlunRows(*vlun, rows);
    return rows[0].acArraySn;
}

void CopyVlunSubject(AlarmInfo* alarm, const VlunInfo* vlun) {
    AlarmVlunSubject& subject = alarm->unSubject.stVlun;
    CopyField(subject.acAlias, vlun->stDev.acDevName);
    CopyField(subject.acWwn, vlun->acDmWwn);
    CopyField(subject.acNewWwn, vlun->stDev.acLunWwn);
    DevInfo rows[2];
    CopyField(subject.acArraySn, VlunArraySn(vlun, rows));
    CopyField(subject.acCtrl, vlun->stDev.acCtrl);
}

void CopyPathSubject(AlarmInfo* alarm, const PathInfo* path) {
    AlarmPathSubject& subject = alarm->unSubject.stPath;
    CopyField(subject.acAlias, path->stDev.acDevName);
    CopyField(subject.acVlunAlias, path->pstVlun->stDev.acDevName);
    CopyField(subject.acVlunWwn, path->pstVlun->acDmWwn);
    CopyField(subject.acCtrl, path->stDev.acCtrl);
    CopyField(subject.acHostWwn, path->stDev.acHostWwn);
    CopyField(subject.acTargetWwn, path->stDev.acTargetWwn);
    subject.iPhypathActive =
        path->pstPhypath != nullptr && Same(path->pstPhypath->acStatus.data(), "active") ? 1 : 0;
}

// Alarm 11 names a port pair. Two iSCSI sessions to one target port are two
// physical paths with the same pair: when both are down, the second one's
// alarm would repeat the first's word for word, so it gives way to it.
bool SamePortPair(const AlarmInfo* alarm, const AlarmInfo* older) {
    const AlarmPhypathSubject& phypath = alarm->unSubject.stPhypath;
    return older->iType == TS_ALARM_PHYPATH_ABNORMAL &&
           Same(phypath.acHostWwn.data(), older->unSubject.stPhypath.acHostWwn.data()) &&
           Same(phypath.acTargetWwn.data(), older->unSubject.stPhypath.acTargetWwn.data());
}

bool IsPhypathType(unsigned int type) {
    return type >= TS_ALARM_PHYPATH_ABNORMAL && type <= TS_ALARM_PHYPATH_ONE_CTRL;
}

bool IsVlunType(unsigned int type) {
    return type >= TS_ALARM_VLUN_ALL_PATHS_DOWN && type <= TS_ALARM_VLUN_WWN_CHANGED;
}

// Alarm 15 gives way to 12, and 16 to 13, of the same array. Deliberate
// change: only a serial number with a value names an array; two vluns or
// phypaths whose serial is "--" are not known to share one.
bool SameKnownArray(const AlarmInfo* alarm, const AlarmInfo* older) {
    const char* serial = alarm->unSubject.stVlun.acArraySn.data();
    return tstopo_TextHasValue(serial) && Same(serial, older->unSubject.stPhypath.acArraySn.data());
}

// ---- the duplicate rules through an index ----
//
// A host with thousands of failed paths raises thousands of alarms; each new
// alarm would walk all older ones. While the analysis runs, the older alarms
// that a rule can look for are indexed by what the rule compares: alarm 11
// by host and target WWN (the rules of 11 and 18 then compare the rest), 14 and 18 by vlun alias,
// 12 and 13 by array serial. The rules are the walk's, answered from the index.

HashIndex s_alarmIndex;
bool s_alarmIndexOn = false;

uint64_t TextKey(char kind, const char* text, uint64_t seed = HashBytes("", 0)) {
    return HashBytes(text, strlen(text) + 1, HashBytes(&kind, 1, seed));
}

// The key under which an older alarm is found, false for types no rule
// looks for.
bool KeyOf(const AlarmInfo* alarm, uint64_t* key) {
    const AlarmPhypathSubject& phypath = alarm->unSubject.stPhypath;
    switch (alarm->iType) {
        case TS_ALARM_PHYPATH_ABNORMAL:
            *key = TextKey('T', phypath.acTargetWwn.data(), TextKey('H', phypath.acHostWwn.data()));
            return true;
        case TS_ALARM_PHYPATH_NO_REDUND:
        case TS_ALARM_PHYPATH_ONE_CTRL:
            *key = TextKey(static_cast<char>(alarm->iType), phypath.acArraySn.data());
            return true;
        case TS_ALARM_VLUN_ALL_PATHS_DOWN:
            *key = TextKey('D', alarm->unSubject.stVlun.acAlias.data());
            return true;
        case TS_ALARM_PATH_ABNORMAL:
            *key = TextKey('P', alarm->unSubject.stPath.acVlunAlias.data());
            return true;
        default:
            return false;
    }
}

void IndexAlarm(AlarmInfo* alarm) {
    uint64_t key = 0;
    if (s_alarmIndexOn && KeyOf(alarm, &key)) {
        s_alarmIndex.Add(key, alarm);
    }
}

AlarmInfo* FindOlder(uint64_t key, const AlarmInfo* alarm) {
    return static_cast<AlarmInfo*>(s_alarmIndex.Find(key, [alarm](void* value) {
        const AlarmInfo* older = static_cast<const AlarmInfo*>(value);
        switch (alarm->iType) {
            case TS_ALARM_PATH_ABNORMAL:
                return JudgeRepeatOriginPathAbnormalAlarm(alarm, older) == 1;
            case TS_ALARM_PHYPATH_ABNORMAL:
                return SamePortPair(alarm, older);
            case TS_ALARM_VLUN_NO_REDUND:
                return older->iType == TS_ALARM_PHYPATH_NO_REDUND && SameKnownArray(alarm, older);
            case TS_ALARM_VLUN_ONE_CTRL:
                return older->iType == TS_ALARM_PHYPATH_ONE_CTRL && SameKnownArray(alarm, older);
            case TS_ALARM_VLUN_ALL_PATHS_DOWN:
                return older->iType == TS_ALARM_PATH_ABNORMAL &&
                       Same(alarm->unSubject.stVlun.acAlias.data(),
                            older->unSubject.stPath.acVlunAlias.data());
            default:
                return false;
        }
    }));
}

int IndexedRepeatOriginAlarm(const AlarmInfo* alarm) {
    const AlarmPathSubject& path = alarm->unSubject.stPath;
    const char* serial = alarm->unSubject.stVlun.acArraySn.data();
    switch (alarm->iType) {
        case TS_ALARM_PHYPATH_ABNORMAL: {
            uint64_t key = 0;
            return KeyOf(alarm, &key) && FindOlder(key, alarm) != nullptr ? 1 : 0;
        }
        case TS_ALARM_PATH_ABNORMAL:
            return FindOlder(
                       TextKey('T', path.acTargetWwn.data(), TextKey('H', path.acHostWwn.data())),
                       alarm) != nullptr ||
                           FindOlder(TextKey('D', path.acVlunAlias.data()), alarm) != nullptr
                       ? 1
                       : 0;
        case TS_ALARM_VLUN_NO_REDUND:
            return FindOlder(TextKey(static_cast<char>(TS_ALARM_PHYPATH_NO_REDUND), serial),
                             alarm) != nullptr
                       ? 1
                       : 0;
        case TS_ALARM_VLUN_ONE_CTRL:
            return FindOlder(TextKey(static_cast<char>(TS_ALARM_PHYPATH_ONE_CTRL), serial),
                             alarm) != nullptr
                       ? 1
                       : 0;
        case TS_ALARM_VLUN_ALL_PATHS_DOWN: {
            const uint64_t key = TextKey('P', alarm->unSubject.stVlun.acAlias.data());
            for (AlarmInfo* older = FindOlder(key, alarm); older != nullptr;
                 older = FindOlder(key, alarm)) {
                s_alarmIndex.Remove(key, older);
                list_del(&older->stNode);
                free(older);
            }
            return 0;
        }
        default:
            return 0;
    }
}

}  // namespace

void tsalarm_IndexAlarms(int on) {
    s_alarmIndex.Clear();
    s_alarmIndexOn = on != 0;
    for (ListHead* link = g_tsalarmlist.next; s_alarmIndexOn && link != &g_tsalarmlist;
         link = link->next) {
        IndexAlarm(list_entry(link, AlarmInfo, stNode));
    }
}

int JudgeRepeatOriginPathAbnormalAlarm(const AlarmInfo* alarm, const AlarmInfo* older) {
    if (alarm == nullptr || older == nullptr || alarm->iType != TS_ALARM_PATH_ABNORMAL) {
        return 0;
    }
    // A path over an active physical path is not explained by another
    // session to the same port pair being down.
    if (older->iType == TS_ALARM_PHYPATH_ABNORMAL && alarm->unSubject.stPath.iPhypathActive != 0) {
        return 0;
    }
    const AlarmPathSubject& path = alarm->unSubject.stPath;
    if (older->iType == TS_ALARM_PHYPATH_ABNORMAL) {
        const AlarmPhypathSubject& phypath = older->unSubject.stPhypath;
        return Same(phypath.acHostWwn.data(), path.acHostWwn.data()) &&
                       Same(phypath.acTargetWwn.data(), path.acTargetWwn.data())
                   ? 1
                   : 0;
    }
    if (older->iType == TS_ALARM_VLUN_ALL_PATHS_DOWN) {
        return Same(older->unSubject.stVlun.acAlias.data(), path.acVlunAlias.data()) ? 1 : 0;
    }
    return 0;
}

int JudgeRepeatOriginAlarm(const AlarmInfo* alarm) {
    ListHead* link = g_tsalarmlist.next;
    while (link != &g_tsalarmlist) {
        ListHead* next = link->next;
        AlarmInfo* older = list_entry(link, AlarmInfo, stNode);
        switch (alarm->iType) {
            case TS_ALARM_PHYPATH_ABNORMAL:
                if (SamePortPair(alarm, older)) {
                    return 1;
                }
                break;
            case TS_ALARM_PATH_ABNORMAL:
                if (JudgeRepeatOriginPathAbnormalAlarm(alarm, older) == 1) {
                    return 1;
                }
                break;
            case TS_ALARM_VLUN_NO_REDUND:
                if (older->iType == TS_ALARM_PHYPATH_NO_REDUND && SameKnownArray(alarm, older)) {
                    return 1;
                }
                break;
            case TS_ALARM_VLUN_ONE_CTRL:
                if (older->iType == TS_ALARM_PHYPATH_ONE_CTRL && SameKnownArray(alarm, older)) {
                    return 1;
                }
                break;
            case TS_ALARM_VLUN_ALL_PATHS_DOWN:
                if (older->iType == TS_ALARM_PATH_ABNORMAL &&
                    Same(alarm->unSubject.stVlun.acAlias.data(),
                         older->unSubject.stPath.acVlunAlias.data())) {
                    list_del(link);
                    free(older);
                }
                break;
            default:
                break;
        }
        link = next;
    }
    return 0;
}

void FillUpAlarmDescription(AlarmInfo* alarm) {
    // Deliberate change: a sentence too long for the field (long port
    // identifiers) keeps its first 511 characters instead of becoming empty.
    char* dest = alarm->acDescription.data();
    const size_t size = alarm->acDescription.size();
    const AlarmPhypathSubject& phypath = alarm->unSubject.stPhypath;
    const AlarmVlunSubject& vlun = alarm->unSubject.stVlun;
    const AlarmPathSubject& path = alarm->unSubject.stPath;
    switch (alarm->iType) {
        case TS_ALARM_MULTIPATH_INVALID:
            (void)snprintf_truncated_s(dest, size, "The multipath is invalid.");
            break;
        case TS_ALARM_PHYPATH_ABNORMAL:
            (void)snprintf_truncated_s(dest, size,
                                       "The phypath (host wwn:%s, controller:%s, target wwn:%s) "
                                       "of array (name:%s, sn:%s) is abnormal.",
                                       phypath.acHostWwn.data(), phypath.acCtrl.data(),
                                       phypath.acTargetWwn.data(), phypath.acArrayName.data(),
                                       phypath.acArraySn.data());
            break;
        case TS_ALARM_PHYPATH_NO_REDUND:
            (void)snprintf_truncated_s(
                dest, size,
                "The array (name:%s, sn:%s) cannot be accessed through a redundant "
                "phypath.",
                phypath.acArrayName.data(), phypath.acArraySn.data());
            break;
        case TS_ALARM_PHYPATH_ONE_CTRL:
            (void)snprintf_truncated_s(
                dest, size,
                "The array (name:%s, sn:%s) cannot be accessed through a redundant "
                "controller.",
                phypath.acArrayName.data(), phypath.acArraySn.data());
            break;
        case TS_ALARM_VLUN_ALL_PATHS_DOWN:
            (void)snprintf_truncated_s(dest, size,
                                       "All paths of vlun (alias:%s, wwn:%s) are abnormal",
                                       vlun.acAlias.data(), vlun.acWwn.data());
            break;
        case TS_ALARM_VLUN_NO_REDUND:
            (void)snprintf_truncated_s(
                dest, size,
                "The vlun (alias:%s, wwn:%s) cannot be accessed through a redundant "
                "path.",
                vlun.acAlias.data(), vlun.acWwn.data());
            break;
        case TS_ALARM_VLUN_ONE_CTRL:
            (void)snprintf_truncated_s(
                dest, size,
                "The vlun (alias:%s, wwn:%s) cannot be accessed through a redundant "
                "controller.",
                vlun.acAlias.data(), vlun.acWwn.data());
            break;
        case TS_ALARM_VLUN_WWN_CHANGED:
            (void)snprintf_truncated_s(
                dest, size, "The wwn(%s) of vlun(alias:%s) are change to wwn(%s).",
                vlun.acWwn.data(), vlun.acAlias.data(), vlun.acNewWwn.data());
            break;
        case TS_ALARM_PATH_ABNORMAL:
            (void)snprintf_truncated_s(dest, size,
                                       "The path (alias:%s, host wwn:%s, controller:%s, target "
                                       "wwn:%s) of vlun (alias:%s, wwn:%s) is abnormal.",
                                       path.acAlias.data(), path.acHostWwn.data(),
                                       path.acCtrl.data(), path.acTargetWwn.data(),
                                       path.acVlunAlias.data(), path.acVlunWwn.data());
            break;
        default:
            break;
    }
}

AlarmInfo* CreateAlarmWithTypeInfo(unsigned int type, const void* subject) {
    if (type != TS_ALARM_MULTIPATH_INVALID && subject == nullptr) {
        return nullptr;
    }
    auto* alarm = static_cast<AlarmInfo*>(calloc(1, sizeof(AlarmInfo)));
    if (alarm == nullptr) {
        tsprint_Log(3, "Alloc memory failed for alarm.\n");
        return nullptr;
    }
    if (type < TS_ALARM_MULTIPATH_INVALID || type > TS_ALARM_PATH_ABNORMAL) {
        free(alarm);
        return nullptr;
    }
    INIT_LIST_HEAD(&alarm->stNode);
    (void)sprintf_s(alarm->acLevel.data(), alarm->acLevel.size(), "%s", kMajor);
    alarm->iType = static_cast<int>(type);
    if (IsPhypathType(type)) {
        CopyPhypathSubject(alarm, static_cast<const PhypathInfo*>(subject));
    } else if (IsVlunType(type)) {
        CopyVlunSubject(alarm, static_cast<const VlunInfo*>(subject));
    } else if (type == TS_ALARM_PATH_ABNORMAL) {
        CopyPathSubject(alarm, static_cast<const PathInfo*>(subject));
    }
    const bool indexed = s_alarmIndexOn && !s_alarmIndex.Failed();
    if ((indexed ? IndexedRepeatOriginAlarm(alarm) : JudgeRepeatOriginAlarm(alarm)) == 1) {
        free(alarm);
        return nullptr;
    }
    FillUpAlarmDescription(alarm);
    list_add_tail(&alarm->stNode, &g_tsalarmlist);
    IndexAlarm(alarm);
    tsprint_Log(0, "Create alarm with type[%d].\n", alarm->iType);
    return alarm;
}

namespace {

// Phypaths that take part in the phypath analysis: both port names known.
bool HasPortPair(const PhypathInfo* phypath) {
    return tstopo_TextHasValue(phypath->acHostWwn.data()) &&
           tstopo_TextHasValue(phypath->acTargetWwn.data());
}

// Whether an earlier phypath of the list already stood for this array.
bool ArraySeenBefore(const ListHead* upTo, const PhypathInfo* phypath) {
    for (ListHead* link = g_tsphypathlist.next; link != upTo; link = link->next) {
        const PhypathInfo* earlier = list_entry(link, PhypathInfo, stNode);
        if (HasPortPair(earlier) && Same(earlier->acArraySn.data(), phypath->acArraySn.data())) {
            return true;
        }
    }
    return false;
}

// Redundancy of one array (the phypaths that carry its serial number): one
// active physical path gives alarm 12, active ones that all lead to one
// controller give alarm 13.
void AnalyzeArrayRedundancy(const char* serial) {
    unsigned int active = 0;
    const PhypathInfo* reference = nullptr;
    bool controllersDiffer = false;
    for (ListHead* link = g_tsphypathlist.next; link != &g_tsphypathlist; link = link->next) {
        const PhypathInfo* phypath = list_entry(link, PhypathInfo, stNode);
        if (!HasPortPair(phypath) || !Same(phypath->acArraySn.data(), serial) ||
            !Same(phypath->acStatus.data(), "active")) {
            continue;
        }
        ++active;
        if (tstopo_TextHasValue(phypath->acCtrl.data())) {
            if (reference == nullptr) {
                reference = phypath;
            } else if (!Same(phypath->acCtrl.data(), reference->acCtrl.data())) {
                controllersDiffer = true;
            }
        }
    }
    if (reference == nullptr) {
        return;
    }
    if (active == 1) {
        (void)CreateAlarmWithTypeInfo(TS_ALARM_PHYPATH_NO_REDUND, reference);
    } else if (!controllersDiffer) {
        (void)CreateAlarmWithTypeInfo(TS_ALARM_PHYPATH_ONE_CTRL, reference);
    }
}

}  // namespace

void AnalyzeAlarmPhypathTopology() {
    for (ListHead* link = g_tsphypathlist.next; link != &g_tsphypathlist; link = link->next) {
        const PhypathInfo* phypath = list_entry(link, PhypathInfo, stNode);
        if (HasPortPair(phypath) && !Same(phypath->acStatus.data(), "active")) {
            (void)CreateAlarmWithTypeInfo(TS_ALARM_PHYPATH_ABNORMAL, phypath);
        }
    }
    // Deliberate change: redundancy is a property of each array. Counted
    // over the whole host, two arrays reached over one physical path each,
    // or over one controller each, would look redundant together.
    for (ListHead* link = g_tsphypathlist.next; link != &g_tsphypathlist; link = link->next) {
        const PhypathInfo* phypath = list_entry(link, PhypathInfo, stNode);
        if (HasPortPair(phypath) && !ArraySeenBefore(link, phypath)) {
            AnalyzeArrayRedundancy(phypath->acArraySn.data());
        }
    }
}

void AnalyzeAlarmVlunTopology() {
    for (ListHead* vlunLink = g_tsvlunlist.next; vlunLink != &g_tsvlunlist;
         vlunLink = vlunLink->next) {
        VlunInfo* vlun = list_entry(vlunLink, VlunInfo, stList);
        unsigned int active = 0;
        const PathInfo* reference = nullptr;
        bool controllersDiffer = false;
        bool wwnChanged = false;
        for (ListHead* pathLink = vlun->stPathList.next; pathLink != &vlun->stPathList;
             pathLink = pathLink->next) {
            const PathInfo* path = list_entry(pathLink, PathInfo, stList);
            const DevInfo& dev = path->stDev;
            if (!Same(dev.acStatus.data(), "active")) {
                (void)CreateAlarmWithTypeInfo(TS_ALARM_PATH_ABNORMAL, path);
                continue;
            }
            ++active;
            if (reference == nullptr) {
                if (tstopo_TextHasValue(dev.acCtrl.data())) {
                    reference = path;
                }
            } else if (!tstopo_TextHasValue(dev.acCtrl.data()) ||
                       !Same(dev.acCtrl.data(), reference->stDev.acCtrl.data())) {
                // A path without a controller may lead anywhere: it counts
                // as another controller.
                controllersDiffer = true;
            }
            if (tstopo_TextHasValue(dev.acLunWwn.data()) &&
                tstopo_TextHasValue(vlun->acDmWwn.data()) &&
                !Same(dev.acLunWwn.data(), vlun->acDmWwn.data())) {
                CopyField(vlun->stDev.acLunWwn, dev.acLunWwn);
                wwnChanged = true;
            }
        }
        if (active == 0) {
            (void)CreateAlarmWithTypeInfo(TS_ALARM_VLUN_ALL_PATHS_DOWN, vlun);
        } else if (active == 1) {
            (void)CreateAlarmWithTypeInfo(TS_ALARM_VLUN_NO_REDUND, vlun);
        } else if (!controllersDiffer && reference != nullptr) {
            CopyField(vlun->stDev.acCtrl, reference->stDev.acCtrl);
            (void)CreateAlarmWithTypeInfo(TS_ALARM_VLUN_ONE_CTRL, vlun);
        }
        if (wwnChanged) {
            (void)CreateAlarmWithTypeInfo(TS_ALARM_VLUN_WWN_CHANGED, vlun);
            tsprint_Log(0, "The vlun[%s] with wwn[%s] change to wwn[%s].\n",
                        vlun->stDev.acDevName.data(), vlun->acDmWwn.data(),
                        vlun->stDev.acLunWwn.data());
        }
    }
}

int tsalarm_GetAlarmList() {
    const int result = tstopo_GetPhypathTopology();
    if (result == TS_ERR_NO_MULTIPATH) {
        (void)CreateAlarmWithTypeInfo(TS_ALARM_MULTIPATH_INVALID, nullptr);
        return 0;
    }
    if (result != 0) {
        return result;
    }
    // Phypath alarms first: the vlun alarms look them up as duplicates.
    tsalarm_IndexAlarms(1);
    AnalyzeAlarmPhypathTopology();
    AnalyzeAlarmVlunTopology();
    tsalarm_IndexAlarms(0);
    return 0;
}
