// ts_showdisk's output, shared by the Linux and the ESXi build: the
// twelve-column table of the LUN list, or the --json document that carries
// the same records.
#ifndef TSKIT_SHOWDISK_LUNTABLE_H
#define TSKIT_SHOWDISK_LUNTABLE_H

#include <stddef.h>

#include "luninfo.h"

class JsonWriter;

// Table.
unsigned int CHOOSE_LEN(unsigned int current, size_t len, unsigned int minimum);
void calc_window_len(list_head* head);
void print_dash(unsigned int count);
void print_str_in_mid(const char* text, unsigned int width);
void print_header(void);
int print_info(void);
void print_end(void);
void reset_windows(void);

// The --json document: its head and the opening of its log, then, once the
// run has ended, the log's close, result (how the run ended) and, for a
// listed run, the LUNs. json_end stops the reports going into the document
// and returns status, or 1 for a document that could not be written.
void json_begin(JsonWriter& json);
int json_end(JsonWriter& json, const char* result, int status);

#endif  // TSKIT_SHOWDISK_LUNTABLE_H
