/* NODEV, the device number that ends a devid_nmlist_t array, where Solaris
 * defines it; the rest is this machine's own header. */
#ifndef TSKIT_SOLARIS_SDK_SYS_PARAM_H
#define TSKIT_SOLARIS_SDK_SYS_PARAM_H

#include_next <sys/param.h>

#ifndef NODEV
#define NODEV ((dev_t)(-1L))
#endif

#endif
