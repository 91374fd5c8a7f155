// ts_showdisk's table and --json document, the same on Linux and in the ESXi
// shell: every column as wide as its widest cell, a row per path (and, where
// the platform has them, per LUN without paths); the document holds each
// record's own fields and what its row shows.
#include "luntable.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "column_table.h"
#include "deadline_json.h"
#include "json_writer.h"
#include "luninfo_platform.h"
#include "query_process.h"
#include "showdisk_log.h"

// ---- table ----

namespace {

void out(const char* text) {
    (void)fputs(text, stdout);
    (void)fflush(stdout);
}

// Every floor is at least as wide as its heading, so the floors alone give the
// widths of a table without rows.
const Column kColumns[12] = {
    {"DiskName", g_uiVdiskNameWindow, 8},
    {"LunName", g_uiLunNameWindow, 7},
    {"WWN", g_uiWWNWindow, 24},
    {"Path", g_uiPathWindow, 8},
    {"PathStatus", g_uiPathStatusWindow, 10},
    {"HostAdapter", g_uiHostnoWindow, 11},
    {"Capacity", g_uiCapacityWindow, 8},
    {"Vendor", g_uiVendorWindow, 6},
    {"Ctrl(Own/Work)", g_uiCtrlWindow, 14},
    {"HostLunID", g_uiHostLunIDWindow, 9},
    {"ArrayName", g_uiArrayNameWindow, 9},
    {"PortType", g_uiPortTypeWindow, 8},
};

// Each cell is its text centred in its column's width and two blanks.
constexpr unsigned int kMargin = 2;
constexpr ColumnTable kTable(kColumns, kMargin);

// The path's own text, or the LUN's when the path's whole field is "--".
const char* path_or_lun(const char* path_field, const char* lun_field) {
    return strcmp(path_field, "--") == 0 ? lun_field : path_field;
}

// A queried attribute in a path row.
const char* attribute_cell(const char* path_field, const char* lun_field) {
    return kPlatform.paths_queried ? path_or_lun(path_field, lun_field) : lun_field;
}

// The twelve cell texts of the row of a LUN (path null) or of one of its paths.
void row_cells(const LunInfo* lun, const LunInfo* path, const char* cells[12]) {
    if (path == nullptr) {
        const char* row[12] = {lun->dev_name, lun->lun_name,    lun->wwn,        "--",
                               "--",          lun->host_no,     lun->capacity,   lun->vendor,
                               lun->ctrl,     lun->host_lun_id, lun->array_name, lun->port_type};
        for (int i = 0; i < 12; ++i) {
            cells[i] = row[i];
        }
        return;
    }
    // The port type of a path that is not queried is the path listing's
    // transport, "--" included.
    const char* port_type =
        kPlatform.paths_queried ? path_or_lun(path->port_type, lun->port_type) : path->port_type;
    const char* row[12] = {lun->dev_name,
                           attribute_cell(path->lun_name, lun->lun_name),
                           attribute_cell(path->wwn, lun->wwn),
                           path->dev_name,
                           path->path_status,
                           path->host_no,
                           lun->capacity,
                           attribute_cell(path->vendor, lun->vendor),
                           attribute_cell(path->ctrl, lun->ctrl),
                           attribute_cell(path->host_lun_id, lun->host_lun_id),
                           attribute_cell(path->array_name, lun->array_name),
                           port_type};
    for (int i = 0; i < 12; ++i) {
        cells[i] = row[i];
    }
}

void measure_row(const char* const cells[12]) {
    kTable.Measure(cells);
}

// One cell through print_str_in_mid, which flushes it.
void put_cell(const char* text, unsigned int width, CellAlign /*align*/, FILE* /*out*/) {
    print_str_in_mid(text, width);
}

void print_row(const char* const cells[12]) {
    kTable.PutRow(cells, put_cell, stdout);
    (void)fflush(stdout);
}

}  // namespace

unsigned int CHOOSE_LEN(unsigned int current, size_t len, unsigned int minimum) {
    return RaisedWidth(current, len, minimum);
}

void reset_windows(void) {
    for (const Column& c : kColumns) {
        c.width = 0;
    }
    g_uiTotalWindow = 0;
}

void calc_window_len(list_head* head) {
    const char* cells[12];
    for (list_head* l = head->next; l != head; l = l->next) {
        const LunInfo* lun = lun_of(l);
        if (list_empty(&lun->paths)) {
            if (!kPlatform.lun_rows) {
                continue;
            }
            row_cells(lun, nullptr, cells);
            measure_row(cells);
            continue;
        }
        for (const list_head* p = lun->paths.next; p != &lun->paths; p = p->next) {
            row_cells(lun, lun_of(const_cast<list_head*>(p)), cells);
            measure_row(cells);
        }
    }
}

void print_dash(unsigned int count) {
    PutRule(count, '-', stdout);
    (void)fflush(stdout);
}

// tsexTool's print_str_in_mid prints nothing for a text wider than its cell;
// this one prints it whole, so the two stay wrappers of their own.
void print_str_in_mid(const char* text, unsigned int width) {
    if (text == nullptr) {
        ts_log(2, "invalid buf\n");
        return;
    }
    // Measured as it came, printed with '?' for each byte a terminal would act
    // on: a LUN, array or listed device name that holds an ESC sequence must
    // not clear or retitle the administrator's terminal, and the widths stay.
    PutCell(text, width, CellAlign::kCentre, stdout);
    (void)fflush(stdout);
}

void print_header(void) {
    // Deliberate: a table without a measured row (an ESXi host whose LUNs have
    // no paths) still gets the minimum widths; its headings would otherwise
    // run together. Every measured table has them already.
    kTable.ApplyFloors();
    g_uiTotalWindow = kTable.RuleLength();
    print_dash(g_uiTotalWindow);
    out("\n");
    kTable.PutHeadings(put_cell, stdout);
    (void)fflush(stdout);
}

void print_end(void) {
    print_dash(g_uiTotalWindow);
    out("\n");
    if (g_isdm == 1) {
        out("These disks are not managed by Multipath.\n");
    }
}

int print_info(void) {
    if (list_empty(&g_lunlist)) {
        out("There is no Qelmar disk\n");
        return 0;
    }
    calc_window_len(&g_lunlist);
    print_header();
    const char* cells[12];
    for (list_head* l = g_lunlist.next; l != &g_lunlist; l = l->next) {
        LunInfo* lun = lun_of(l);
        if (list_empty(&lun->paths)) {
            if (!kPlatform.lun_rows) {
                continue;
            }
            row_cells(lun, nullptr, cells);
            print_row(cells);
            continue;
        }
        for (list_head* p = lun->paths.next; p != &lun->paths; p = p->next) {
            row_cells(lun, lun_of(p), cells);
            print_row(cells);
        }
    }
    if (kPlatform.table_end) {
        print_end();
    }
    return 0;
}

// ---- the --json document ----

namespace {

// A table cell's text: null where the table shows "--" (a query that failed,
// a port type the device did not name), else the text as it stands, empty
// included, so that every cell can be rebuilt.
void put_cell_text(JsonWriter& json, const char* key, const char* text) {
    if (strcmp(text, "--") == 0) {
        json.KeyNull(key);
    } else {
        json.KeyString(key, text);
    }
}

// A text of decimal digits as its number, anything else as null.
void put_decimal(JsonWriter& json, const char* key, const char* text, bool is_signed) {
    const char* digits = is_signed && text[0] == '-' ? text + 1 : text;
    const size_t len = strlen(digits);
    if (len == 0 || len > 18 || strspn(digits, "0123456789") != len) {
        json.KeyNull(key);
        return;
    }
    const long long value = strtoll(text, nullptr, 10);
    json.KeyInt(key, value);
}

// The queried attributes of a record, in the table's column order.
void put_attributes(JsonWriter& json, const char* lun_name, const char* wwn, const char* vendor,
                    const char* ctrl, const char* host_lun_id, const char* array_name) {
    put_cell_text(json, "lun_name", lun_name);
    put_cell_text(json, "wwn", wwn);
    put_cell_text(json, "vendor", vendor);
    put_cell_text(json, "ctrl", ctrl);
    put_decimal(json, "host_lun_id", host_lun_id, false);
    put_cell_text(json, "array_name", array_name);
}

// Whether the run's deadline left the node of a path without its answers:
// Linux opens the name itself, the ESXi shell its /dev/disks node.
bool not_checked(const char* dev_name) {
    return query_NotChecked(dev_name) ||
           query_NotChecked((std::string("/dev/disks/") + dev_name).c_str());
}

void put_path(JsonWriter& json, const LunInfo* lun, const LunInfo* path) {
    const char* cells[12];
    row_cells(lun, path, cells);
    json.BeginObject();
    put_cell_text(json, "path", path->dev_name);
    // Never "failed" for a path our own deadline left unchecked.
    put_cell_text(json, "path_status", not_checked(path->dev_name) ? "unknown" : path->path_status);
    put_decimal(json, "host_adapter", path->host_no, true);
    if (kPlatform.paths_queried) {
        put_attributes(json, path->lun_name, path->wwn, path->vendor, path->ctrl, path->host_lun_id,
                       path->array_name);
    }
    put_cell_text(json, "port_type", path->port_type);
    // What the path's row shows under the LUN attribute columns: the path's
    // own value or the LUN's, by the platform's row rule.
    json.Key("shown");
    json.BeginObject();
    put_attributes(json, cells[1], cells[2], cells[7], cells[8], cells[9], cells[10]);
    put_cell_text(json, "port_type", cells[11]);
    json.EndObject();
    json.EndObject();
}

void put_lun(JsonWriter& json, const LunInfo* lun) {
    json.BeginObject();
    put_cell_text(json, "dev_name", lun->dev_name);
    put_cell_text(json, "lun_name", lun->lun_name);
    put_cell_text(json, "wwn", lun->wwn);
    put_cell_text(json, "capacity", lun->capacity);
    unsigned long long bytes = 0;
    if (capacity_bytes_of(lun, &bytes)) {
        json.KeyUnsigned("capacity_bytes", bytes);
    } else {
        json.KeyNull("capacity_bytes");
    }
    put_cell_text(json, "vendor", lun->vendor);
    put_cell_text(json, "ctrl", lun->ctrl);
    put_decimal(json, "host_lun_id", lun->host_lun_id, false);
    put_cell_text(json, "array_name", lun->array_name);
    if (kPlatform.lun_rows) {
        // Only a LUN with a row of its own shows these.
        put_cell_text(json, "port_type", lun->port_type);
        put_decimal(json, "host_adapter", lun->host_no, true);
    }
    json.Key("paths");
    json.BeginArray();
    for (const list_head* p = lun->paths.next; p != &lun->paths; p = p->next) {
        put_path(json, lun, lun_of(const_cast<list_head*>(p)));
    }
    json.EndArray();
    json.EndObject();
}

}  // namespace

void json_begin(JsonWriter& json) {
    json.BeginObject();
    json.KeyInt("schema_version", 1);
    json.KeyString("program", "ts_showdisk");
    json.KeyString("platform", kPlatform.json_platform);
    json.Key("log");
    json.BeginArray();
}

int json_end(JsonWriter& json, const char* result, int status) {
    json.EndArray();
    json.KeyString("result", result);
    if (strcmp(result, "listed") == 0) {
        if (kPlatform.table_end) {
            // The table's "not managed by Multipath" note.
            json.KeyBool("multipath", g_isdm != 1);
        }
        json.Key("luns");
        json.BeginArray();
        for (list_head* l = g_lunlist.next; l != &g_lunlist; l = l->next) {
            put_lun(json, lun_of(l));
        }
        json.EndArray();
    }
    PutDeadlineMember(json);
    json.EndObject();
    set_json_document(nullptr);
    return json.Finish() ? status : 1;
}
