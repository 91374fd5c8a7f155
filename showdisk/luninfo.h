// ts_showdisk for Linux and the ESXi shell: the LUN record and list, the SCSI
// attribute queries, the discovery and the twelve-column table. One source
// for both platforms; the ESXi variant is selected at build time with
// TS_SHOWDISK_ESXI.
#ifndef TSKIT_SHOWDISK_LUNINFO_H
#define TSKIT_SHOWDISK_LUNINFO_H

#include <stddef.h>

// Intrusive, circular, doubly linked list; elements are only appended.
struct list_head {
    list_head* prev;
    list_head* next;
};

void INIT_LIST_HEAD(list_head* head);
void list_add_tail(list_head* entry, list_head* head);
void list_del(list_head* entry);
int list_empty(const list_head* head);

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
#ifndef TS_SHOWDISK_ESXI
int get_port_type(int fd, char* dest, size_t size);
#endif
int get_lun_name(int fd, char* dest, size_t size);
int get_host_lunID(int fd, char* dest, size_t size);
int get_array_name(int fd, char* dest, size_t size);
int get_tpg(int fd, char* dest, size_t size);

// Pure helpers.
void binary_to_ascii(const unsigned char* src, size_t start, size_t count, char* dest, size_t size);
#ifdef TS_SHOWDISK_ESXI
// Only whether the pattern occurs in a non-empty line (0) or not (-1).
int get_str_by_reg(const char* line, const char* pattern);
#else
int get_str_by_reg(const char* line, const char* pattern, char* dest, size_t size);
int filter_the_unsafe_str(const char* text);
#endif
// Older-layout controller cell from page 0xC4 byte 29 (x) and page 0xC9 bytes
// 8 (a) and 9 (b); version bytes choose the layout (1: newer, 0: older).
int tpg_newer_layout(const unsigned char version[4]);
void tpg_older_text(unsigned char x, unsigned char a, unsigned char b, char* dest, size_t size);
// Array name from page 0xC8 (at least 187 bytes).
void array_name_from_page(const unsigned char* page, char* dest, size_t size);

#ifdef TS_SHOWDISK_ESXI
// One path of the ESXi path listing.
struct PathListEntry {
    list_head node;
    char runtime_name[256];
    char device[256];
    char state[8];
    char host_no[8];
    char transport[32];
};

extern list_head g_pathlist;
PathListEntry* path_entry_of(list_head* link);

// The value of a listing line: what follows the character behind its first
// colon, at most limit characters, into dest.
void value_of_line(const char* line, char* dest, size_t size, size_t limit);
// One line of each listing; *current is the entry (LUN) the value lines
// belong to. 0, or -1 for an allocation failure or a value line before any
// entry (LUN).
int path_list_line(const char* line, PathListEntry** current);
int lun_list_line(const char* line, LunInfo** current);

int create_path_list(void);
// The index of g_pathlist by device that get_path_info_from_pathlist uses
// while it exists (the LUN listing builds and drops it); without it the
// list is walked. Both give the same paths in the same order.
void index_path_list(void);
void drop_path_index(void);
void get_path_info_from_pathlist(LunInfo* lun);
int get_lun_list_from_system(void);
int get_lun_list(void);
int get_dev_info(LunInfo* lun);
int get_info(void);
void free_lunlist(void);
void free_pathlist(void);
#else
// Capacity text of a sysfs sector count.
void size_text_from_sectors(unsigned long long sectors, char* dest, size_t size);
// The dm-N word of a map header, the number of the first digit run of a line.
int dm_word_of_line(const char* line, char* dest, size_t size);
int host_no_of_line(const char* line, char* dest, size_t size);
// Parses one line of `multipath -ll` into g_lunlist; *vendor_map is the
// state between lines, *current the LUN that path and size lines belong to.
int parse_multipath_line(const char* line, int* vendor_map, LunInfo** current);

// Discovery.
int get_lun_list(void);
int get_lun_list_from_dm(void);
LunInfo* create_dev_for_dm(const char* line, const char* dev);
int create_dev_for_sd(LunInfo* lun, const char* line, const char* dev);
int get_lun_list_from_block_dir(void);
int get_sysfs_get_size(const char* dev, char* dest, size_t size);
int get_sysfs_get_hostno(const char* dev, char* dest, size_t size);
int get_porttype_by_host(const char* host_no, char* dest, size_t size);
int get_dev_info(LunInfo* lun);
int get_info(void);
void free_lunlist(void);
#endif

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

#endif  // TSKIT_SHOWDISK_LUNINFO_H
