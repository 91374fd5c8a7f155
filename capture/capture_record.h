// What a capture holds: the listing runs, the /sys entries, the device nodes
// with every reply they gave, and what could not be recorded; and the one
// JSON document they are written as (docs/capture.md).
#ifndef TSKIT_CAPTURE_RECORD_H
#define TSKIT_CAPTURE_RECORD_H

#include <stdio.h>

#include <string>
#include <vector>

// One SG_IO completion.
struct CaptureReply {
    int ioctlErrno = 0;  // non-zero: the ioctl failed, nothing else holds
    unsigned char status = 0;
    unsigned short hostStatus = 0;
    unsigned short driverStatus = 0;
    int resid = 0;
    unsigned durationMs = 0;
    std::string sense;  // the bytes written
    std::string data;   // the bytes transferred
};

struct CaptureCommand {
    std::string cdb;
    std::vector<CaptureReply> replies;
};

enum class CaptureNodeState { Present, Missing, Vanished, Unreadable, Offline };

struct CaptureNode {
    std::string name;  // below /dev
    CaptureNodeState state = CaptureNodeState::Present;
    std::vector<CaptureCommand> commands;
};

struct CaptureRun {
    bool started = true;
    int status = 0;
    std::string text;
};

struct CaptureListing {
    std::string command;
    std::vector<CaptureRun> runs;
};

struct CaptureSysfs {
    enum class Kind { Dir, File, Link };
    Kind kind = Kind::Dir;
    std::string path;  // below /sys
    std::string text;  // a file's content, a link's target
};

struct CaptureError {
    std::string where;  // a node name or a listing command
    std::string error;
};

struct CaptureCommandPresence {
    const char* name;
    bool present;
};

struct CaptureRecord {
    const char* platform = "linux";
    bool anonymized = false;
    std::string captureId;  // an anonymized capture's: its mapping holds the same
    std::vector<CaptureCommandPresence> commands;
    std::vector<CaptureListing> listings;
    std::vector<std::string> cannotStart;  // the programs' lines that could not be started
    std::vector<CaptureSysfs> sysfs;
    std::vector<CaptureNode> nodes;
    std::vector<CaptureError> errors;
};

// Writes the record as one JSON document; false when the stream failed or
// the document could not be completed.
bool capture_WriteJson(const CaptureRecord& record, FILE* out);

#endif  // TSKIT_CAPTURE_RECORD_H
