// ts_showdisk's reports: printed as they are made, or kept per record while
// records are queried side by side and written later in list order; in a
// --json run each report is one element of the document's log instead.
#ifndef TSKIT_SHOWDISK_SHOWDISK_LOG_H
#define TSKIT_SHOWDISK_SHOWDISK_LOG_H

#include <string>

#include "boundedfunc.h"

class JsonWriter;

// Printed when g_level is at most threshold (0 verbose, 3 errors).
void ts_log(int threshold, const char* format, ...) BOUNDED_PRINTF(2, 3);
// The line end of a line, if it has one, cut off.
void strip_newline(char* line);

// The reports of the calling thread go into reports (null: written now),
// and reports kept so are written as ts_log would have written them.
void ts_log_capture(std::string* reports);
void ts_log_replay(const std::string& reports);

// The document the reports go into (null: standard output, the table's run).
void set_json_document(JsonWriter* json);
JsonWriter* json_document(void);
// The run writes one JSON document instead of the table (--json).
bool json_output(void);

#endif  // TSKIT_SHOWDISK_SHOWDISK_LOG_H
