// tsexTool command line: the leading options, the root and product checks,
// the two command tables and their handlers, and the run lifecycle (lists
// created before dispatch, freed after it). One command per run; its
// result becomes the exit status. main.cpp calls it in that order.
#ifndef TSEXTOOL_TSTOOL_H
#define TSEXTOOL_TSTOOL_H

#include "../common/job_pool.h"
#include "rendering/tsmonitor.h"

// A handler gets the words from its own command word on (word 0).
typedef int (*TstoolHandler)(int argc, const char* const* argv);

struct OpCmdEntry {
    const char* pcName;  // the command word
    const char* pcHelp;  // its usage line, or ""
    TstoolHandler pfnHandler;
};

#define TSTOOL_CMD_COUNT 4
#define TSTOOL_SHOW_COUNT 5

// "help", "?", "show", "check", searched in this order.
extern const OpCmdEntry g_stTstoolOpCmdType[TSTOOL_CMD_COUNT];
// "version", "vlun", "path", "device", "phypath", searched in this order.
extern const OpCmdEntry g_stTstoolOpShowType[TSTOOL_SHOW_COUNT];

// -1 when the product CLI is on the search path, else 0.
int tstool_CheckTessaro();
void tstool_Init();
void tstool_Finish();

int tstool_ExecuteCmd(int argc, const char* const* argv);
int tstool_ExecuteOption(const char* name, int argc, const char* const* argv, int entries,
                         const OpCmdEntry* table, const char* usage);

// -1 for a missing name or one holding a character the shell or the tables
// could misread; else 0.
int tstool_JudgeNameUnsafeStr(const char* name);

int tstool_Help(int argc, const char* const* argv);
int tstool_Show(int argc, const char* const* argv);
int tstool_Check(int argc, const char* const* argv);

int tstool_ShowVersion(int argc, const char* const* argv);
int tstool_ShowVlun(int argc, const char* const* argv);
int tstool_ShowPath(int argc, const char* const* argv);
int tstool_ShowDevice(int argc, const char* const* argv);
int tstool_ShowPhypath(int argc, const char* const* argv);

int tstool_ShowVlunAll();
int tstool_ShowPathAll();
int tstool_ShowPhypathAll();
int tstool_ShowDeviceAll();
int tstool_ShowVlunSpecify(const char* name);
int tstool_ShowPathSpecify(const char* name);
int tstool_ShowDeviceSpecify(const char* name);

int tstool_CheckStatus();

// The options before the command's words.
struct TsLeadingOptions {
    int first = 1;  // the first word of the command
    bool help = false;
    bool version = false;
    unsigned jobs = kDefaultJobs;
    unsigned timeout = 0;  // seconds; 0: none given
    bool shortTimeout = false;
    bool json = false;
    bool nagios = false;
    bool prometheus = false;
    const char* textfile = nullptr;
    const char* error = nullptr;  // why the options cannot be used together
};

// Reads the options from argv[1] on. --help or --version as the last word
// stops the reading there; a bad option stops it with error set.
TsLeadingOptions tstool_ParseOptions(int argc, char* argv[]);
// --help's text: the options, then every command.
void tstool_SayOptionsHelp();
// The monitoring form the options ask for, or TS_MONITOR_NONE.
TsMonitorForm tstool_MonitorForm(const TsLeadingOptions& options);

// One run of the command's words (argv[0] the command word) after the
// options: the host checked, the lists made, the words run, the records
// freed. Each returns the exit status.
// A table or --json run.
int tstool_RunCommand(const TsLeadingOptions& options, int argc, char* argv[]);
// A --nagios or --prometheus run: its own texts for every refusal, and its
// output at the end.
int tstool_RunMonitor(const TsLeadingOptions& options, int argc, char* argv[]);

#endif  // TSEXTOOL_TSTOOL_H
