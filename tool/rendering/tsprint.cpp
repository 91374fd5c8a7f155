// tsexTool table output. Each table's columns are listed once; the cells of
// each row are built once from the records (a vlun's row after its paths are
// merged into it), and the same cells are measured into the column windows
// and printed. The vlun and device tables are measured over the records' own
// texts as well, where a row shows something else (VisitVlunRecordRows).
#include "rendering/tsprint.h"

#include <cstdio>
#include <cstring>

#include "../../common/column_table.h"
#include "../../common/terminal_text.h"
#include "boundedfunc.h"
#include "records/tsrows.h"
#include "records/tstopology.h"

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

// Every cell carries one space of margin on each side of its window.
constexpr unsigned int kCellMargin = 2;

// A column is at least as wide as its heading, so that the heading row lines
// up with the data rows. The path name is the one column whose floor (6) is
// wider than its heading. Columns of the same name share one window, so the
// vlun and path tables printed together line them up alike.
const Column kVlunColumns[] = {
    {"Vlun", g_uiVlunNameWindow, 4},          {"WWN", g_uiDevLunWWNWindow, 3},
    {"Status", g_uiPathStatusWindow, 6},      {"Capacity", g_uiCapacityWindow, 8},
    {"DevLunName", g_uiDevLunNameWindow, 10}, {"Vendor/Product", g_uiVidPidWindow, 14},
    {"Ctrl(Own/Work)", g_uiCtrlWindow, 14},   {"ArrayName", g_uiArrayNameWindow, 9},
    {"ArraySN", g_uiArraySNWindow, 7},        {"DevLunID", g_uiDevLunIDWindow, 8},
};

const Column kDeviceColumns[] = {
    {"Device", g_uiDeviceNameWindow, 6},    {"DevLunName", g_uiDevLunNameWindow, 10},
    {"WWN", g_uiDevLunWWNWindow, 3},        {"Status", g_uiPathStatusWindow, 6},
    {"Capacity", g_uiCapacityWindow, 8},    {"Vendor/Product", g_uiVidPidWindow, 14},
    {"Ctrl(Own/Work)", g_uiCtrlWindow, 14}, {"ArrayName", g_uiArrayNameWindow, 9},
    {"ArraySN", g_uiArraySNWindow, 7},      {"DevLunID", g_uiDevLunIDWindow, 8},
};

const Column kPathColumns[] = {
    {"H:C:T:L", g_uiPathHCTLWindow, 7},       {"Vlun", g_uiVlunNameWindow, 4},
    {"Path", g_uiPathNameWindow, 6},          {"Status", g_uiPathStatusWindow, 6},
    {"Controller", g_uiPathCtrlWindow, 10},   {"ArrayName", g_uiArrayNameWindow, 9},
    {"ArraySN", g_uiArraySNWindow, 7},        {"PortType", g_uiPortTypeWindow, 8},
    {"PortID", g_uiPortIDWindow, 6},          {"InitiatorPort", g_uiInitPortWindow, 13},
    {"TargetPort", g_uiTargetPortWindow, 10},
};

const Column kPhypathColumns[] = {
    {"H:C:T", g_uiPhypathAliasWindow, 5},     {"Status", g_uiPathStatusWindow, 6},
    {"Controller", g_uiPathCtrlWindow, 10},   {"ArrayName", g_uiArrayNameWindow, 9},
    {"ArraySN", g_uiArraySNWindow, 7},        {"PortType", g_uiPortTypeWindow, 8},
    {"PortID", g_uiPortIDWindow, 6},          {"InitiatorPort", g_uiInitPortWindow, 13},
    {"TargetPort", g_uiTargetPortWindow, 10},
};

// The sentence runs to its end: it is the last column and the longest text
// of the table; only its heading is centred.
const Column kAlarmColumns[] = {
    {"AlarmLevel", g_uiAlarmLevelWindow, 10},
    {"AlarmDescription", g_uiAlarmDescriptionWindow, 16, CellAlign::kBare},
};

const ColumnTable kVlunTable(kVlunColumns, kCellMargin);
const ColumnTable kDeviceTable(kDeviceColumns, kCellMargin);
const ColumnTable kPathTable(kPathColumns, kCellMargin);
const ColumnTable kPhypathTable(kPhypathColumns, kCellMargin);
const ColumnTable kAlarmTable(kAlarmColumns, kCellMargin);

// The texts of one row, one per column of its table.
template <size_t N>
struct Cells {
    const char* text[N];
};
using VlunCells = Cells<sizeof kVlunColumns / sizeof kVlunColumns[0]>;
using DeviceCells = Cells<sizeof kDeviceColumns / sizeof kDeviceColumns[0]>;
using PathCells = Cells<sizeof kPathColumns / sizeof kPathColumns[0]>;
using PhypathCells = Cells<sizeof kPhypathColumns / sizeof kPhypathColumns[0]>;
using AlarmCells = Cells<sizeof kAlarmColumns / sizeof kAlarmColumns[0]>;

// Every cell of the tables. A text that would not fit its cell is refused
// and said (from level 2 down), as is a null one; each cell reaches the
// terminal at once. Device text (names, serials, port names) may hold bytes
// a terminal would act on: each shows as '?', so the measured width holds.
void TableCell(const char* text, unsigned int width, CellAlign align, FILE* out) {
    if (align != CellAlign::kBare) {
        if (text == nullptr) {
            tsprint_Log(2, "Invalid parameter[buff=NULL].\n");
            return;
        }
        if (strlen(text) > width) {
            tsprint_Log(2, "Invalid parameter[len less].\n");
            return;
        }
    }
    PutCell(text, width, align, out);
    (void)fflush(out);
}

void PutHeadings(const ColumnTable& table) {
    table.PutHeadings(TableCell, stdout);
    (void)fflush(stdout);
}

template <size_t N>
void PutRow(const ColumnTable& table, const Cells<N>& cells) {
    table.PutRow(cells.text, TableCell, stdout);
    (void)fflush(stdout);
}

template <size_t N>
void MeasureRow(const ColumnTable& table, const Cells<N>& cells) {
    table.Measure(cells.text);
}

// A vlun with paths is shown with its own name, listing WWID and listing
// size, and everything else from its paths.
VlunCells MergedVlunCells(const VlunInfo& vlun, const DevInfo& row) {
    return {{vlun.stDev.acDevPath.data(), vlun.acDmWwn.data(), row.acStatus.data(),
             vlun.acDmSize.data(), row.acLunName.data(), row.acVidPid.data(), row.acOwnWork.data(),
             row.acArrayName.data(), row.acArraySn.data(), row.acDevLunId.data()}};
}

VlunCells PathlessVlunCells(const VlunInfo& vlun, const char* ownWork) {
    const DevInfo& dev = vlun.stDev;
    return {{dev.acDevPath.data(), vlun.acDmWwn.data(), dev.acStatus.data(), vlun.acDmSize.data(),
             dev.acLunName.data(), vlun.acDmVidPid.data(), ownWork, dev.acArrayName.data(),
             dev.acArraySn.data(), dev.acDevLunId.data()}};
}

// Calls visit with the one row of a vlun's paths merged, or the two rows of
// a dual-array vlun whose paths run to two arrays.
template <typename Visit>
void VisitMergedRows(const VlunInfo& vlun, Visit visit) {
    DevInfo rows[2];
    const int count = tsrows_MergeVlunRows(vlun, rows);
    for (int i = 0; i < count; ++i) {
        visit(MergedVlunCells(vlun, rows[i]));
    }
}

// The rows of the vlun table, in list order.
template <typename Visit>
void VisitVlunRows(Visit visit) {
    for (ListHead* link = g_tsvlunlist.next; link != &g_tsvlunlist; link = link->next) {
        const VlunInfo& vlun = *list_entry(link, VlunInfo, stList);
        if (list_empty(&vlun.stPathList)) {
            visit(PathlessVlunCells(vlun, tsrows_OwnWorkShown(vlun.stDev)));
        } else {
            VisitMergedRows(vlun, visit);
        }
    }
}

// The rows of the path table: every path of every vlun, in list order.
template <typename Visit>
void VisitPathRows(Visit visit) {
    for (ListHead* vlunLink = g_tsvlunlist.next; vlunLink != &g_tsvlunlist;
         vlunLink = vlunLink->next) {
        const VlunInfo& vlun = *list_entry(vlunLink, VlunInfo, stList);
        for (ListHead* pathLink = vlun.stPathList.next; pathLink != &vlun.stPathList;
             pathLink = pathLink->next) {
            const PathInfo& path = *list_entry(pathLink, PathInfo, stList);
            const DevInfo& dev = path.stDev;
            visit(PathCells{{path.acHctl.data(), vlun.stDev.acDevPath.data(), dev.acDevPath.data(),
                             dev.acStatus.data(), dev.acCtrl.data(), dev.acArrayName.data(),
                             dev.acArraySn.data(), dev.acPortType.data(), dev.acPortId.data(),
                             dev.acHostWwn.data(), dev.acTargetWwn.data()}});
        }
    }
}

template <typename Visit>
void VisitPhypathRows(Visit visit) {
    for (ListHead* link = g_tsphypathlist.next; link != &g_tsphypathlist; link = link->next) {
        const PhypathInfo& phypath = *list_entry(link, PhypathInfo, stNode);
        visit(PhypathCells{{phypath.acAlias.data(), phypath.acStatus.data(), phypath.acCtrl.data(),
                            phypath.acArrayName.data(), phypath.acArraySn.data(),
                            phypath.acPortType.data(), phypath.acPortId.data(),
                            phypath.acHostWwn.data(), phypath.acTargetWwn.data()}});
    }
}

DeviceCells DeviceRowCells(const DevInfo& dev, const char* ownWork) {
    return {{dev.acDevPath.data(), dev.acLunName.data(), dev.acLunWwn.data(), dev.acStatus.data(),
             dev.acCapacity.data(), dev.acVidPid.data(), ownWork, dev.acArrayName.data(),
             dev.acArraySn.data(), dev.acDevLunId.data()}};
}

template <typename Visit>
void VisitDeviceRows(Visit visit) {
    for (ListHead* link = g_tsdevicelist.next; link != &g_tsdevicelist; link = link->next) {
        const DevInfo& dev = *list_entry(link, DevInfo, stNode);
        visit(DeviceRowCells(dev, tsrows_OwnWorkShown(dev)));
    }
}

// The widths also hold what each record says on its own where its row shows
// something else: every path's own values beside the merged row of its vlun
// (its WWN from page 0x83 too, though the row shows the listing's WWID), the
// listing's vendor/product of a vlun with paths, and an own/work pair that
// the interface version hides. These rows are measured, never printed: the
// tables have always been that wide, and the cells shown alone could make
// them narrower.
template <typename Visit>
void VisitVlunRecordRows(Visit visit) {
    for (ListHead* vlunLink = g_tsvlunlist.next; vlunLink != &g_tsvlunlist;
         vlunLink = vlunLink->next) {
        const VlunInfo& vlun = *list_entry(vlunLink, VlunInfo, stList);
        const DevInfo& own = vlun.stDev;
        if (list_empty(&vlun.stPathList)) {
            visit(PathlessVlunCells(vlun, own.acOwnWork.data()));
            continue;
        }
        visit(VlunCells{{own.acDevPath.data(), vlun.acDmWwn.data(), "", vlun.acDmSize.data(), "",
                         vlun.acDmVidPid.data(), "", "", "", ""}});
        for (ListHead* pathLink = vlun.stPathList.next; pathLink != &vlun.stPathList;
             pathLink = pathLink->next) {
            const DevInfo& dev = list_entry(pathLink, PathInfo, stList)->stDev;
            visit(VlunCells{{own.acDevPath.data(), dev.acLunWwn.data(), dev.acStatus.data(),
                             vlun.acDmSize.data(), dev.acLunName.data(), dev.acVidPid.data(),
                             dev.acOwnWork.data(), dev.acArrayName.data(), dev.acArraySn.data(),
                             dev.acDevLunId.data()}});
        }
    }
}

template <typename Visit>
void VisitDeviceRecordRows(Visit visit) {
    for (ListHead* link = g_tsdevicelist.next; link != &g_tsdevicelist; link = link->next) {
        const DevInfo& dev = *list_entry(link, DevInfo, stNode);
        visit(DeviceRowCells(dev, dev.acOwnWork.data()));
    }
}

template <typename Visit>
void VisitAlarmRows(Visit visit) {
    for (ListHead* link = g_tsalarmlist.next; link != &g_tsalarmlist; link = link->next) {
        const AlarmInfo& alarm = *list_entry(link, AlarmInfo, stNode);
        visit(AlarmCells{{alarm.acLevel.data(), alarm.acDescription.data()}});
    }
}

void Say(const char* text) {
    (void)fputs(text, stdout);
    (void)fflush(stdout);
}

// A message naming the device typed on the command line: '?' for every byte
// of the name a terminal would act on.
void SayWithName(const char* format, const char* name) {
    (void)fprintf(stdout, format, TerminalSafeText(name).c_str());
    (void)fflush(stdout);
}

void RuleLine(unsigned int length, char ch) {
    print_dash(length, ch);
    Say("\n");
}

// A rule line of '=', the table, and the closing rule line.
void Frame(unsigned int length, void (*rows)()) {
    RuleLine(length, '=');
    rows();
    RuleLine(length, '=');
}

}  // namespace

unsigned int CHOOSE_LEN(unsigned int current, unsigned int length, unsigned int floor) {
    return RaisedWidth(current, length, floor);
}

void print_dash(unsigned int count, char ch) {
    PutRule(count, ch, stdout);
    (void)fflush(stdout);
}

void print_str_in_mid(const char* text, unsigned int width) {
    TableCell(text, width, CellAlign::kCentre, stdout);
}

void PrintVlunHeaderWindows() {
    PutHeadings(kVlunTable);
}

void PrintDeviceHeaderWindows() {
    PutHeadings(kDeviceTable);
}

void PrintPathHeaderWindows() {
    PutHeadings(kPathTable);
}

void PrintPhypathHeaderWindows() {
    PutHeadings(kPhypathTable);
}

void PrintAlarmHeaderWindows() {
    PutHeadings(kAlarmTable);
}

void CalcVlunWindowLen() {
    const auto measure = [](const VlunCells& cells) { MeasureRow(kVlunTable, cells); };
    VisitVlunRows(measure);
    VisitVlunRecordRows(measure);
    g_uiVlunTotalWindow = kVlunTable.RuleLength();
}

void CalcPathWindowLen() {
    VisitPathRows([](const PathCells& cells) { MeasureRow(kPathTable, cells); });
    g_uiVlunPathTotalWindow = kPathTable.RuleLength();
}

void CalcPhypathWindowLen() {
    VisitPhypathRows([](const PhypathCells& cells) { MeasureRow(kPhypathTable, cells); });
    g_uiPhypathTotalWindow = kPhypathTable.RuleLength();
}

void CalcDeviceWindowLen() {
    const auto measure = [](const DeviceCells& cells) { MeasureRow(kDeviceTable, cells); };
    VisitDeviceRows(measure);
    VisitDeviceRecordRows(measure);
    g_uiDeviceTotalWindow = kDeviceTable.RuleLength();
}

void CalcAlarmWindowLen() {
    VisitAlarmRows([](const AlarmCells& cells) { MeasureRow(kAlarmTable, cells); });
    g_uiAlarmTotalWindow = kAlarmTable.RuleLength();
}

void PrintVlunTopolopy() {
    PrintVlunHeaderWindows();
    VisitVlunRows([](const VlunCells& cells) { PutRow(kVlunTable, cells); });
}

void PrintPathTopolopy() {
    PrintPathHeaderWindows();
    VisitPathRows([](const PathCells& cells) { PutRow(kPathTable, cells); });
}

void PrintPhypathTopolopy() {
    PrintPhypathHeaderWindows();
    VisitPhypathRows([](const PhypathCells& cells) { PutRow(kPhypathTable, cells); });
}

void PrintDeviceTopolopy() {
    PrintDeviceHeaderWindows();
    VisitDeviceRows([](const DeviceCells& cells) { PutRow(kDeviceTable, cells); });
}

void PrintAlarmList() {
    PrintAlarmHeaderWindows();
    VisitAlarmRows([](const AlarmCells& cells) { PutRow(kAlarmTable, cells); });
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
    if (!tsrows_AnyVlunHasPath()) {
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
