// tsexTool command line and run lifecycle.
#include "tstool.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "../common/job_pool.h"
#include "../common/query_process.h"
#include "../common/search_path.h"
#include "../common/terminal_text.h"
#include "checks/tsalarm.h"
#include "checks/tsredundancy.h"
#include "discovery/tsname.h"
#include "discovery/tsquery.h"
#include "discovery/tstopology_devices.h"
#include "discovery/tstopology_discovery.h"
#include "lun_vendor.h"
#include "records/tsstatus.h"
#include "records/tstopology.h"
#include "rendering/tsjson.h"
#include "rendering/tsmonitor.h"
#include "rendering/tsnagios.h"
#include "rendering/tsprint.h"
#include "rendering/tsprom.h"
#include "tslog.h"

namespace {

// What show version has always printed, kept for the scripts that read it;
// the release version of the build is --version's.
constexpr const char* kVersion = "1.0.3";

// The longest command line: "show", a subcommand, a name and "verbose".
constexpr int kMaxWords = 4;

#define TSTOOL_HELP_VERSION \
    "   show version                      -- Displays the version information of the tool.\n"
#define TSTOOL_HELP_VLUN                                                                      \
    "   show vlun [devname] [verbose]     -- Displays virtual disk information. The command " \
    "depends on the multipath -ll command.\n"
#define TSTOOL_HELP_PATH                                                                      \
    "   show path [devname] [verbose]     -- Displays path information. The command depends " \
    "on the multipath -ll command.\n"
#define TSTOOL_HELP_DEVICE \
    "   show device [devname] [verbose]   -- Displays disk device information.\n"
#define TSTOOL_HELP_PHYPATH                                                                    \
    "   show phypath [verbose]            -- Displays physical path information. The command " \
    "depends on the multipath -ll command.\n"
#define TSTOOL_HELP_CHECK                                                                     \
    "   check status [verbose]            -- Checks and displays exception information. The " \
    "command depends on the multipath -ll command.\n"

// The redundancy checks: listed by --help only, as the checks' own usage
// text says them (tsredundancy.cpp).
#define TSTOOL_HELP_REDUNDANCY                                                                 \
    "   check redundancy [verbose]        -- Displays the vluns whose active paths all share " \
    "an HBA, a fabric, a target port or a controller.\n"
#define TSTOOL_HELP_FAILOVER                                                                 \
    "   check failover COMPONENT [verbose]\n"                                                \
    "                                     -- Displays the vluns that would lose all active " \
    "paths, or keep one, without COMPONENT (exit 2 when some would lose all).\n"

#define TSTOOL_USAGE "Usage:\n"

constexpr const char* kFullUsage = TSTOOL_USAGE TSTOOL_HELP_VERSION TSTOOL_HELP_VLUN
    TSTOOL_HELP_PATH TSTOOL_HELP_DEVICE TSTOOL_HELP_PHYPATH TSTOOL_HELP_CHECK;
constexpr const char* kShowUsage = TSTOOL_USAGE TSTOOL_HELP_VERSION TSTOOL_HELP_VLUN
    TSTOOL_HELP_PATH TSTOOL_HELP_DEVICE TSTOOL_HELP_PHYPATH;
constexpr const char* kVlunUsage = TSTOOL_USAGE TSTOOL_HELP_VLUN;
constexpr const char* kPathUsage = TSTOOL_USAGE TSTOOL_HELP_PATH;
constexpr const char* kDeviceUsage = TSTOOL_USAGE TSTOOL_HELP_DEVICE;
constexpr const char* kPhypathUsage = TSTOOL_USAGE TSTOOL_HELP_PHYPATH;
constexpr const char* kCheckUsage = TSTOOL_USAGE TSTOOL_HELP_CHECK;

constexpr const char* kNeedMore = "Error: Need more option\n";
constexpr const char* kNeedLess = "Error: Need less option\n";
constexpr const char* kNotSupported = "Error: Input Option is not supported.\n";
constexpr const char* kNoMultipath = "Warning: multipath command is unavailable.\n";
// The listing could not even be started (no shell, no process left): the
// topology is unknown, which must never read as an empty, healthy host.
constexpr const char* kCannotRunMultipath = "Error: the multipath command could not be run.\n";
constexpr const char* kUnsafeName = "Cannot enter special characters in the name.\n";

// Characters a device name may not hold: shell metacharacters and quotes,
// refused before the name reaches any lookup.
constexpr char kForbiddenChars[] = "~`!@#$%^&*(){}[]|;\"";

constexpr const char* kDevPrefix = "/dev/";
constexpr size_t kDevPrefixLength = 5;

void Say(const char* text) {
    (void)fputs(text, stdout);
    (void)fflush(stdout);
}

void SayNoDevice(const char* name) {
    if (tsjson_Active()) {
        char text[320];
        (void)snprintf(text, sizeof text, "There is no device[%s].", name);
        tsjson_AddMessage(text);
        return;
    }
    (void)fprintf(stdout, "There is no device[%s].\n", TerminalSafeText(name).c_str());
    (void)fflush(stdout);
}

// A message about the listing: a line of text, or one of the document's.
void SayFinding(const char* text) {
    if (!tsjson_Active()) {
        Say(text);
        return;
    }
    char line[320];
    (void)snprintf(line, sizeof line, "%s", text);
    line[strcspn(line, "\n")] = '\0';
    tsjson_AddMessage(line);
}

// Refuses a name that names more than one vlun: one line, or one message of
// the document.
int SayAmbiguousName(const char* name, const TsNameLookup& lookup) {
    const std::string line = tsname_AmbiguousLine(name, lookup);
    if (tsjson_Active()) {
        tsjson_AddMessage(line.c_str());
    } else {
        Say((line + "\n").c_str());
    }
    return -1;
}

// The found records as a table, or collected for the document.
void ShowView(TsJsonView view, const char* name, int (*table)(const char*)) {
    if (tsjson_Active()) {
        tsjson_SetView(view, name);
    } else {
        (void)table(name);
    }
}

int VlunTable(const char*) {
    return tsprint_VlunTopolopy();
}

int PhypathTable(const char*) {
    return tsprint_PhypathTopolopy();
}

int AlarmTable(const char*) {
    return tsprint_AlarmList();
}

bool StartsWith(const char* text, const char* prefix) {
    return strncmp(text, prefix, strlen(prefix)) == 0;
}

// The form of a show subcommand with and without a device name.
struct ShowForms {
    int maxWords;  // counting the subcommand itself
    const char* usage;
    int (*all)();
    int (*specify)(const char* name);  // null: the subcommand takes no name
};

// The word rules shared by the show subcommands. An unsupported extra word
// fails the command for every subcommand alike: exiting 0 after printing an
// error and the usage would tell a script that the command worked.
int RunShowSubcommand(int argc, const char* const* argv, const ShowForms& forms) {
    if (argc > forms.maxWords) {
        Say(kNeedLess);
        Say(forms.usage);
        return -1;
    }
    int words = argc;
    if (words >= 2 && strcmp(argv[words - 1], "verbose") == 0) {
        tsprint_SetLogLevel(0);
        --words;
    }
    if (words == 1) {
        return forms.all();
    }
    if (words == 2 && forms.specify != nullptr) {
        return forms.specify(argv[1]);
    }
    Say(kNotSupported);
    Say(forms.usage);
    return -1;
}

// Refuses a name with forbidden characters and drops a leading "/dev/".
// Returns null for a refused name. A refused name fails the command: it is
// an input error like any other on the command line.
const char* AcceptDeviceName(const char* name) {
    if (tstool_JudgeNameUnsafeStr(name) != 0) {
        Say(kUnsafeName);
        return nullptr;
    }
    return StartsWith(name, kDevPrefix) ? name + kDevPrefixLength : name;
}

// What every command that reads the listing says when the multipath command
// is missing or fails, or when its listing cannot be started at all.
int SayMultipathTrouble(int result) {
    if (result == TS_ERR_NO_MULTIPATH) {
        SayFinding(kNoMultipath);
    } else if (result == TS_ERR_FAILED) {
        SayFinding(kCannotRunMultipath);
    }
    return result;
}

// Frees every record of a list whose records are linked through stNode.
template <typename Record>
void FreeNodeList(ListHead* head) {
    ListHead* link = head->next;
    while (link != head) {
        ListHead* next = link->next;
        list_del(link);
        free(list_entry(link, Record, stNode));
        link = next;
    }
}

}  // namespace

const OpCmdEntry g_stTstoolOpCmdType[TSTOOL_CMD_COUNT] = {
    {"help", "", tstool_Help},
    {"?", "", tstool_Help},
    {"show", "", tstool_Show},
    {"check", "", tstool_Check},
};

const OpCmdEntry g_stTstoolOpShowType[TSTOOL_SHOW_COUNT] = {
    {"version", TSTOOL_HELP_VERSION, tstool_ShowVersion},
    {"vlun", TSTOOL_HELP_VLUN, tstool_ShowVlun},
    {"path", TSTOOL_HELP_PATH, tstool_ShowPath},
    {"device", TSTOOL_HELP_DEVICE, tstool_ShowDevice},
    {"phypath", TSTOOL_HELP_PHYPATH, tstool_ShowPhypath},
};

// The product's CLIs searched for on PATH as the shell would find them: a
// host without `which` must not read as a host without the product.
int tstool_CheckTessaro() {
    for (const char* cli : kLunProductClis) {
        if (SearchPathHas(cli)) {
            return -1;
        }
    }
    return 0;
}

void tstool_Init() {
    INIT_LIST_HEAD(&g_tsvlunlist);
    INIT_LIST_HEAD(&g_tsphypathlist);
    INIT_LIST_HEAD(&g_tsdevicelist);
    INIT_LIST_HEAD(&g_tsalarmlist);
}

void tstool_Finish() {
    ListHead* vlunLink = g_tsvlunlist.next;
    while (vlunLink != &g_tsvlunlist) {
        ListHead* nextVlun = vlunLink->next;
        VlunInfo* vlun = list_entry(vlunLink, VlunInfo, stList);
        ListHead* pathLink = vlun->stPathList.next;
        while (pathLink != &vlun->stPathList) {
            ListHead* nextPath = pathLink->next;
            list_del(pathLink);
            free(list_entry(pathLink, PathInfo, stList));
            pathLink = nextPath;
        }
        list_del(vlunLink);
        free(vlun);
        vlunLink = nextVlun;
    }
    FreeNodeList<PhypathInfo>(&g_tsphypathlist);
    FreeNodeList<DevInfo>(&g_tsdevicelist);
    FreeNodeList<AlarmInfo>(&g_tsalarmlist);
}

int tstool_ExecuteCmd(int argc, const char* const* argv) {
    if (argc <= 0) {
        Say(kNeedMore);
        Say(kFullUsage);
        return -1;
    }
    if (argc > kMaxWords) {
        Say(kNeedLess);
        Say(kFullUsage);
        return -1;
    }
    return tstool_ExecuteOption(argv[0], argc, argv, TSTOOL_CMD_COUNT, g_stTstoolOpCmdType,
                                kFullUsage);
}

int tstool_ExecuteOption(const char* name, int argc, const char* const* argv, int entries,
                         const OpCmdEntry* table, const char* usage) {
    if (argv == nullptr) {
        Say(kNeedMore);
        Say(usage);
        return -1;
    }
    if (name == nullptr) {
        return -1;
    }
    for (int i = 0; i < entries; ++i) {
        if (strcmp(name, table[i].pcName) == 0) {
            return table[i].pfnHandler(argc, argv);
        }
    }
    Say(kNotSupported);
    Say(usage);
    return -1;
}

int tstool_JudgeNameUnsafeStr(const char* name) {
    if (name == nullptr) {
        return -1;
    }
    return strpbrk(name, kForbiddenChars) != nullptr ? -1 : 0;
}

int tstool_Help(int /*argc*/, const char* const* /*argv*/) {
    Say(kFullUsage);
    return 0;
}

int tstool_Show(int argc, const char* const* argv) {
    if (argc < 2) {
        Say(kNeedMore);
        Say(kShowUsage);
        return -1;
    }
    return tstool_ExecuteOption(argv[1], argc - 1, argv + 1, TSTOOL_SHOW_COUNT,
                                g_stTstoolOpShowType, kShowUsage);
}

int tstool_Check(int argc, const char* const* argv) {
    if (argc <= 1) {
        Say(kNeedMore);
        Say(kCheckUsage);
        return -1;
    }
    if (tsredundancy_IsCheck(argv[1])) {
        const int result = tsredundancy_Run(argc - 1, argv + 1);
        if (result == TS_ERR_NO_MULTIPATH || result == TS_ERR_FAILED) {
            (void)SayMultipathTrouble(result);
        }
        return result >= 0 ? result : -1;
    }
    if (argc > 3) {
        Say(kNeedLess);
        Say(kCheckUsage);
        return -1;
    }
    const bool verbose = argc == 3;
    if (strcmp(argv[1], "status") != 0 || (verbose && strcmp(argv[2], "verbose") != 0)) {
        Say(kCheckUsage);
        return -1;
    }
    if (verbose) {
        tsprint_SetLogLevel(0);
    }
    // A check that found trouble has still run: its findings are the output.
    // Deliberate change: a check whose analysis could not run at all (the
    // listing command cannot be started, ...) fails the command instead of
    // exiting 0 with nothing printed.
    return tstool_CheckStatus() == 0 ? 0 : -1;
}

int tstool_ShowVersion(int /*argc*/, const char* const* /*argv*/) {
    (void)fprintf(stdout, "tsexTool version: %s\n", kVersion);
    (void)fflush(stdout);
    return 0;
}

int tstool_ShowVlun(int argc, const char* const* argv) {
    static const ShowForms kForms = {3, kVlunUsage, tstool_ShowVlunAll, tstool_ShowVlunSpecify};
    return RunShowSubcommand(argc, argv, kForms);
}

int tstool_ShowPath(int argc, const char* const* argv) {
    static const ShowForms kForms = {3, kPathUsage, tstool_ShowPathAll, tstool_ShowPathSpecify};
    return RunShowSubcommand(argc, argv, kForms);
}

int tstool_ShowDevice(int argc, const char* const* argv) {
    static const ShowForms kForms = {3, kDeviceUsage, tstool_ShowDeviceAll,
                                     tstool_ShowDeviceSpecify};
    return RunShowSubcommand(argc, argv, kForms);
}

int tstool_ShowPhypath(int argc, const char* const* argv) {
    static const ShowForms kForms = {2, kPhypathUsage, tstool_ShowPhypathAll, nullptr};
    return RunShowSubcommand(argc, argv, kForms);
}

int tstool_ShowVlunAll() {
    tsjson_Discovering();
    int result = tstopo_GetVlunTopology(nullptr, nullptr);
    if (result == 0) {
        ShowView(TS_JSON_VLUNS, nullptr, VlunTable);
    }
    return SayMultipathTrouble(result);
}

int tstool_ShowPathAll() {
    tsjson_Discovering();
    int result = tstopo_GetVlunTopology(nullptr, nullptr);
    if (result == 0) {
        ShowView(TS_JSON_PATHS, nullptr, tsprint_PathTopolopy);
    }
    return SayMultipathTrouble(result);
}

int tstool_ShowPhypathAll() {
    tsjson_Discovering();
    int result = tstopo_GetPhypathTopology();
    if (result == 0) {
        ShowView(TS_JSON_PHYPATHS, nullptr, PhypathTable);
    }
    return SayMultipathTrouble(result);
}

int tstool_ShowDeviceAll() {
    tsjson_Discovering();
    // The multipath view is preferred; without it (no command, a failing
    // listing, or none of the vendor's maps) the disks are found in sysfs.
    int result = tstopo_GetVlunTopology(nullptr, nullptr);
    if (result == 0 && !list_empty(&g_tsvlunlist)) {
        tstopo_VlunConvertToDevice();
    } else {
        result = tstopo_GetDeviceTopology(nullptr);
        if (result != 0) {
            return result;
        }
    }
    ShowView(TS_JSON_DEVICES, nullptr, tsprint_DeviceTopolopy);
    return result;
}

// show vlun NAME and show path NAME but for an sd name: the vlun that NAME
// (devName once "/dev/" is dropped) names by its dm name, alias or WWID,
// with its paths. A name of no vlun says so as a dm name always did; any
// other name, which once was refused unread, still is when the listing
// cannot be read (it names no map then either).
int ShowNamedVlun(const char* name, const char* devName) {
    TsNameLookup lookup;
    const int result = tstopo_GetVlunTopologyByName(devName, &lookup);
    const bool dmName = StartsWith(devName, "dm-");
    if (result != 0 && !dmName) {
        SayNoDevice(devName);
        return 0;
    }
    if (result != 0) {
        return SayMultipathTrouble(result);
    }
    if (lookup.dmNames.size() > 1) {
        return SayAmbiguousName(name, lookup);
    }
    // A map that identification dropped is no vlun either.
    if (lookup.dmNames.size() == 1 &&
        tstopo_GetVlunByDevname(lookup.dmNames[0].c_str()) != nullptr) {
        ShowView(TS_JSON_VLUN_PATHS, lookup.dmNames[0].c_str(), tsprint_VlunPathTopolopy);
    } else if (dmName) {
        ShowView(TS_JSON_VLUN_PATHS, devName, tsprint_VlunPathTopolopy);
    } else {
        SayNoDevice(devName);
    }
    return 0;
}

int tstool_ShowVlunSpecify(const char* name) {
    const char* devName = AcceptDeviceName(name);
    if (devName == nullptr) {
        return -1;
    }
    tsjson_Discovering();
    return ShowNamedVlun(name, devName);
}

int tstool_ShowPathSpecify(const char* name) {
    const char* devName = AcceptDeviceName(name);
    if (devName == nullptr) {
        return -1;
    }
    tsjson_Discovering();
    int result;
    if (StartsWith(devName, "sd")) {
        result = tstopo_GetVlunTopology(nullptr, devName);
        if (result == 0) {
            ShowView(TS_JSON_PATHS, devName, tsprint_PathTopolopy);
        }
    } else {
        return ShowNamedVlun(name, devName);
    }
    return SayMultipathTrouble(result);
}

int tstool_ShowDeviceSpecify(const char* name) {
    const char* devName = AcceptDeviceName(name);
    if (devName == nullptr) {
        return -1;
    }
    tsjson_Discovering();
    int result = tstopo_GetDeviceTopology(devName);
    if (result == 0 && list_empty(&g_tsdevicelist)) {
        // No disk of that kernel name: the dm disk of the vlun that the
        // name names by its alias or WWID, if any.
        TsNameLookup lookup;
        if (tstopo_LookUpVlunName(devName, &lookup) == 0 && lookup.dmNames.size() > 1) {
            return SayAmbiguousName(name, lookup);
        }
        if (lookup.dmNames.size() == 1) {
            result = tstopo_GetDeviceTopology(lookup.dmNames[0].c_str());
        }
    }
    if (result == 0) {
        ShowView(TS_JSON_DEVICES, devName, tsprint_DeviceTopolopy);
    }
    return result;
}

int tstool_CheckStatus() {
    tsjson_Discovering();
    const int result = tsalarm_GetAlarmList();
    if (tsmonitor_Active()) {
        // The monitoring forms say everything about the scan at the end.
        tsmonitor_ScanEnded(result);
        return result;
    }
    if (result == 0) {
        ShowView(TS_JSON_ALARMS, nullptr, AlarmTable);
    }
    // A missing multipath command is alarm 10 there; a listing that cannot
    // be started is said as for the show commands.
    return SayMultipathTrouble(result);
}

namespace {

constexpr const char* kOptionsHelp =
    "Usage: tsexTool [--jobs N] [--timeout SECONDS] [--json] COMMAND [WORDS]\n"
    "       tsexTool [--jobs N] --nagios [-t SECONDS] check status\n"
    "       tsexTool [--jobs N] [--timeout SECONDS] --prometheus [--textfile FILE]\n"
    "                check status\n"
    "       tsexTool --help\n"
    "       tsexTool [--nagios] -V | --version\n"
    "Options, before the command:\n"
    "   --json           writes what the command found as one JSON document (the\n"
    "                    tables' values, typed; see tsexTool(8)); help, version and\n"
    "                    usage texts stay text\n"
    "   --nagios         check status as a Nagios/Icinga plugin: a status line with\n"
    "                    the counts and performance data, a line per alarm,\n"
    "                    CRITICAL first, all within 8 KiB; exit 0 OK, 1 WARNING,\n"
    "                    2 CRITICAL, 3 UNKNOWN\n"
    "   --prometheus     check status as Prometheus metrics (text exposition format)\n"
    "   --textfile FILE  with --prometheus: replaces FILE atomically instead of\n"
    "                    writing standard output (node_exporter's textfile collector)\n"
    "   --jobs N         queries at most N devices at once (1 to 1024, default 32;\n"
    "                    1: one after another); the output is the same for any N\n"
    "   --timeout SECONDS\n"
    "                    answers within SECONDS (1 to 3600) even while a device or\n"
    "                    the listing hangs: what did not answer in time is shown as\n"
    "                    not checked and the run exits 1 (with --nagios: CRITICAL);\n"
    "                    none by default, 8 s with --nagios\n"
    "   -t SECONDS       with --nagios: the same as --timeout\n"
    "   --help           prints this text\n"
    "   -V, --version    prints one line, tsexTool and its release version (with\n"
    "                    or without --nagios); as --help, the last word\n"
    "Commands:\n" TSTOOL_HELP_VERSION TSTOOL_HELP_VLUN TSTOOL_HELP_PATH TSTOOL_HELP_DEVICE
        TSTOOL_HELP_PHYPATH TSTOOL_HELP_CHECK TSTOOL_HELP_REDUNDANCY TSTOOL_HELP_FAILOVER
    "COMPONENT: hostN or an HBA's port name, a fabric name or an iSCSI initiator's\n"
    "address, a target port name, or ARRAY_SN:CONTROLLER.\n"
    "devname: a vlun's dm-N, its multipath alias (NAME or /dev/mapper/NAME) or its\n"
    "WWID (with or without the leading 3); a path's or a disk's sdX.\n";

// A bad option ends the reading of the options, but a --nagios among the
// leading options after it still makes the refusal the plugin's UNKNOWN
// line, as it is when --nagios comes first.
bool IsValuedOption(const char* word) {
    return strcmp(word, "--textfile") == 0 || strcmp(word, "--jobs") == 0 ||
           strcmp(word, "--timeout") == 0 || strcmp(word, "-t") == 0;
}

bool IsLeadingOption(const char* word) {
    return IsValuedOption(word) || strcmp(word, "--json") == 0 || strcmp(word, "--nagios") == 0 ||
           strcmp(word, "--prometheus") == 0;
}

// A bad option ends the reading of the options, but a --nagios among the
// leading options after it (and after its bad value) still makes the
// refusal the plugin's UNKNOWN line, as it is when --nagios comes first.
TsLeadingOptions Refused(TsLeadingOptions options, const char* error, int argc, char* argv[]) {
    options.error = error;
    int i = options.first + 1;
    if (i < argc && !IsLeadingOption(argv[i])) {
        ++i;  // the bad value
    }
    while (i < argc && IsLeadingOption(argv[i])) {
        if (strcmp(argv[i], "--nagios") == 0) {
            options.nagios = true;
            break;
        }
        i += IsValuedOption(argv[i]) ? 2 : 1;
    }
    return options;
}

// The run's deadline in seconds: the one given, else the plugin's default
// with --nagios (an answer by 9 s, inside the 10 s a Nagios or NRPE check
// waits), else none.
constexpr unsigned kNagiosDeadline = 8;

unsigned Deadline(const TsLeadingOptions& options) {
    if (options.timeout != 0) {
        return options.timeout;
    }
    return options.nagios ? kNagiosDeadline : 0;
}

// Starts the query process when the run has a deadline. In the parent,
// true when the command's words are to run over the journal; false when
// the listing never arrived and the form says that alone.
bool StartQueries(const TsLeadingOptions& options) {
    const unsigned deadline = Deadline(options);
    if (deadline == 0 || query_Start(deadline) != 0) {
        return true;
    }
    if (query_InChild()) {
        return true;
    }
    // Over the journal nothing waits: one device after another, in the
    // order a run with one job takes them, which prints the same.
    tsquery_SetJobs(1);
    return !query_ListingMissing();
}

// The command's words; the query process ends with them.
int RunWords(int argc, char* argv[]) {
    const int result = tstool_ExecuteCmd(argc, argv);
    if (query_InChild()) {
        query_ChildEnd();
    }
    return result;
}

// The monitoring forms take "check status" and nothing else.
bool IsCheckStatus(int argc, char* argv[]) {
    return argc == 2 && strcmp(argv[0], "check") == 0 && strcmp(argv[1], "status") == 0;
}

// The checks of who runs the program on what host, before any command.
const char* RefusedHost() {
    if (getuid() != 0) {
        return "Please run as root!";
    }
    if (tstool_CheckTessaro() != 0) {
        return "Tessaro was installed in this OS. Please use Tessaro CLI.";
    }
    return nullptr;
}

// A monitoring run stopped before its scan (its words, not root, ...): one
// line about why in the form's way. Returns the exit status (3 for Nagios,
// else 1).
int RefuseMonitor(TsMonitorForm form, const char* reason) {
    if (form == TS_MONITOR_NAGIOS) {
        tsnagios_WriteRefusal(stdout, reason);
        return TS_NAGIOS_UNKNOWN;
    }
    const size_t length = strlen(reason);
    const bool closed = length > 0 && strchr(".!", reason[length - 1]) != nullptr;
    (void)fprintf(stdout, "Error: %s%s\n", reason, closed ? "" : ".");
    return 1;
}

}  // namespace

void tstool_SayOptionsHelp() {
    Say(kOptionsHelp);
}

TsLeadingOptions tstool_ParseOptions(int argc, char* argv[]) {
    TsLeadingOptions options;
    for (; options.first < argc; ++options.first) {
        const char* word = argv[options.first];
        if (strcmp(word, "--json") == 0) {
            options.json = true;
        } else if (strcmp(word, "--nagios") == 0) {
            options.nagios = true;
        } else if (strcmp(word, "--prometheus") == 0) {
            options.prometheus = true;
        } else if (strcmp(word, "--textfile") == 0) {
            if (options.first + 1 >= argc || argv[options.first + 1][0] == '\0') {
                return Refused(options, "--textfile needs a file name", argc, argv);
            }
            options.textfile = argv[++options.first];
        } else if (strcmp(word, "--jobs") == 0) {
            if (options.first + 1 >= argc || !ParseJobs(argv[options.first + 1], &options.jobs)) {
                return Refused(options, "--jobs needs a number from 1 to 1024", argc, argv);
            }
            ++options.first;
        } else if (strcmp(word, "--timeout") == 0 || strcmp(word, "-t") == 0) {
            if (options.first + 1 >= argc ||
                !query_ParseSeconds(argv[options.first + 1], &options.timeout)) {
                return Refused(options,
                               word[1] == 't' ? "-t needs a whole number of seconds from 1 to 3600"
                                              : "--timeout needs a whole number of seconds "
                                                "from 1 to 3600",
                               argc, argv);
            }
            options.shortTimeout = options.shortTimeout || word[1] == 't';
            ++options.first;
        } else if (strcmp(word, "--help") == 0 && options.first == argc - 1) {
            options.help = true;  // the last word: the help, whatever came before
            return options;
        } else if ((strcmp(word, "--version") == 0 || strcmp(word, "-V") == 0) &&
                   options.first == argc - 1) {
            options.version = true;  // as --help; -V is what a plugin is asked
            return options;
        } else {
            break;
        }
    }
    const int forms = (options.json ? 1 : 0) + (options.nagios ? 1 : 0) +
                      (options.prometheus || options.textfile != nullptr ? 1 : 0);
    if (forms > 1) {
        options.error = "--json, --nagios and --prometheus (or --textfile) exclude one another";
    } else if (options.shortTimeout && !options.nagios) {
        options.error = "-t goes with --nagios; the other forms take --timeout";
    }
    return options;
}

TsMonitorForm tstool_MonitorForm(const TsLeadingOptions& options) {
    if (options.nagios) {
        return TS_MONITOR_NAGIOS;
    }
    return options.prometheus || options.textfile != nullptr ? TS_MONITOR_PROMETHEUS
                                                             : TS_MONITOR_NONE;
}

// A monitoring run: its own texts for every refusal, and its output at the end.
int tstool_RunMonitor(const TsLeadingOptions& options, int argc, char* argv[]) {
    const TsMonitorForm form = tstool_MonitorForm(options);
    tsmonitor_Start(form);
    if (options.error != nullptr) {
        return RefuseMonitor(form, options.error);
    }
    if (!IsCheckStatus(argc, argv)) {
        return RefuseMonitor(form, options.nagios
                                       ? "--nagios takes the words check status alone"
                                       : "--prometheus takes the words check status alone");
    }
    const char* refused = RefusedHost();
    if (refused != nullptr) {
        return RefuseMonitor(form, refused);
    }
    tstool_Init();
    if (StartQueries(options)) {
        (void)RunWords(argc, argv);
    } else {
        tsmonitor_ScanEnded(TS_ERR_FAILED);  // the listing never arrived
    }
    // The plugin's state is its exit status.
    const int status = form == TS_MONITOR_NAGIOS
                           ? static_cast<int>(tsnagios_Write(stdout, tsmonitor_Scan()))
                           : tsprom_Finish(tsmonitor_Scan(), options.textfile);
    tstool_Finish();
    return status;
}

// A table or JSON run of the command's words.
int tstool_RunCommand(const TsLeadingOptions& options, int argc, char* argv[]) {
    const char* refused = RefusedHost();
    if (refused != nullptr) {
        (void)fprintf(stdout, "%s\n", refused);
        return 1;
    }
    tstool_Init();
    if (options.json) {
        tsjson_Start(argc, argv);
    }
    const bool listed = StartQueries(options);
    const int result = listed ? RunWords(argc, argv) : -1;
    const bool cut = query_Outcome() != QUERY_COMPLETE;
    if (cut && !options.json) {
        Say(query_SummaryLine().c_str());  // the table form's last line
    }
    const int status =
        tsjson_Finish(result == 0 && !cut                       ? 0
                      : result == kTsFailoverLosesPaths && !cut ? kTsFailoverLosesPaths
                                                                : 1);
    tstool_Finish();
    return status;
}
