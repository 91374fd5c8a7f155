// ts_showdisk's run, the same for the Linux and the ESXi build: the options,
// then discovery, queries and the table or the document, in that order.
#ifndef TSKIT_SHOWDISK_SHOWDISK_RUN_H
#define TSKIT_SHOWDISK_SHOWDISK_RUN_H

// 0, or -1 (reported) when the host has the vendor's multipath product,
// whose own CLI lists the LUNs instead.
int check_tessaro(void);

// The whole run, from the first argument to the table: its exit status.
// main adds what the writes to standard output say.
int run_showdisk(int argc, char* argv[]);

#endif  // TSKIT_SHOWDISK_SHOWDISK_RUN_H
