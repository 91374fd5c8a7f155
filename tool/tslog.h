// tsexTool diagnostics: the verbosity level that gates every message the
// modules print about discovery, identification and the tables. Every
// module may log; the logger itself calls none of them.
#ifndef TSEXTOOL_TSLOG_H
#define TSEXTOOL_TSLOG_H

#include <string>

// Verbosity threshold: a message is printed only when the level is at most
// its threshold (0 progress details, 1 per-device failures, 2 invalid cell
// arguments, 3 errors). Starts at 99: nothing is printed.
extern int g_iloglevel;

void tsprint_SetLogLevel(int level);

// Where the diagnostics go instead of standard output (null: back there):
// the --json form collects them into its document.
void tsprint_SetLogSink(void (*sink)(const char* text));

// While a device is queried on a worker thread, the diagnostics of that
// thread are kept in capture (null: printed again) so that they can be
// written later in the devices' list order.
void tsprint_CaptureLog(std::string* capture);
// Writes the messages kept by a capture, one by one, as tsprint_Log would
// have written them.
void tsprint_WriteLogText(const std::string& text);

// Prints a diagnostic on standard output, flushed, when the level allows it.
void tsprint_Log(int threshold, const char* format, ...) __attribute__((format(printf, 2, 3)));

#endif  // TSEXTOOL_TSLOG_H
