// tsexTool table output: verbosity level, column windows, cells, rule lines
// and heading rows.
#include "tsprint.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "tstopology.h"

int g_iloglevel = 99;

void tsprint_SetLogLevel(int level) {
    g_iloglevel = level;
}

void tsprint_Log(int threshold, const char* format, ...) {
    if (g_iloglevel > threshold) {
        return;
    }
    va_list args;
    va_start(args, format);
    (void)vfprintf(stdout, format, args);
    va_end(args);
    (void)fflush(stdout);
}

unsigned int g_uiVlunNameWindow = 0;
unsigned int g_uiDevLunWWNWindow = 0;
unsigned int g_uiPathStatusWindow = 0;
unsigned int g_uiCapacityWindow = 0;
unsigned int g_uiDevLunNameWindow = 0;
unsigned int g_uiVidPidWindow = 0;
unsigned int g_uiCtrlWindow = 0;
unsigned int g_uiArrayNameWindow = 0;
unsigned int g_uiArraySNWindow = 0;
unsigned int g_uiDevLunIDWindow = 0;
unsigned int g_uiPathHCTLWindow = 0;
unsigned int g_uiPathNameWindow = 0;
unsigned int g_uiPathCtrlWindow = 0;
unsigned int g_uiPortTypeWindow = 0;
unsigned int g_uiPortIDWindow = 0;
unsigned int g_uiInitPortWindow = 0;
unsigned int g_uiTargetPortWindow = 0;
unsigned int g_uiPhypathAliasWindow = 0;
unsigned int g_uiDeviceNameWindow = 0;
unsigned int g_uiAlarmLevelWindow = 0;
unsigned int g_uiAlarmDescriptionWindow = 0;

unsigned int g_uiVlunTotalWindow = 0;
unsigned int g_uiVlunPathTotalWindow = 0;
unsigned int g_uiPhypathTotalWindow = 0;
unsigned int g_uiDeviceTotalWindow = 0;
unsigned int g_uiAlarmTotalWindow = 0;

namespace {

// A column is at least as wide as its heading, so that the heading row lines
// up with the data rows. The path name is the one column whose floor (6) is
// wider than its heading.
constexpr unsigned int kVlunNameFloor = 4;           // "Vlun"
constexpr unsigned int kDevLunWWNFloor = 3;          // "WWN"
constexpr unsigned int kPathStatusFloor = 6;         // "Status"
constexpr unsigned int kCapacityFloor = 8;           // "Capacity"
constexpr unsigned int kDevLunNameFloor = 10;        // "DevLunName"
constexpr unsigned int kVidPidFloor = 14;            // "Vendor/Product"
constexpr unsigned int kCtrlFloor = 14;              // "Ctrl(Own/Work)"
constexpr unsigned int kArrayNameFloor = 9;          // "ArrayName"
constexpr unsigned int kArraySNFloor = 7;            // "ArraySN"
constexpr unsigned int kDevLunIDFloor = 8;           // "DevLunID"
constexpr unsigned int kPathHCTLFloor = 7;           // "H:C:T:L"
constexpr unsigned int kPathNameFloor = 6;           // "Path", widened
constexpr unsigned int kPathCtrlFloor = 10;          // "Controller"
constexpr unsigned int kPortTypeFloor = 8;           // "PortType"
constexpr unsigned int kPortIDFloor = 6;             // "PortID"
constexpr unsigned int kInitPortFloor = 13;          // "InitiatorPort"
constexpr unsigned int kTargetPortFloor = 10;        // "TargetPort"
constexpr unsigned int kPhypathAliasFloor = 5;       // "H:C:T"
constexpr unsigned int kDeviceNameFloor = 6;         // "Device"
constexpr unsigned int kAlarmLevelFloor = 10;        // "AlarmLevel"
constexpr unsigned int kAlarmDescriptionFloor = 16;  // "AlarmDescription"

// Every cell carries one space of margin on each side of its window.
constexpr unsigned int kCellMargin = 2;

// Raises a window to hold a text field. The length stops at the field's end
// even if a writer ever left it unterminated.
template <size_t N>
void Measure(unsigned int& window, const TsText<N>& field, unsigned int floor) {
    window = CHOOSE_LEN(window, static_cast<unsigned int>(strnlen(field.data(), N)), floor);
}

struct HeaderCell {
    const char* heading;
    unsigned int window;
};

template <size_t N>
void PrintHeaderRow(const HeaderCell (&cells)[N]) {
    for (const HeaderCell& cell : cells) {
        print_str_in_mid(cell.heading, cell.window + kCellMargin);
    }
    (void)fputs("\n", stdout);
    (void)fflush(stdout);
}

// The array columns are measured from every kind of device record alike.
void MeasureArrayColumns(const DevInfo& dev) {
    Measure(g_uiArrayNameWindow, dev.acArrayName, kArrayNameFloor);
    Measure(g_uiArraySNWindow, dev.acArraySn, kArraySNFloor);
}

}  // namespace

unsigned int CHOOSE_LEN(unsigned int current, unsigned int length, unsigned int floor) {
    unsigned int largest = current > length ? current : length;
    return largest > floor ? largest : floor;
}

void print_dash(unsigned int count, char ch) {
    for (unsigned int i = 0; i < count; ++i) {
        (void)fputc(static_cast<unsigned char>(ch), stdout);
    }
    (void)fflush(stdout);
}

void print_str_in_mid(const char* text, unsigned int width) {
    if (text == nullptr) {
        tsprint_Log(2, "Invalid parameter[buff=NULL].\n");
        return;
    }
    size_t length = strlen(text);
    if (length > width) {
        tsprint_Log(2, "Invalid parameter[len less].\n");
        return;
    }
    unsigned int surplus = width - static_cast<unsigned int>(length);
    unsigned int left = surplus / 2;
    unsigned int right = surplus - left;
    for (unsigned int i = 0; i < left; ++i) {
        (void)fputc(' ', stdout);
    }
    (void)fputs(text, stdout);
    for (unsigned int i = 0; i < right; ++i) {
        (void)fputc(' ', stdout);
    }
    (void)fflush(stdout);
}

void PrintVlunHeaderWindows() {
    const HeaderCell cells[] = {
        {"Vlun", g_uiVlunNameWindow},         {"WWN", g_uiDevLunWWNWindow},
        {"Status", g_uiPathStatusWindow},     {"Capacity", g_uiCapacityWindow},
        {"DevLunName", g_uiDevLunNameWindow}, {"Vendor/Product", g_uiVidPidWindow},
        {"Ctrl(Own/Work)", g_uiCtrlWindow},   {"ArrayName", g_uiArrayNameWindow},
        {"ArraySN", g_uiArraySNWindow},       {"DevLunID", g_uiDevLunIDWindow},
    };
    PrintHeaderRow(cells);
}

void PrintDeviceHeaderWindows() {
    const HeaderCell cells[] = {
        {"Device", g_uiDeviceNameWindow},   {"DevLunName", g_uiDevLunNameWindow},
        {"WWN", g_uiDevLunWWNWindow},       {"Status", g_uiPathStatusWindow},
        {"Capacity", g_uiCapacityWindow},   {"Vendor/Product", g_uiVidPidWindow},
        {"Ctrl(Own/Work)", g_uiCtrlWindow}, {"ArrayName", g_uiArrayNameWindow},
        {"ArraySN", g_uiArraySNWindow},     {"DevLunID", g_uiDevLunIDWindow},
    };
    PrintHeaderRow(cells);
}

void PrintPathHeaderWindows() {
    const HeaderCell cells[] = {
        {"H:C:T:L", g_uiPathHCTLWindow},      {"Vlun", g_uiVlunNameWindow},
        {"Path", g_uiPathNameWindow},         {"Status", g_uiPathStatusWindow},
        {"Controller", g_uiPathCtrlWindow},   {"ArrayName", g_uiArrayNameWindow},
        {"ArraySN", g_uiArraySNWindow},       {"PortType", g_uiPortTypeWindow},
        {"PortID", g_uiPortIDWindow},         {"InitiatorPort", g_uiInitPortWindow},
        {"TargetPort", g_uiTargetPortWindow},
    };
    PrintHeaderRow(cells);
}

void PrintPhypathHeaderWindows() {
    const HeaderCell cells[] = {
        {"H:C:T", g_uiPhypathAliasWindow},    {"Status", g_uiPathStatusWindow},
        {"Controller", g_uiPathCtrlWindow},   {"ArrayName", g_uiArrayNameWindow},
        {"ArraySN", g_uiArraySNWindow},       {"PortType", g_uiPortTypeWindow},
        {"PortID", g_uiPortIDWindow},         {"InitiatorPort", g_uiInitPortWindow},
        {"TargetPort", g_uiTargetPortWindow},
    };
    PrintHeaderRow(cells);
}

void PrintAlarmHeaderWindows() {
    const HeaderCell cells[] = {
        {"AlarmLevel", g_uiAlarmLevelWindow},
        {"AlarmDescription", g_uiAlarmDescriptionWindow},
    };
    PrintHeaderRow(cells);
}

void CalcVlunWindowLen() {
    for (ListHead* vlunLink = g_tsvlunlist.next; vlunLink != &g_tsvlunlist;
         vlunLink = vlunLink->next) {
        const VlunInfo* vlun = list_entry(vlunLink, VlunInfo, stList);
        Measure(g_uiVlunNameWindow, vlun->stDev.acDevPath, kVlunNameFloor);
        Measure(g_uiDevLunWWNWindow, vlun->acDmWwn, kDevLunWWNFloor);
        Measure(g_uiCapacityWindow, vlun->acDmSize, kCapacityFloor);
        Measure(g_uiVidPidWindow, vlun->acDmVidPid, kVidPidFloor);
        // A vlun with paths is printed with its paths' identification; only a
        // pathless vlun shows its own.
        if (list_empty(&vlun->stPathList)) {
            const DevInfo& dev = vlun->stDev;
            Measure(g_uiDevLunNameWindow, dev.acLunName, kDevLunNameFloor);
            Measure(g_uiPathStatusWindow, dev.acStatus, kPathStatusFloor);
            Measure(g_uiCtrlWindow, dev.acOwnWork, kCtrlFloor);
            MeasureArrayColumns(dev);
            Measure(g_uiDevLunIDWindow, dev.acDevLunId, kDevLunIDFloor);
        }
        for (ListHead* pathLink = vlun->stPathList.next; pathLink != &vlun->stPathList;
             pathLink = pathLink->next) {
            const PathInfo* path = list_entry(pathLink, PathInfo, stList);
            const DevInfo& dev = path->stDev;
            Measure(g_uiDevLunNameWindow, dev.acLunName, kDevLunNameFloor);
            Measure(g_uiDevLunWWNWindow, dev.acLunWwn, kDevLunWWNFloor);
            Measure(g_uiPathStatusWindow, dev.acStatus, kPathStatusFloor);
            Measure(g_uiVidPidWindow, dev.acVidPid, kVidPidFloor);
            Measure(g_uiCtrlWindow, dev.acOwnWork, kCtrlFloor);
            MeasureArrayColumns(dev);
            Measure(g_uiDevLunIDWindow, dev.acDevLunId, kDevLunIDFloor);
        }
    }
    g_uiVlunTotalWindow = g_uiVlunNameWindow + g_uiDevLunNameWindow + g_uiDevLunWWNWindow +
                          g_uiPathStatusWindow + g_uiCapacityWindow + g_uiVidPidWindow +
                          g_uiCtrlWindow + g_uiArrayNameWindow + g_uiArraySNWindow +
                          g_uiDevLunIDWindow + 10 * kCellMargin;
}

void CalcPathWindowLen() {
    for (ListHead* vlunLink = g_tsvlunlist.next; vlunLink != &g_tsvlunlist;
         vlunLink = vlunLink->next) {
        const VlunInfo* vlun = list_entry(vlunLink, VlunInfo, stList);
        for (ListHead* pathLink = vlun->stPathList.next; pathLink != &vlun->stPathList;
             pathLink = pathLink->next) {
            const PathInfo* path = list_entry(pathLink, PathInfo, stList);
            const DevInfo& dev = path->stDev;
            Measure(g_uiPathHCTLWindow, path->acHctl, kPathHCTLFloor);
            Measure(g_uiVlunNameWindow, vlun->stDev.acDevPath, kVlunNameFloor);
            Measure(g_uiPathNameWindow, dev.acDevPath, kPathNameFloor);
            Measure(g_uiPathStatusWindow, dev.acStatus, kPathStatusFloor);
            Measure(g_uiPathCtrlWindow, dev.acCtrl, kPathCtrlFloor);
            MeasureArrayColumns(dev);
            Measure(g_uiPortTypeWindow, dev.acPortType, kPortTypeFloor);
            Measure(g_uiPortIDWindow, dev.acPortId, kPortIDFloor);
            Measure(g_uiInitPortWindow, dev.acHostWwn, kInitPortFloor);
            Measure(g_uiTargetPortWindow, dev.acTargetWwn, kTargetPortFloor);
        }
    }
    g_uiVlunPathTotalWindow = g_uiPathHCTLWindow + g_uiVlunNameWindow + g_uiPathNameWindow +
                              g_uiPathStatusWindow + g_uiPathCtrlWindow + g_uiArrayNameWindow +
                              g_uiArraySNWindow + g_uiPortTypeWindow + g_uiPortIDWindow +
                              g_uiInitPortWindow + g_uiTargetPortWindow + 11 * kCellMargin;
}

void CalcPhypathWindowLen() {
    for (ListHead* link = g_tsphypathlist.next; link != &g_tsphypathlist; link = link->next) {
        const PhypathInfo* phypath = list_entry(link, PhypathInfo, stNode);
        Measure(g_uiPhypathAliasWindow, phypath->acAlias, kPhypathAliasFloor);
        Measure(g_uiPathStatusWindow, phypath->acStatus, kPathStatusFloor);
        Measure(g_uiPathCtrlWindow, phypath->acCtrl, kPathCtrlFloor);
        Measure(g_uiArrayNameWindow, phypath->acArrayName, kArrayNameFloor);
        Measure(g_uiArraySNWindow, phypath->acArraySn, kArraySNFloor);
        Measure(g_uiPortTypeWindow, phypath->acPortType, kPortTypeFloor);
        Measure(g_uiPortIDWindow, phypath->acPortId, kPortIDFloor);
        Measure(g_uiInitPortWindow, phypath->acHostWwn, kInitPortFloor);
        Measure(g_uiTargetPortWindow, phypath->acTargetWwn, kTargetPortFloor);
    }
    g_uiPhypathTotalWindow = g_uiPhypathAliasWindow + g_uiPathStatusWindow + g_uiPathCtrlWindow +
                             g_uiArrayNameWindow + g_uiArraySNWindow + g_uiPortTypeWindow +
                             g_uiPortIDWindow + g_uiInitPortWindow + g_uiTargetPortWindow +
                             9 * kCellMargin;
}

void CalcDeviceWindowLen() {
    for (ListHead* link = g_tsdevicelist.next; link != &g_tsdevicelist; link = link->next) {
        const DevInfo* dev = list_entry(link, DevInfo, stNode);
        Measure(g_uiDeviceNameWindow, dev->acDevPath, kDeviceNameFloor);
        Measure(g_uiDevLunNameWindow, dev->acLunName, kDevLunNameFloor);
        Measure(g_uiDevLunWWNWindow, dev->acLunWwn, kDevLunWWNFloor);
        Measure(g_uiPathStatusWindow, dev->acStatus, kPathStatusFloor);
        Measure(g_uiCapacityWindow, dev->acCapacity, kCapacityFloor);
        Measure(g_uiVidPidWindow, dev->acVidPid, kVidPidFloor);
        Measure(g_uiCtrlWindow, dev->acOwnWork, kCtrlFloor);
        MeasureArrayColumns(*dev);
        Measure(g_uiDevLunIDWindow, dev->acDevLunId, kDevLunIDFloor);
    }
    g_uiDeviceTotalWindow = g_uiDeviceNameWindow + g_uiDevLunNameWindow + g_uiDevLunWWNWindow +
                            g_uiPathStatusWindow + g_uiCapacityWindow + g_uiVidPidWindow +
                            g_uiCtrlWindow + g_uiArrayNameWindow + g_uiArraySNWindow +
                            g_uiDevLunIDWindow + 10 * kCellMargin;
}

void CalcAlarmWindowLen() {
    for (ListHead* link = g_tsalarmlist.next; link != &g_tsalarmlist; link = link->next) {
        const AlarmInfo* alarm = list_entry(link, AlarmInfo, stNode);
        Measure(g_uiAlarmLevelWindow, alarm->acLevel, kAlarmLevelFloor);
        Measure(g_uiAlarmDescriptionWindow, alarm->acDescription, kAlarmDescriptionFloor);
    }
    g_uiAlarmTotalWindow = g_uiAlarmLevelWindow + g_uiAlarmDescriptionWindow + 2 * kCellMargin;
}
