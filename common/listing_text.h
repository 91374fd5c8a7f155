// Text of the host that tsexTool and ts_showdisk read alike: the dm-N word of
// a multipath map header in a caller's buffer, the names that may go into a
// shell command, a sysfs sector count as a capacity text, and the maps of a
// listing that hold I/O. The parts of a single line are read by
// listing_line.h; each program's own functions are thin wrappers over both.
#ifndef TSKIT_COMMON_LISTING_TEXT_H
#define TSKIT_COMMON_LISTING_TEXT_H

#include <cstddef>
#include <cstdint>

// The first word of line that is "dm-" followed by digits only, words being
// runs of characters other than those of separators (kSplitAtBlanks or
// kSplitAtBlanksAndTabs of listing_line.h). 0 with the word in dest
// (zero-filled first). -1 and dest untouched when no word qualifies, or when
// the first that does is longer than size - 1 characters: an alias such as
// backup_dm-3 on map dm-7 cannot name the map.
int DmWordOfLine(const char* line, const char* separators, char* dest, size_t size);

// True for a name of letters, digits and . _ - : ! + only. The shell that
// runs a command holding the name takes it as one plain word: it has none of
// the separators && || & | ;, and no $, backquote, quote, redirection,
// wildcard, blank or newline either. A kernel device name needs none of them.
bool IsShellSafeName(const char* name);

// A count of 512-byte sectors as a capacity text: kibibytes (an odd sector
// dropped) held in single precision and divided by 1024 while at least 1024,
// up to P at most; one decimal below 10, none from 10 on (10G, 9.5G, 1024M,
// 0.0K). 0, or -1 with dest emptied when the text does not fit.
int SizeTextFromSectors(uint64_t sectors, char* dest, size_t size);

// What the lines of one map of a multipath listing (those after its header)
// say of its I/O when no path can take it. A map that queues I/O
// (queue_if_no_path among its features, what no_path_retry queue sets) and
// has no path whose dm state is active holds every pass-through to its dm
// node until the process is killed: the kernel retries it for as long as no
// path comes back. Path lines are those with a SCSI address (H:C:T:L, or
// #:#:#:# for a path whose device is gone); their dm state is the first of
// their states, "active" or "failed", bare or in brackets. A path line that
// shows no dm state (a listing cut short) is not known to be down (see
// PathLineDmFailed in listing_line.h).
struct MapQueueing {
    bool queueing = false;
    bool usablePath = false;
};
void MapQueueingNoteLine(MapQueueing* map, const char* line);
bool MapQueueingHoldsIo(const MapQueueing& map);

// The maps of a listing read line by line, whoever's they are: a line with
// "dm-" is a map header (its dm word split at blanks and tabs) and ends the
// map before it. HeldMapsNoteLine returns true when the line ended a map
// that holds I/O without a usable path, with that map's dm word in held
// (size bytes); HeldMapsEnd does the same for the listing's last map.
struct HeldMaps {
    char dm[64] = {};
    MapQueueing map;
};
bool HeldMapsNoteLine(HeldMaps* maps, const char* line, char* held, size_t size);
bool HeldMapsEnd(HeldMaps* maps, char* held, size_t size);

#endif  // TSKIT_COMMON_LISTING_TEXT_H
