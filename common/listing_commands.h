// The command lines the programs start to read the host's listings, in one
// place: tskit-capture runs the very same lines (and records whether each
// can be started), so a replayed capture answers them as the host did.
#ifndef TSKIT_COMMON_LISTING_COMMANDS_H
#define TSKIT_COMMON_LISTING_COMMANDS_H

// The multipath listing as tsexTool and ts_showdisk on Linux read it:
// multipath writes warnings (a daemon it cannot reach, a configuration it
// did not like) on its standard error, which would otherwise land on the
// program's own, so only its standard output is taken.
inline constexpr char kMultipathListingQuiet[] = "multipath -ll 2>/dev/null";
// The bare listing and the check that it runs at all: what earlier tsexTool
// versions ran; tskit-capture still records them for their replay.
inline constexpr char kMultipathListing[] = "multipath -ll";
inline constexpr char kMultipathCheck[] = "multipath -ll >/dev/null 2>&1";

// ts_showdisk on ESXi: the paths, the vendor's devices, the product probe.
inline constexpr char kEsxiPathListing[] =
    "esxcfg-mpath -l | grep -E \"Runtime Name:|Device:|State:|Transport:\"";
inline constexpr char kEsxiDeviceListing[] =
    "esxcfg-scsidevs -l | grep -B7 \"Vendor: QELMAR\" | grep -E \"^naa|Size:\"";
inline constexpr char kEsxiProductProbe[] =
    "esxcli software vib list | grep tessaro >/dev/null 2>&1";

#endif  // TSKIT_COMMON_LISTING_COMMANDS_H
