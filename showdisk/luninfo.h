// ts_showdisk for Linux and the ESXi shell: the LUN record and list, the SCSI
// attribute queries, the twelve-column table and the run itself, shared by
// both builds. Each build adds its discovery of the LUNs: luninfo_linux.h
// (multipath -ll, /sys/block) or luninfo_esxi.h (esxcfg-mpath,
// esxcfg-scsidevs, /dev/disks).
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
extern int g_isdm;
extern int g_level;

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

// Pure helpers.
void binary_to_ascii(const unsigned char* src, size_t start, size_t count, char* dest, size_t size);
// Older-layout controller cell from page 0xC4 byte 29 (x) and page 0xC9 bytes
// 8 (a) and 9 (b); version bytes choose the layout (1: newer, 0: older).
int tpg_newer_layout(const unsigned char version[4]);
void tpg_older_text(unsigned char x, unsigned char a, unsigned char b, char* dest, size_t size);
// Array name from page 0xC8 (at least 187 bytes).
void array_name_from_page(const unsigned char* page, char* dest, size_t size);

// Discovery, one implementation per build: the LUNs (and their paths) into
// g_lunlist, then the attributes of each record.
int get_lun_list(void);
int get_dev_info(LunInfo* lun);
int get_info(void);
void free_lunlist(void);

// Table.
unsigned int CHOOSE_LEN(unsigned int current, size_t len, unsigned int minimum);
void calc_window_len(list_head* head);
void print_dash(unsigned int count);
void print_str_in_mid(const char* text, unsigned int width);
void print_header(void);
int print_info(void);
void print_end(void);
int check_tessaro(void);
void reset_windows(void);

// The whole run, from the first argument to the table: its exit status.
// main adds what the writes to standard output say.
int run_showdisk(int argc, char* argv[]);

#endif  // TSKIT_SHOWDISK_LUNINFO_H
