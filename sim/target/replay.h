// A captured host served back: the /sys entries, device nodes, listing runs
// and SCSI replies that the capture program recorded on a real host (the
// file format is docs/capture.md). A capture loads into a Topology whose
// device nodes are "other" devices that answer from the record.
#ifndef SANSIM_REPLAY_H
#define SANSIM_REPLAY_H

#include <cstdint>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace sansim {

struct Topology;
struct DeviceState;
struct ScsiReply;

// One SG_IO completion as the capture saw it.
struct RecordedReply {
    int ioctlErrno = 0;  // non-zero: the ioctl failed, nothing else holds
    uint8_t status = 0;
    uint16_t hostStatus = 0;
    uint16_t driverStatus = 0;
    int resid = 0;
    unsigned durationMs = 0;
    std::vector<uint8_t> sense;
    std::vector<uint8_t> data;
};

struct RecordedCommand {
    std::vector<uint8_t> cdb;
    std::vector<RecordedReply> replies;  // in the order they came; at least one
};

struct RecordedNode {
    std::string name;  // below /dev: "sdb", "dm-0", "disks/naa.6..."
    std::vector<RecordedCommand> commands;
};

// One run of a listing command line.
struct RecordedRun {
    bool started = true;
    int status = 0;
    std::string text;  // standard output, byte for byte
};

struct RecordedListing {
    std::string command;  // as run: "multipath -ll", "esxcfg-mpath -l", ...
    std::vector<RecordedRun> runs;
};

// One entry below /sys, relative to it.
struct RecordedSysfs {
    enum class Kind { Dir, File, Link };
    Kind kind = Kind::Dir;
    std::string path;
    std::string text;  // a file's content, a link's target
};

struct Replay {
    std::vector<RecordedSysfs> sysfs;
    std::vector<RecordedNode> nodes;  // Topology::others[i] answers from nodes[i]
    std::vector<RecordedListing> listings;
};

// Whether a topology document is a capture.
bool IsCapture(const nlohmann::json& root);

// Fills topo from a capture document; on failure returns false with where
// and what in *error.
bool LoadCapture(const nlohmann::json& root, Topology* topo, std::string* error);

// The answer of a recorded node to one command block: its recorded replies
// in order, the last from then on; CHECK CONDITION, ILLEGAL REQUEST for a
// command that was not recorded.
ScsiReply ReplayCommand(const RecordedNode& node, DeviceState* state, const uint8_t* cdb,
                        int cdbLen, int allocLen);

// The recorded run of a listing command that its run-th start gets (the
// last one from then on); nullptr when the command was not recorded.
const RecordedRun* ListingRun(const Replay& replay, const std::string& command, size_t run);

// The bytes of a capture text: each character U+0000..U+00FF stands for
// the byte of the same number. False for a character above U+00FF or text
// that is not UTF-8.
bool CaptureTextBytes(const std::string& utf8, std::string* bytes);

}  // namespace sansim

#endif  // SANSIM_REPLAY_H
