// tsexTool vlun, path and phypath discovery: the maps of the vendor's arrays
// in the "multipath -ll" listing become VlunInfo records in g_tsvlunlist
// with their PathInfo records, each identified through SCSI commands, and
// the paths are grouped into the PhypathInfo records of g_tsphypathlist.
// Records are allocated with malloc, one by one, and released with free.
#ifndef TSEXTOOL_TSTOPOLOGY_DISCOVERY_H
#define TSEXTOOL_TSTOPOLOGY_DISCOVERY_H

#include <cstdio>
#include <vector>

#include "discovery/tsname.h"
#include "records/tsstatus.h"
#include "records/tstopology.h"

// Vlun, path and phypath discovery from "multipath -ll". At most one of the
// two names is given: a dm name selects one vlun, an sd name selects paths.
// 0, or one of the TS_ERR_ results.
int tstopo_GetVlunTopology(const char* vlunName, const char* pathName);
int tstopo_GetPhypathTopology();

// Discovery of the one vlun that name names, from a device name on the
// command line ("/dev/" dropped): its dm name, its alias or its WWID
// (tsname.h), looked up in the same run of the listing that discovery then
// reads. lookup says what the name came to; only a name of exactly one of
// the vendor's maps discovers that map. 0, or one of the TS_ERR_ results.
int tstopo_GetVlunTopologyByName(const char* name, TsNameLookup* lookup);
// The same look-up alone, creating no record, and without a report when the
// listing cannot be read (lookup then names nothing).
int tstopo_LookUpVlunName(const char* name, TsNameLookup* lookup);

// ---------------------------------------------------------------------------
// The steps of discovery, for the tests and the fuzz targets.

// Multipath discovery: reads "multipath -ll" (or a listing stream) into
// g_tsvlunlist, without identification.
int GetVlunTopologyFromMultipath(const char* vlunName, const char* pathName);
void GetVlunTopologyFromListing(FILE* listing, const char* vlunName, const char* pathName);
// The names of the maps that discovery would make vluns of, in listing order.
void GetMapNamesFromListing(FILE* listing, std::vector<TsMapNames>* maps);
VlunInfo* CreateVlunFromMultipath(const char* line, const char* dmName);
PathInfo* CreatePathFromMultipath(VlunInfo* vlun, const char* line, const char* sdName);

// Physical paths: the paths over one initiator-port/target-port pair and,
// on an iSCSI host, one session (tstopo_IscsiSession of the path's H:C:T).
PhypathInfo* LookupAndCreatePhypathByPath(PathInfo* path);
// While on, LookupAndCreatePhypathByPath finds phypaths through an index by
// host and target WWN and session (built from g_tsphypathlist when turned
// on) instead of walking the list; the results are the same.
void tstopo_IndexPhypaths(int on);
PhypathInfo* CreatePhypathByPath(PathInfo* path);
void UpdatePhypathInfoByPath(PhypathInfo* phypath, PathInfo* path);

#endif  // TSEXTOOL_TSTOPOLOGY_DISCOVERY_H
