// The components under each vlun's active paths, and what their loss does.
#include "checks/tsredundancy.h"

#include <strings.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "../../common/column_table.h"
#include "../../common/terminal_text.h"
#include "discovery/tstopology_discovery.h"
#include "discovery/tstopology_transport.h"
#include "records/tsrows.h"
#include "records/tsstatus.h"
#include "records/tstopology.h"
#include "rendering/tsjson.h"
#include "tslog.h"

namespace {

enum Kind { kHba, kFabric, kTargetPort, kController, kKinds };
constexpr const char* kKindNames[kKinds] = {"hba", "fabric", "target_port", "controller"};
constexpr const char* kKindPlurals[kKinds] = {"HBAs", "fabrics", "target ports", "controllers"};

constexpr const char* kUsage =
    "Usage:\n"
    "   check redundancy [verbose]          -- Displays the vluns whose active paths all "
    "share an HBA, a fabric, a target port or a controller.\n"
    "   check failover COMPONENT [verbose]  -- Displays the vluns that would lose all "
    "active paths, or keep one, without COMPONENT (hostN, a port or fabric name, "
    "ARRAY_SN:CONTROLLER).\n";
constexpr const char* kNoSinglePoint = "There is no single point of failure.";
constexpr const char* kNoLoss = "There is no vlun that would lose all active paths or keep one.";

// One path and the component of each kind under it ("" unknown).
struct PathParts {
    const PathInfo* path;
    bool active;
    std::array<std::string, kKinds> part;
    std::string initiator;  // the HBA's port name, which names the HBA too
};

struct VlunParts {
    const VlunInfo* vlun;
    std::string wwn;
    std::vector<PathParts> paths;          // in listing order
    std::vector<const PathParts*> active;  // the active ones, in paths
    std::vector<const PathParts*> left;    // check failover: the active paths that would remain
    bool listed = false;                   // check failover: a row of its table
};

struct Analysis {
    bool failover = false;
    Kind kind = kHba;
    std::string component;
    std::vector<VlunParts> vluns;
};
Analysis g_analysis;

std::string Lower(const char* text) {
    std::string s(text);
    for (char& c : s) {
        c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    }
    return s;
}

// Whether the text is all of these characters (and not empty).
bool AllOf(const std::string& text, const char* set) {
    return !text.empty() && text.find_first_not_of(set) == std::string::npos;
}

std::string ValueOf(const char* text) {
    return tstopo_TextHasValue(text) ? std::string(text) : std::string();
}

// The fabric of each SCSI host, read once.
const std::string& FabricOf(int host) {
    static std::map<int, std::string> fabrics;
    auto it = fabrics.find(host);
    if (it == fabrics.end()) {
        char text[256] = {};
        it = fabrics.emplace(host, tstopo_HostFabric(host, text, sizeof text) == 0 ? text : "")
                 .first;
    }
    return it->second;
}

PathParts PartsOf(const PathInfo& path) {
    PathParts a{&path,
                strcmp(path.stDev.acStatus.data(), "active") == 0,
                {},
                Lower(ValueOf(path.stDev.acHostWwn.data()).c_str())};
    if (path.iHctlValid == 1) {
        a.part[kHba] = "host" + std::to_string(path.iHost);
        a.part[kFabric] = Lower(FabricOf(path.iHost).c_str());
    }
    a.part[kTargetPort] = Lower(ValueOf(path.stDev.acTargetWwn.data()).c_str());
    const std::string sn = ValueOf(path.stDev.acArraySn.data());
    const std::string ctrl = ValueOf(path.stDev.acCtrl.data());
    if (!sn.empty() && !ctrl.empty()) {
        a.part[kController] = sn + ":" + ctrl;
    }
    tsprint_Log(0, "Path[%s]: hba %s, fabric %s, target port %s, controller %s.\n",
                path.stDev.acDevName.data(), a.part[kHba].empty() ? "--" : a.part[kHba].c_str(),
                a.part[kFabric].empty() ? "--" : a.part[kFabric].c_str(),
                a.part[kTargetPort].empty() ? "--" : a.part[kTargetPort].c_str(),
                a.part[kController].empty() ? "--" : a.part[kController].c_str());
    return a;
}

void Collect() {
    g_analysis.vluns.clear();
    for (ListHead* link = g_tsvlunlist.next; link != &g_tsvlunlist; link = link->next) {
        const VlunInfo& vlun = *list_entry(link, VlunInfo, stList);
        VlunParts v{&vlun, {}, {}, {}, {}};
        DevInfo rows[2] = {};
        if (!list_empty(&vlun.stPathList) && tsrows_MergeVlunRows(vlun, rows) > 0) {
            v.wwn = ValueOf(rows[0].acLunWwn.data());
        }
        if (v.wwn.empty()) {
            v.wwn = ValueOf(vlun.acDmWwn.data());
        }
        for (ListHead* p = vlun.stPathList.next; p != &vlun.stPathList; p = p->next) {
            v.paths.push_back(PartsOf(*list_entry(p, PathInfo, stList)));
        }
        for (const PathParts& a : v.paths) {
            if (a.active) {
                v.active.push_back(&a);
            }
        }
        if (v.active.empty()) {
            tsprint_Log(0, "The vlun[%s] has no active path.\n", vlun.stDev.acDevName.data());
        }
        g_analysis.vluns.push_back(std::move(v));
    }
}

// The component of this kind that every active path of the vlun goes
// through, or "" when two differ or one is unknown.
std::string Shared(const VlunParts& v, Kind kind) {
    if (v.active.empty()) {
        return "";
    }
    const std::string& first = v.active.front()->part[kind];
    const bool shared =
        !first.empty() && std::all_of(v.active.begin(), v.active.end(),
                                      [&](const PathParts* a) { return a->part[kind] == first; });
    return shared ? first : "";
}

bool HasSinglePoint(const VlunParts& v) {
    for (int k = 0; k < kKinds; ++k) {
        if (!Shared(v, static_cast<Kind>(k)).empty()) {
            return true;
        }
    }
    return false;
}

// Whether the path goes through the component, named in lower case (an
// array serial number is compared without its case).
bool Through(const PathParts& a, Kind kind, const std::string& component) {
    return !component.empty() && (strcasecmp(a.part[kind].c_str(), component.c_str()) == 0 ||
                                  (kind == kHba && a.initiator == component));
}

// The first path, active or not, through the component as one of this kind.
const PathParts* FirstThrough(Kind kind, const std::string& component) {
    for (const VlunParts& v : g_analysis.vluns) {
        for (const PathParts& a : v.paths) {
            if (Through(a, kind, component)) {
                return &a;
            }
        }
    }
    return nullptr;
}

// The component's name as the host spells it (an array serial number keeps
// its case).
std::string HostSpelling(Kind kind, const std::string& component) {
    const PathParts* a = FirstThrough(kind, component);
    if (a == nullptr) {
        return component;
    }
    return kind == kHba && a->initiator == component ? a->initiator : a->part[kind];
}

// ---- tables ----

constexpr unsigned int kMargin = 2;

struct Widths {
    unsigned int vlun = 0, wwn = 0, count = 0, hba = 0, fabric = 0, port = 0, ctrl = 0;
    unsigned int left = 0, remaining = 0;
};
Widths g_widths;

const Column kRedundancyColumns[] = {
    {"Vlun", g_widths.vlun, 4},          {"WWN", g_widths.wwn, 3},
    {"ActivePaths", g_widths.count, 11}, {"HBA", g_widths.hba, 3},
    {"Fabric", g_widths.fabric, 6},      {"TargetPort", g_widths.port, 10},
    {"Controller", g_widths.ctrl, 10},
};
const Column kFailoverColumns[] = {
    {"Vlun", g_widths.vlun, 4},
    {"WWN", g_widths.wwn, 3},
    {"ActivePaths", g_widths.count, 11},
    {"PathsLeft", g_widths.left, 9},
    {"RemainingPaths", g_widths.remaining, 14, CellAlign::kBare},
};
const ColumnTable kRedundancyTable(kRedundancyColumns, kMargin);
const ColumnTable kFailoverTable(kFailoverColumns, kMargin);

// The texts of one row; they live as long as the row.
struct RowTexts {
    std::vector<std::string> texts;
    std::vector<const char*> Cells() const {
        std::vector<const char*> cells(texts.size());
        std::transform(texts.begin(), texts.end(), cells.begin(),
                       [](const std::string& t) { return t.c_str(); });
        return cells;
    }
};

std::string Shown(const std::string& text) {
    return text.empty() ? "--" : text;
}

RowTexts RedundancyRow(const VlunParts& v) {
    RowTexts row;
    row.texts = {v.vlun->stDev.acDevPath.data(), Shown(v.wwn), std::to_string(v.active.size())};
    for (int k = 0; k < kKinds; ++k) {
        row.texts.push_back(Shown(Shared(v, static_cast<Kind>(k))));
    }
    return row;
}

RowTexts FailoverRow(const VlunParts& v) {
    std::string remaining;
    for (const PathParts* a : v.left) {
        remaining += (remaining.empty() ? "" : ",") + std::string(a->path->stDev.acDevPath.data());
    }
    RowTexts row;
    row.texts = {v.vlun->stDev.acDevPath.data(), Shown(v.wwn), std::to_string(v.active.size()),
                 std::to_string(v.left.size()), Shown(remaining)};
    return row;
}

void PrintTable(const ColumnTable& table, const std::vector<RowTexts>& rows) {
    table.ApplyFloors();
    for (const RowTexts& row : rows) {
        table.Measure(row.Cells().data());
    }
    PutRule(table.RuleLength(), '=', stdout);
    (void)fputc('\n', stdout);
    table.PutHeadings(PutCell, stdout);
    for (const RowTexts& row : rows) {
        table.PutRow(row.Cells().data(), PutCell, stdout);
    }
    PutRule(table.RuleLength(), '=', stdout);
    (void)fputc('\n', stdout);
}

// A message line, which may name the word typed and the components that
// sysfs and the devices named: '?' for every byte a terminal would act on.
void Say(const char* text) {
    if (tsjson_Active()) {
        tsjson_AddMessage(text);
    } else {
        (void)fprintf(stdout, "%s\n", TerminalSafeText(text).c_str());
    }
}

// ---- the two checks ----

// The components of this kind under the vlun's active paths, each once, in
// the order of the paths.
std::vector<std::string> NamesOf(const VlunParts& v, Kind kind) {
    std::vector<std::string> names;
    for (const PathParts* a : v.active) {
        if (!a->part[kind].empty() &&
            std::find(names.begin(), names.end(), a->part[kind]) == names.end()) {
            names.push_back(a->part[kind]);
        }
    }
    return names;
}

// The analysis as the document writes it: every vlun for check redundancy,
// the vlun rows of the table for check failover.
TsJsonCheck JsonCheck() {
    TsJsonCheck check = {
        g_analysis.failover, {kKindNames[g_analysis.kind], g_analysis.component}, {}};
    for (const VlunParts& v : g_analysis.vluns) {
        if (g_analysis.failover && !v.listed) {
            continue;
        }
        TsJsonCheckVlun vlun = {v.vlun->stDev.acDevName.data(),
                                v.vlun->stDev.acDevPath.data(),
                                v.wwn,
                                v.active.size(),
                                {},
                                {},
                                {},
                                {},
                                {},
                                {}};
        if (g_analysis.failover) {
            for (const PathParts* a : v.left) {
                vlun.remaining.push_back({a->path->stDev.acDevPath.data(), a->path->acHctl.data()});
            }
        } else {
            vlun.hbas = NamesOf(v, kHba);
            vlun.fabrics = NamesOf(v, kFabric);
            vlun.targetPorts = NamesOf(v, kTargetPort);
            vlun.controllers = NamesOf(v, kController);
            for (int k = 0; k < kKinds; ++k) {
                const std::string shared = Shared(v, static_cast<Kind>(k));
                if (!shared.empty()) {
                    vlun.singlePoints.push_back({kKindNames[k], shared});
                }
            }
        }
        check.vluns.push_back(std::move(vlun));
    }
    return check;
}

// The rows as the table, or the document's view; the message without rows.
void ShowRows(TsJsonView view, const ColumnTable& table, const std::vector<RowTexts>& rows,
              const char* none) {
    if (tsjson_Active()) {
        tsjson_SetView(view, nullptr);
        tsjson_SetCheck(JsonCheck());
    }
    if (rows.empty()) {
        Say(none);
    } else if (!tsjson_Active()) {
        PrintTable(table, rows);
    }
}

int Redundancy() {
    std::vector<RowTexts> rows;
    for (const VlunParts& v : g_analysis.vluns) {
        // A vlun without an active path has already lost its redundancy.
        if (v.active.empty() || HasSinglePoint(v)) {
            rows.push_back(RedundancyRow(v));
        }
    }
    ShowRows(TS_JSON_REDUNDANCY, kRedundancyTable, rows, kNoSinglePoint);
    return 0;
}

// Names in order, hostN by its number (host3 before host10).
bool NamesInOrder(const std::string& a, const std::string& b) {
    const bool hostA = a.compare(0, 4, "host") == 0 && AllOf(a.substr(4), "0123456789");
    const bool hostB = b.compare(0, 4, "host") == 0 && AllOf(b.substr(4), "0123456789");
    if (hostA && hostB && a.size() != b.size()) {
        return a.size() < b.size();
    }
    return a < b;
}

// Every component of a kind that the vluns' paths name, for a message.
std::string KnownOfKind(Kind kind) {
    std::vector<std::string> names;
    for (const VlunParts& v : g_analysis.vluns) {
        for (const PathParts& a : v.paths) {
            for (const std::string& n : {a.part[kind], kind == kHba ? a.initiator : ""}) {
                if (!n.empty() && std::find(names.begin(), names.end(), n) == names.end()) {
                    names.push_back(n);
                }
            }
        }
    }
    std::sort(names.begin(), names.end(), NamesInOrder);
    std::string text;
    for (const std::string& n : names) {
        text += (text.empty() ? "" : ", ") + n;
    }
    return text.empty() ? "none" : text;
}

// The kind of component a word names: the first kind with a path through
// it; -1 when none has.
int KindOf(const std::string& word) {
    for (int k = 0; k < kKinds; ++k) {
        if (FirstThrough(static_cast<Kind>(k), word) != nullptr) {
            return k;
        }
    }
    return -1;
}

// The kinds a word that names nothing could be, by its form: hostN an HBA,
// an iSCSI name an HBA or a target port, ARRAY_SN:CONTROLLER a controller,
// an address a fabric, a WWN an HBA's port, a fabric or a target port.
std::vector<Kind> KindsByForm(const std::string& word) {
    if (word.compare(0, 4, "host") == 0 && AllOf(word.substr(4), "0123456789")) {
        return {kHba};
    }
    if (word.compare(0, 4, "iqn.") == 0 || word.compare(0, 4, "eui.") == 0) {
        return {kHba, kTargetPort};
    }
    if (std::count(word.begin(), word.end(), ':') == 1) {
        return {kController};
    }
    if (AllOf(word, "0123456789.") || AllOf(word, "0123456789abcdef:")) {
        return AllOf(word, "0123456789abcdef") ? std::vector<Kind>{kHba, kFabric, kTargetPort}
                                               : std::vector<Kind>{kFabric};
    }
    return {kHba, kFabric, kTargetPort, kController};
}

// The one line for a component that no path goes through.
std::string UnknownText(const char* word, const std::string& component) {
    std::string text = std::string("Error: unknown component ") + word + ". Known ";
    const std::vector<Kind> kinds = KindsByForm(component);
    for (size_t i = 0; i < kinds.size(); ++i) {
        text +=
            std::string(i == 0 ? "" : "; ") + kKindPlurals[kinds[i]] + ": " + KnownOfKind(kinds[i]);
    }
    return text + ".";
}

// Whether the text is a WWN written as eight hex pairs with colons, as
// switches and HBA utilities print it.
bool ColonWwn(const std::string& text) {
    for (size_t i = 0; i < text.size(); ++i) {
        if (i % 3 == 2 ? text[i] != ':' : isxdigit(static_cast<unsigned char>(text[i])) == 0) {
            return false;
        }
    }
    return text.size() == 23;
}

// A component in lower case, the colons or "0x" off a WWN.
std::string Normalized(const char* word) {
    std::string s = Lower(word);
    if (ColonWwn(s)) {
        s.erase(std::remove(s.begin(), s.end(), ':'), s.end());
    }
    if (s.compare(0, 2, "0x") == 0) {
        s.erase(0, 2);
    }
    return s;
}

int Failover(const char* word) {
    const std::string component = Normalized(word);
    const int kind = KindOf(component);
    if (kind < 0) {
        Say(UnknownText(word, component).c_str());
        return TS_ERR_REFUSED;
    }
    g_analysis.kind = static_cast<Kind>(kind);
    g_analysis.component = HostSpelling(g_analysis.kind, component);
    std::vector<RowTexts> rows;
    bool losesAll = false;
    for (VlunParts& v : g_analysis.vluns) {
        bool affected = false;
        for (const PathParts* a : v.active) {
            if (Through(*a, g_analysis.kind, component)) {
                affected = true;
            } else {
                v.left.push_back(a);
            }
        }
        v.listed = affected && v.left.size() <= 1;
        if (v.listed) {
            losesAll = losesAll || v.left.empty();
            rows.push_back(FailoverRow(v));
        }
    }
    ShowRows(TS_JSON_FAILOVER, kFailoverTable, rows, kNoLoss);
    return losesAll ? kTsFailoverLosesPaths : 0;
}

}  // namespace

bool tsredundancy_IsCheck(const char* word) {
    return word != nullptr && (strcmp(word, "redundancy") == 0 || strcmp(word, "failover") == 0);
}

int tsredundancy_Run(int argc, const char* const* argv) {
    const bool failover = strcmp(argv[0], "failover") == 0;
    const int words = failover ? 2 : 1;
    if (argc < words || argc > words + 1 ||
        (argc == words + 1 && strcmp(argv[words], "verbose") != 0) ||
        (failover && (argv[1][0] == '\0' || strcmp(argv[1], "verbose") == 0))) {
        (void)fputs(kUsage, stdout);
        return TS_ERR_REFUSED;
    }
    if (argc == words + 1) {
        tsprint_SetLogLevel(0);
    }
    g_analysis = Analysis{};
    g_analysis.failover = failover;
    tsjson_Discovering();
    const int result = tstopo_GetPhypathTopology();
    if (result != TS_OK) {
        return result;
    }
    Collect();
    return failover ? Failover(argv[1]) : Redundancy();
}
