// tsexTool's --json output: the records a command found, written as one
// JSON document after the command ran (collect, then render). The messages
// that the table form prints in place of a table, and the diagnostics of a
// verbose run, become members of the document; usage texts, the version
// and the help keep their text form.
#ifndef TSEXTOOL_TSJSON_H
#define TSEXTOOL_TSJSON_H

#include <cstddef>
#include <string>
#include <vector>

// What a command shows: the table form's entry point it stands for.
enum TsJsonView {
    TS_JSON_NONE = 0,    // nothing collected: the command printed a text
    TS_JSON_VLUNS,       // show vlun
    TS_JSON_VLUN_PATHS,  // show vlun dm-N, show path dm-N
    TS_JSON_PATHS,       // show path, show path sdX
    TS_JSON_PHYPATHS,    // show phypath
    TS_JSON_DEVICES,     // show device [name]
    TS_JSON_ALARMS,      // check status
    TS_JSON_REDUNDANCY,  // check redundancy
    TS_JSON_FAILOVER,    // check failover COMPONENT
};

// Turns the JSON form on for this run; the command's words name it in the
// document. From here on the diagnostics are collected, not printed.
void tsjson_Start(int argc, const char* const* argv);
bool tsjson_Active();

// The command has passed its words and starts to discover: from here on
// it ends with a document, whatever it finds.
void tsjson_Discovering();

// The view of the command, and the device name it was given (or null).
void tsjson_SetView(TsJsonView view, const char* name);
// A message the table form prints, without its newline.
void tsjson_AddMessage(const char* text);

// A component of a path: its kind ("hba", "fabric", "target_port",
// "controller") and its name.
struct TsJsonComponent {
    const char* kind;
    std::string name;
};

// A path that check failover would leave active.
struct TsJsonRemainingPath {
    std::string path;  // its /dev node
    std::string hctl;
};

// A vlun as check redundancy or check failover found it.
struct TsJsonCheckVlun {
    std::string name;
    std::string path;
    std::string wwn;  // "": unknown
    size_t activePaths;
    // check redundancy: the components under the active paths, each once,
    // and those that every active path goes through.
    std::vector<std::string> hbas;
    std::vector<std::string> fabrics;
    std::vector<std::string> targetPorts;
    std::vector<std::string> controllers;
    std::vector<TsJsonComponent> singlePoints;
    // check failover: the active paths that would remain.
    std::vector<TsJsonRemainingPath> remaining;
};

// The findings of check redundancy (every vlun) or check failover (the
// component and the vluns of its table), written as the members of the
// TS_JSON_REDUNDANCY or TS_JSON_FAILOVER view.
struct TsJsonCheck {
    bool failover;
    TsJsonComponent component;  // check failover
    std::vector<TsJsonCheckVlun> vluns;
};
void tsjson_SetCheck(const TsJsonCheck& check);

// Writes the document when the command started to discover, and
// returns the exit status: status, or 1 when the document could not be
// written whole. A command stopped by its words writes nothing more.
int tsjson_Finish(int status);

#endif  // TSEXTOOL_TSJSON_H
