// tsexTool device discovery: the vendor's disks as plain block devices in
// g_tsdevicelist, found by a scan of /sys/block (each entry identified
// through SCSI commands, its capacity read from the sysfs size file) or
// copied from the vluns and paths of multipath discovery. Records are
// allocated with malloc, one by one, and released with free.
#ifndef TSEXTOOL_TSTOPOLOGY_DEVICES_H
#define TSEXTOOL_TSTOPOLOGY_DEVICES_H

#include <cstdint>

#include "records/tstopology.h"

// The /sys/block scan (optionally for one name); 0, or -1 when /sys/block
// cannot be read.
int tstopo_GetDeviceTopology(const char* name);
// The vluns and paths of g_tsvlunlist copied into device records.
void tstopo_VlunConvertToDevice();

// Device records.
DevInfo* CreateDeviceWithDevname(const char* name);
DevInfo* CreateDeviceWithDevinfo(const DevInfo* source);
// The capacity text of /sys/block/NAME/size ("10G", "9.5G", "0.0K").
int GetCapacityFromSysfs(const char* name, char* dest, int destSize);

// The size in bytes of /sys/block/NAME/size (512-byte sectors), read
// without a shell; -1 when name is neither "dm-" and digits nor "sd" and
// lower-case letters, or the file holds no number that fits.
int tstopo_GetBlockBytes(const char* name, uint64_t* bytes);

#endif  // TSEXTOOL_TSTOPOLOGY_DEVICES_H
