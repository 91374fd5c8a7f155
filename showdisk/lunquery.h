// ts_showdisk's SCSI senders and the attribute queries of a LUN or path
// record, shared by the Linux and the ESXi build; the pool of threads that
// queries records side by side.
#ifndef TSKIT_SHOWDISK_LUNQUERY_H
#define TSKIT_SHOWDISK_LUNQUERY_H

#include <stddef.h>

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "luninfo.h"

// SCSI senders and attribute queries: (descriptor, destination, size), 0 or -1.
int do_tur(int fd);
int do_inquiry(int fd, int evpd, int page, unsigned char* buf, int len);
int get_vid(int fd, char* dest, size_t size);
int get_wwn(int fd, char* dest, size_t size);
int get_interface_version(int fd, char* dest, size_t size);
// The Linux table's PortType cell; the ESXi table takes the transport from
// the path listing instead.
int get_port_type(int fd, char* dest, size_t size);
int get_lun_name(int fd, char* dest, size_t size);
int get_host_lunID(int fd, char* dest, size_t size);
int get_array_name(int fd, char* dest, size_t size);
int get_tpg(int fd, char* dest, size_t size);

// One attribute query of a record: its field and the report of its failure
// (a format of the node name).
struct Query {
    int (*query)(int, char*, size_t);
    char* field;
    size_t size;
    const char* failure;
};

// "--" into every field of a record whose node does not open.
void set_all_dashes(char* const* fields, const size_t* sizes, size_t count);
// Runs the queries in order; a failed one leaves "--" in its field and is
// reported. Returns the result of the last query.
int run_queries(int fd, const Query* queries, size_t count, const char* dev_name);

// With more than one job, runs get_dev_info on every record on a pool of
// threads, at most one query at a time per node (records of one dev_name
// run one after another, in order), and returns each record's reports; with
// one job, queries nothing and returns an empty list.
std::vector<std::string> query_side_by_side(const std::vector<LunInfo*>& records);
// Runs work on every record on the pool of threads (g_jobs of them), one
// record at a time per node in list order, and returns each record's
// reports.
std::vector<std::string> run_side_by_side(const std::vector<LunInfo*>& records,
                                          void (*work)(LunInfo*));
// The same for any items, each named by its node.
std::vector<std::string> run_side_by_side(const std::vector<std::string_view>& nodes,
                                          const std::function<void(size_t)>& work);
// Where the walk takes record i: its queries run now (one job), or their
// reports are written now, as ts_log would have written them.
void take_dev_info(LunInfo* record, const std::vector<std::string>& reports, size_t i);

#endif  // TSKIT_SHOWDISK_LUNQUERY_H
