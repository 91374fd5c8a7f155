// tsexTool cutters for the lines of a "multipath -ll" listing: segments and
// words, the WWID, vendor/product and dm name of a map header, the size of a
// map and the SCSI address of a path line. Each is a thin wrapper over the
// shared reader (common/listing_line.h) with tsexTool's readings: it works
// on one line, writes only into the caller's buffer (destSize bytes, always
// terminated) and returns 0 or -1.
#ifndef TSEXTOOL_TSTOPOLOGY_LISTING_H
#define TSEXTOOL_TSTOPOLOGY_LISTING_H

#include "records/tstopology.h"

// Segment index (from 1) of text, segments being maximal runs of characters
// other than delim, counted forward (direction 1) or backward from the end
// (direction -1). A segment too long for destSize - 1 characters leaves dest
// empty and still succeeds.
int GetStringSegmentWithInChar(const char* text, char delim, int index, int direction, char* dest,
                               int destSize);
// The word that begins at the first occurrence of pattern, up to a blank
// (WordEnd::kBlank: a "]" stays in it).
int GetStringByCompareRegion(const char* text, const char* pattern, char* dest, int destSize);
// The 32 WWID characters after the leading 3 of a map header (WWID first, or
// the alias first and the WWID in parentheses).
int GetDMwwnStringFromLinebuf(const char* line, char* dest, int destSize);
// The header's vendor (last word before the last comma) and product (first
// word after it). The product is written first.
int GetDMvidpidStringFromLinebuf(const char* line, char* vendor, char* product, int size);
// The header's alias: its first word when the second is the WWID in
// parentheses ("oradata (36e0fc...) dm-2 ..."). -1 for a header that starts
// with the WWID, whose map has no name but that. An alias too long for
// destSize - 1 characters comes out empty.
int GetDMaliasStringFromLinebuf(const char* line, char* dest, int destSize);
// The header's WWID as the listing writes it, leading 3 included: the word
// in parentheses after an alias, else the first word (unless that is already
// the dm word). Not tested for being hexadecimal.
int GetDMwwidWordFromLinebuf(const char* line, char* dest, int destSize);
// The header's dm name: its first word that is "dm-" and digits only.
int GetDMnameStringFromLinebuf(const char* line, char* dest, int destSize);
// The size text of a "size=..." or "[size=...]" line.
int GetSizeFromLinebuf(const char* line, char* dest, int destSize);
// The device name of a path line: the word at its first "sd".
int GetPathSdNameFromLinebuf(const char* line, char* dest, int destSize);
// The word at a path line's first "active" ("active", or "active][ready]" in
// the bracketed form).
int GetPathActiveWordFromLinebuf(const char* line, char* dest, int destSize);
// The SCSI address of a path line into path (acHctl, iHctlValid and the four
// numbers); path is left unchanged on failure.
int GetHTCLFromLinebuf(const char* line, PathInfo* path);
int GetHTCLFromLineHCTLBuf(const char* text, PathInfo* path);

#endif  // TSEXTOOL_TSTOPOLOGY_LISTING_H
