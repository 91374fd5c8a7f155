// What a capture reads on the host besides the devices: the commands on
// PATH, the listing commands' output and the /sys entries the programs read;
// and the one entry of each platform's build.
#ifndef TSKIT_CAPTURE_HOST_H
#define TSKIT_CAPTURE_HOST_H

#include <string>
#include <unordered_set>

#include "capture_record.h"

// The /sys entries of a capture, each recorded once, through every symbolic
// link on its way: a link is recorded as a link and followed, so that the
// replay resolves the programs' paths as the host did.
class SysfsRecorder {
  public:
    explicit SysfsRecorder(CaptureRecord* record) : record_(record) {}

    // Records the entry at rel (below /sys) where it resolves; false when
    // it does not exist. A directory's own entries are not recorded.
    bool Record(const std::string& rel);
    // The names in the directory at rel, in the order the host lists them.
    std::vector<std::string> Names(const std::string& rel);

  private:
    void Add(CaptureSysfs::Kind kind, const std::string& rel, std::string text);

    CaptureRecord* record_;
    std::unordered_set<std::string> seen_;
};

// Whether an executable of this name is on PATH.
bool capture_OnPath(const char* name);

// Runs a command line of the kit (fixed, never built from input) and keeps
// its output and exit status in *run; false when it could not be started.
bool capture_RunLine(const char* line, CaptureRun* run, CaptureRecord* record);

// Whether one of the programs' own command lines (fixed) can be started; its
// output is read and dropped. The replay refuses the lines that could not.
bool capture_LineStarts(const char* line);

// The listing command through each of the programs' lines that read it, one
// run each; a line that cannot be started goes to the record's cannotStart.
void capture_RunListing(const char* command, const char* const* lines, size_t count,
                        CaptureRecord* record);

// Records each node (names below /dev) once, in the order given, with a
// progress line per 100 devices on standard error when it is a terminal. A
// node named in held (the dm node of a map that queues I/O without a usable
// path: the programs send it nothing) is recorded without commands.
void capture_QueryNodes(const std::vector<std::string>& names,
                        const std::unordered_set<std::string>& held, CaptureRecord* record);

// Defined by the build's platform (capture_linux.cpp, capture_esxi.cpp): the
// usage text, and the whole host recorded into *record.
extern const char kCaptureUsage[];
void capture_Host(CaptureRecord* record);

#endif  // TSKIT_CAPTURE_HOST_H
