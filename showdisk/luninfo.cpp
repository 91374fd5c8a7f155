// ts_showdisk: lists every LUN of the vendor's arrays with its attributes in
// one twelve-column table. This part holds the LUN list and the settings of
// the run, the same on Linux and in the ESXi shell; the modules beside it
// fill and show the records (luninfo.h names them).
#include "luninfo.h"

#include <stdlib.h>

#include "job_pool.h"

list_head g_lunlist = {&g_lunlist, &g_lunlist};
int g_isdm = 0;
int g_level = 99;
unsigned g_jobs = kDefaultJobs;

unsigned int g_uiVdiskNameWindow = 0;
unsigned int g_uiLunNameWindow = 0;
unsigned int g_uiWWNWindow = 0;
unsigned int g_uiPathWindow = 0;
unsigned int g_uiPathStatusWindow = 0;
unsigned int g_uiHostnoWindow = 0;
unsigned int g_uiCapacityWindow = 0;
unsigned int g_uiVendorWindow = 0;
unsigned int g_uiCtrlWindow = 0;
unsigned int g_uiHostLunIDWindow = 0;
unsigned int g_uiArrayNameWindow = 0;
unsigned int g_uiPortTypeWindow = 0;
unsigned int g_uiTotalWindow = 0;

LunInfo* lun_of(list_head* link) {
    return list_entry(link, LunInfo, node);
}

void free_lunlist(void) {
    while (!list_empty(&g_lunlist)) {
        LunInfo* lun = lun_of(g_lunlist.next);
        while (!list_empty(&lun->paths)) {
            LunInfo* path = lun_of(lun->paths.next);
            list_del(&path->node);
            free(path);
        }
        list_del(&lun->node);
        free(lun);
    }
}
