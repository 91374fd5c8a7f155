// ts_showdisk for Linux and the ESXi shell: the LUN record and list, and the
// settings of a run, shared by both builds. The run reads them in order:
// discovery (luninfo_linux.h: multipath -ll, /sys/block; luninfo_esxi.h:
// esxcfg-mpath, esxcfg-scsidevs, /dev/disks) fills the list, the queries
// (lunquery.h) fill the records, the table or the document (luntable.h)
// shows them; showdisk_run.h is the run itself.
#ifndef TSKIT_SHOWDISK_LUNINFO_H
#define TSKIT_SHOWDISK_LUNINFO_H

#include <stddef.h>

#include "../common/intrusive_list.h"

// The kit's intrusive list, under the name the LUN records have always used.
using list_head = ListHead;

// One LUN or one path of a LUN.
struct LunInfo {
    list_head node;
    list_head paths;
    char dev_name[256];
    char lun_name[64];
    char wwn[256];
    char capacity[64];
    char vendor[16];
    char host_lun_id[16];
    char ctrl[64];
    char path_status[8];
    char host_no[8];
    char array_name[64];
    char port_type[32];
};

// The record that holds a link (node member).
LunInfo* lun_of(list_head* link);

extern list_head g_lunlist;
// 1 when the LUNs came from /sys/block, not from multipath.
extern int g_isdm;
// Reports up to this threshold are printed (-l: 0, every report).
extern int g_level;
// How many records are queried at once (--jobs); 1 queries each record
// when it is taken, as the walk always did.
extern unsigned g_jobs;

// The measured widths of the table's twelve columns and of its rule.
extern unsigned int g_uiVdiskNameWindow;
extern unsigned int g_uiLunNameWindow;
extern unsigned int g_uiWWNWindow;
extern unsigned int g_uiPathWindow;
extern unsigned int g_uiPathStatusWindow;
extern unsigned int g_uiHostnoWindow;
extern unsigned int g_uiCapacityWindow;
extern unsigned int g_uiVendorWindow;
extern unsigned int g_uiCtrlWindow;
extern unsigned int g_uiHostLunIDWindow;
extern unsigned int g_uiArrayNameWindow;
extern unsigned int g_uiPortTypeWindow;
extern unsigned int g_uiTotalWindow;

// Discovery, one implementation per build: the LUNs (and their paths) into
// g_lunlist, then the attributes of each record.
int get_lun_list(void);
int get_dev_info(LunInfo* lun);
int get_info(void);
// Every record of g_lunlist, paths included, freed.
void free_lunlist(void);

#endif  // TSKIT_SHOWDISK_LUNINFO_H
