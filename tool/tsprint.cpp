// tsexTool table output: column windows, cells, rule lines and heading rows.
#include "tsprint.h"

#include <cstdio>
#include <cstring>

#include "../common/terminal_text.h"
#include "boundedfunc.h"
#include "tstopology.h"

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
    // Device text (names, serials, port names) may hold bytes a terminal
    // would act on: each shows as '?', so the measured width holds.
    TerminalSafePut(text, stdout);
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

namespace {

// Arrays report the own/work controller pair in the form the tables show
// from this interface version on; older ones show the missing pair.
constexpr int kOwnWorkIfVersion = 514;
constexpr const char* kNoPair = "--/--";

// Array serial numbers that name the arrays feeding the two rows of a
// dual-array vlun.
using ArrayKey = TsText<64>;

void Say(const char* text) {
    (void)fputs(text, stdout);
    (void)fflush(stdout);
}

void SayWithName(const char* format, const char* name) {
    (void)fprintf(stdout, format, name);
    (void)fflush(stdout);
}

void EndRow() {
    Say("\n");
}

void RuleLine(unsigned int length, char ch) {
    print_dash(length, ch);
    EndRow();
}

void Cell(const char* text, unsigned int window) {
    print_str_in_mid(text, window + kCellMargin);
}

template <size_t N>
void Cell(const TsText<N>& field, unsigned int window) {
    Cell(field.data(), window);
}

// A rule line of '=', the table, and the closing rule line.
void Frame(unsigned int length, void (*rows)()) {
    RuleLine(length, '=');
    rows();
    RuleLine(length, '=');
}

const char* OwnWorkShown(const DevInfo& dev) {
    return dev.iIfVersion < kOwnWorkIfVersion ? kNoPair : dev.acOwnWork.data();
}

// The first path in list order that has a value for a field decides it.
template <size_t N>
void MergeField(TsText<N>& row, const TsText<N>& path) {
    if (!tstopo_TextHasValue(row.data()) && tstopo_TextHasValue(path.data()) &&
        strcmp(row.data(), path.data()) != 0) {
        (void)memcpy_s(row.data(), N, path.data(), N);
    }
}

void MergePathIntoRow(DevInfo& row, const DevInfo& path) {
    MergeField(row.acLunName, path.acLunName);
    MergeField(row.acStatus, path.acStatus);
    // A path whose node is gone says "failed"; the LUN is still reachable
    // as long as any of its paths is active.
    if (strcmp(path.acStatus.data(), "active") == 0) {
        (void)memcpy_s(row.acStatus.data(), row.acStatus.size(), path.acStatus.data(),
                       path.acStatus.size());
    }
    MergeField(row.acVidPid, path.acVidPid);
    MergeField(row.acOwnWork, path.acOwnWork);
    MergeField(row.acArrayName, path.acArrayName);
    MergeField(row.acArraySn, path.acArraySn);
    MergeField(row.acDevLunId, path.acDevLunId);
}

// The row (0 or 1) that a path of a dual-array vlun feeds, taking a free
// key for its array; -1 when both keys belong to other arrays. A path that
// names no array (its page 0x80 failed) cannot say which array it runs to:
// it neither takes nor matches a key, so it can neither claim a row for a
// missing array nor be mixed into the row of a real one.
int DualArrayRow(const DevInfo& path, ArrayKey (&keys)[2]) {
    if (!tstopo_TextHasValue(path.acArraySn.data())) {
        return -1;
    }
    for (int i = 0; i < 2; ++i) {
        ArrayKey& key = keys[i];
        if (key[0] == '\0' || strcmp(key.data(), path.acArraySn.data()) == 0) {
            (void)strncpy_s(key.data(), key.size(), path.acArraySn.data(), key.size());
            return i;
        }
    }
    return -1;
}

// A vlun with paths is shown with its own name, listing WWID and listing
// size, and everything else from its paths.
void PrintMergedVlunRow(const VlunInfo& vlun, const DevInfo& row) {
    Cell(vlun.stDev.acDevPath, g_uiVlunNameWindow);
    Cell(vlun.acDmWwn, g_uiDevLunWWNWindow);
    Cell(row.acStatus, g_uiPathStatusWindow);
    Cell(vlun.acDmSize, g_uiCapacityWindow);
    Cell(row.acLunName, g_uiDevLunNameWindow);
    Cell(row.acVidPid, g_uiVidPidWindow);
    Cell(row.acOwnWork, g_uiCtrlWindow);
    Cell(row.acArrayName, g_uiArrayNameWindow);
    Cell(row.acArraySn, g_uiArraySNWindow);
    Cell(row.acDevLunId, g_uiDevLunIDWindow);
}

void PrintPathlessVlunRow(const VlunInfo& vlun) {
    const DevInfo& dev = vlun.stDev;
    Cell(dev.acDevPath, g_uiVlunNameWindow);
    Cell(vlun.acDmWwn, g_uiDevLunWWNWindow);
    Cell(dev.acStatus, g_uiPathStatusWindow);
    Cell(vlun.acDmSize, g_uiCapacityWindow);
    Cell(dev.acLunName, g_uiDevLunNameWindow);
    Cell(vlun.acDmVidPid, g_uiVidPidWindow);
    Cell(OwnWorkShown(dev), g_uiCtrlWindow);
    Cell(dev.acArrayName, g_uiArrayNameWindow);
    Cell(dev.acArraySn, g_uiArraySNWindow);
    Cell(dev.acDevLunId, g_uiDevLunIDWindow);
}

void PrintVlunWithPaths(const VlunInfo& vlun) {
    DevInfo rows[2] = {};
    tstopo_InitDevInfoToDefault(&rows[0], TS_DEVTYPE_PATH);
    tstopo_InitDevInfoToDefault(&rows[1], TS_DEVTYPE_PATH);
    // Cleared for every vlun: each dual-array LUN may span its own pair of
    // arrays, and keys left by an earlier vlun would send this vlun's paths
    // to the wrong row, or to none.
    ArrayKey keys[2] = {};
    const bool dualArray = vlun.stDev.iDualArray != 0;
    for (ListHead* link = vlun.stPathList.next; link != &vlun.stPathList; link = link->next) {
        const DevInfo& path = list_entry(link, PathInfo, stList)->stDev;
        if (!dualArray) {
            MergePathIntoRow(rows[0], path);
            continue;
        }
        const int row = DualArrayRow(path, keys);
        if (row >= 0) {
            MergePathIntoRow(rows[row], path);
        }
    }
    PrintMergedVlunRow(vlun, rows[0]);
    if (vlun.stDev.iDualArray == 1 && keys[1][0] != '\0') {
        EndRow();
        PrintMergedVlunRow(vlun, rows[1]);
    }
    EndRow();
}

bool AnyVlunHasPath() {
    for (ListHead* link = g_tsvlunlist.next; link != &g_tsvlunlist; link = link->next) {
        if (!list_empty(&list_entry(link, VlunInfo, stList)->stPathList)) {
            return true;
        }
    }
    return false;
}

}  // namespace

void PrintVlunTopolopy() {
    PrintVlunHeaderWindows();
    for (ListHead* link = g_tsvlunlist.next; link != &g_tsvlunlist; link = link->next) {
        const VlunInfo& vlun = *list_entry(link, VlunInfo, stList);
        if (list_empty(&vlun.stPathList)) {
            PrintPathlessVlunRow(vlun);
            EndRow();
        } else {
            PrintVlunWithPaths(vlun);
        }
    }
}

void PrintPathTopolopy() {
    PrintPathHeaderWindows();
    for (ListHead* vlunLink = g_tsvlunlist.next; vlunLink != &g_tsvlunlist;
         vlunLink = vlunLink->next) {
        const VlunInfo& vlun = *list_entry(vlunLink, VlunInfo, stList);
        for (ListHead* pathLink = vlun.stPathList.next; pathLink != &vlun.stPathList;
             pathLink = pathLink->next) {
            const PathInfo& path = *list_entry(pathLink, PathInfo, stList);
            const DevInfo& dev = path.stDev;
            Cell(path.acHctl, g_uiPathHCTLWindow);
            Cell(vlun.stDev.acDevPath, g_uiVlunNameWindow);
            Cell(dev.acDevPath, g_uiPathNameWindow);
            Cell(dev.acStatus, g_uiPathStatusWindow);
            Cell(dev.acCtrl, g_uiPathCtrlWindow);
            Cell(dev.acArrayName, g_uiArrayNameWindow);
            Cell(dev.acArraySn, g_uiArraySNWindow);
            Cell(dev.acPortType, g_uiPortTypeWindow);
            Cell(dev.acPortId, g_uiPortIDWindow);
            Cell(dev.acHostWwn, g_uiInitPortWindow);
            Cell(dev.acTargetWwn, g_uiTargetPortWindow);
            EndRow();
        }
    }
}

void PrintPhypathTopolopy() {
    PrintPhypathHeaderWindows();
    for (ListHead* link = g_tsphypathlist.next; link != &g_tsphypathlist; link = link->next) {
        const PhypathInfo& phypath = *list_entry(link, PhypathInfo, stNode);
        Cell(phypath.acAlias, g_uiPhypathAliasWindow);
        Cell(phypath.acStatus, g_uiPathStatusWindow);
        Cell(phypath.acCtrl, g_uiPathCtrlWindow);
        Cell(phypath.acArrayName, g_uiArrayNameWindow);
        Cell(phypath.acArraySn, g_uiArraySNWindow);
        Cell(phypath.acPortType, g_uiPortTypeWindow);
        Cell(phypath.acPortId, g_uiPortIDWindow);
        Cell(phypath.acHostWwn, g_uiInitPortWindow);
        Cell(phypath.acTargetWwn, g_uiTargetPortWindow);
        EndRow();
    }
}

void PrintDeviceTopolopy() {
    PrintDeviceHeaderWindows();
    for (ListHead* link = g_tsdevicelist.next; link != &g_tsdevicelist; link = link->next) {
        const DevInfo& dev = *list_entry(link, DevInfo, stNode);
        Cell(dev.acDevPath, g_uiDeviceNameWindow);
        Cell(dev.acLunName, g_uiDevLunNameWindow);
        Cell(dev.acLunWwn, g_uiDevLunWWNWindow);
        Cell(dev.acStatus, g_uiPathStatusWindow);
        Cell(dev.acCapacity, g_uiCapacityWindow);
        Cell(dev.acVidPid, g_uiVidPidWindow);
        Cell(OwnWorkShown(dev), g_uiCtrlWindow);
        Cell(dev.acArrayName, g_uiArrayNameWindow);
        Cell(dev.acArraySn, g_uiArraySNWindow);
        Cell(dev.acDevLunId, g_uiDevLunIDWindow);
        EndRow();
    }
}

void PrintAlarmList() {
    PrintAlarmHeaderWindows();
    for (ListHead* link = g_tsalarmlist.next; link != &g_tsalarmlist; link = link->next) {
        const AlarmInfo& alarm = *list_entry(link, AlarmInfo, stNode);
        Cell(alarm.acLevel, g_uiAlarmLevelWindow);
        // The sentence runs to its end: it is the last column and the
        // longest text of the table.
        TerminalSafePut(alarm.acDescription.data(), stdout);
        (void)fflush(stdout);
        EndRow();
    }
}

int tsprint_VlunTopolopy() {
    if (list_empty(&g_tsvlunlist)) {
        Say("There is no vlun.\n");
    } else {
        CalcVlunWindowLen();
        Frame(g_uiVlunTotalWindow, PrintVlunTopolopy);
    }
    (void)fflush(stdout);
    return 0;
}

int tsprint_VlunPathTopolopy(const char* name) {
    const VlunInfo* vlun = tstopo_GetVlunByDevname(name);
    if (vlun == nullptr) {
        SayWithName("There is no device[%s].\n", name);
        (void)fflush(stdout);
        return 0;
    }
    CalcVlunWindowLen();
    CalcPathWindowLen();
    const unsigned int length = g_uiVlunPathTotalWindow > g_uiVlunTotalWindow
                                    ? g_uiVlunPathTotalWindow
                                    : g_uiVlunTotalWindow;
    RuleLine(length, '=');
    PrintVlunTopolopy();
    RuleLine(length, '-');
    if (list_empty(&vlun->stPathList)) {
        SayWithName("There is no path in device[%s].\n", name);
    } else {
        PrintPathTopolopy();
    }
    RuleLine(length, '=');
    (void)fflush(stdout);
    return 0;
}

int tsprint_PathTopolopy(const char* name) {
    if (!AnyVlunHasPath()) {
        if (name != nullptr) {
            SayWithName("There is no device[%s].\n", name);
        } else {
            Say("There is no path.\n");
        }
    } else {
        CalcPathWindowLen();
        Frame(g_uiVlunPathTotalWindow, PrintPathTopolopy);
    }
    (void)fflush(stdout);
    return 0;
}

int tsprint_PhypathTopolopy() {
    if (list_empty(&g_tsphypathlist)) {
        Say("There is no phypath.\n");
    } else {
        CalcPhypathWindowLen();
        Frame(g_uiPhypathTotalWindow, PrintPhypathTopolopy);
    }
    (void)fflush(stdout);
    return 0;
}

int tsprint_DeviceTopolopy(const char* name) {
    if (list_empty(&g_tsdevicelist)) {
        if (name != nullptr) {
            SayWithName("There is no device[%s].\n", name);
        } else {
            Say("There is no device.\n");
        }
    } else {
        CalcDeviceWindowLen();
        Frame(g_uiDeviceTotalWindow, PrintDeviceTopolopy);
    }
    (void)fflush(stdout);
    return 0;
}

int tsprint_AlarmList() {
    if (list_empty(&g_tsalarmlist)) {
        Say("There is no alarm.\n");
    } else {
        CalcAlarmWindowLen();
        Frame(g_uiAlarmTotalWindow, PrintAlarmList);
    }
    (void)fflush(stdout);
    return 0;
}
