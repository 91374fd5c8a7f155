// tsexTool alarm analysis: turns the discovered vluns, paths and physical
// paths into the findings of `check status`, kept in g_tsalarmlist in the
// order raised (physical-path alarms first, then per vlun its path alarms,
// its redundancy alarm and its identifier alarm).
#ifndef TSEXTOOL_TSALARM_H
#define TSEXTOOL_TSALARM_H

#include "records/tstopology.h"

// Alarm types.
enum TsAlarmType : unsigned int {
    TS_ALARM_MULTIPATH_INVALID = 10,    // no subject
    TS_ALARM_PHYPATH_ABNORMAL = 11,     // PhypathInfo
    TS_ALARM_PHYPATH_NO_REDUND = 12,    // PhypathInfo: the only active one
    TS_ALARM_PHYPATH_ONE_CTRL = 13,     // PhypathInfo: the reference
    TS_ALARM_VLUN_ALL_PATHS_DOWN = 14,  // VlunInfo
    TS_ALARM_VLUN_NO_REDUND = 15,       // VlunInfo
    TS_ALARM_VLUN_ONE_CTRL = 16,        // VlunInfo
    TS_ALARM_VLUN_WWN_CHANGED = 17,     // VlunInfo
    TS_ALARM_PATH_ABNORMAL = 18,        // PathInfo
};

// Discovers the phypath topology and analyses it. 0 when the analysis ran,
// also when the multipath listing is unavailable (then alarm 10 alone);
// any other discovery failure is returned unchanged and no alarm is made.
int tsalarm_GetAlarmList();

// The two analyses; they walk the global lists and raise alarms.
void AnalyzeAlarmPhypathTopology();
void AnalyzeAlarmVlunTopology();

// Builds an alarm of the type about the subject (null for type 10 only),
// appends it unless it is a duplicate, and returns it; null when nothing
// was added.
AlarmInfo* CreateAlarmWithTypeInfo(unsigned int type, const void* subject);

// 1 when the new alarm is covered by an alarm already in the list and must
// be dropped, else 0: an alarm 11 by one of the same port pair (another
// iSCSI session to the same target port), an alarm 18, 15 or 16 as the
// rules of their types say. Adding a vlun's alarm 14 removes its path alarms.
int JudgeRepeatOriginAlarm(const AlarmInfo* alarm);

// While on, CreateAlarmWithTypeInfo applies the duplicate rules through an
// index of the older alarms (built from g_tsalarmlist when turned on)
// instead of walking the list; the alarms kept and removed are the same.
void tsalarm_IndexAlarms(int on);

// 1 when the new path alarm (type 18) is covered by the older alarm: an
// alarm 11 of its port pair while its own physical path is not active (the
// one down, or another session's alarm that stands for it), or an alarm 14
// of its vlun; else 0.
int JudgeRepeatOriginPathAbnormalAlarm(const AlarmInfo* alarm, const AlarmInfo* older);

// Writes the alarm's sentence from its type and subject fields.
void FillUpAlarmDescription(AlarmInfo* alarm);

#endif  // TSEXTOOL_TSALARM_H
