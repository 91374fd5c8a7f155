/* The libdevinfo interfaces of the device-tree snapshot and its minor-node
 * walk, as di_init(3DEVINFO), di_walk_minor(3DEVINFO), di_node_name and
 * di_minor_name(3DEVINFO) and di_devid(3DEVINFO) describe them. */
#ifndef TSKIT_SOLARIS_SDK_LIBDEVINFO_H
#define TSKIT_SOLARIS_SDK_LIBDEVINFO_H

#include <sys/types.h>

#include "devid.h"

typedef struct di_node* di_node_t;
typedef struct di_minor* di_minor_t;

#define DI_NODE_NIL ((di_node_t)0)

#define DI_WALK_CONTINUE 0
#define DI_WALK_TERMINATE -3

#ifdef __cplusplus
extern "C" {
#endif

di_node_t di_init(const char* phys_path, unsigned int flag);
void di_fini(di_node_t root);
int di_walk_minor(di_node_t root, const char* minor_type, unsigned int flag, void* arg,
                  int (*minor_callback)(di_node_t node, di_minor_t minor, void* arg));
char* di_node_name(di_node_t node);
ddi_devid_t di_devid(di_node_t node);
char* di_minor_name(di_minor_t minor);
int di_minor_spectype(di_minor_t minor);

#ifdef __cplusplus
}
#endif

#endif
