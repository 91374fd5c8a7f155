// tsexTool command line: the root and product checks, the two command tables
// and their handlers, and the run lifecycle (lists created before dispatch,
// freed after it). One command per run; its result becomes the exit status.
#ifndef TSEXTOOL_TSTOOL_H
#define TSEXTOOL_TSTOOL_H

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

#endif  // TSEXTOOL_TSTOOL_H
