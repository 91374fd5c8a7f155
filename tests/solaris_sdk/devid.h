/* The libdevid interfaces for device ids and their /dev names, as
 * devid_get(3DEVID) describes them. */
#ifndef TSKIT_SOLARIS_SDK_DEVID_H
#define TSKIT_SOLARIS_SDK_DEVID_H

#include <stddef.h>
#include <sys/types.h>

typedef struct impl_devid* ddi_devid_t;

typedef struct devid_nmlist {
    char* devname;
    dev_t dev;
} devid_nmlist_t;

#ifdef __cplusplus
extern "C" {
#endif

int devid_valid(ddi_devid_t devid);
size_t devid_sizeof(ddi_devid_t devid);
int devid_deviceid_to_nmlist(char* search_path, ddi_devid_t devid, char* minor_name,
                             devid_nmlist_t** retlist);
void devid_free_nmlist(devid_nmlist_t* list);

#ifdef __cplusplus
}
#endif

#endif
