// The command lines the programs start to read the host's listings, in one
// place: tskit-capture runs the very same lines (and records whether each
// can be started), so a replayed capture answers them as the host did.
#ifndef TSKIT_COMMON_LISTING_COMMANDS_H
#define TSKIT_COMMON_LISTING_COMMANDS_H

// tsexTool: the multipath listing, and the check that it runs at all.
inline constexpr char kMultipathListing[] = "multipath -ll";
inline constexpr char kMultipathCheck[] = "multipath -ll >/dev/null 2>&1";
// ts_showdisk on Linux: the multipath listing without its complaints.
inline constexpr char kMultipathListingQuiet[] = "multipath -ll 2>/dev/null";

// ts_showdisk on ESXi: the paths, the vendor's devices, the product probe.
inline constexpr char kEsxiPathListing[] =
    "esxcfg-mpath -l | grep -E \"Runtime Name:|Device:|State:|Transport:\"";
inline constexpr char kEsxiDeviceListing[] =
    "esxcfg-scsidevs -l | grep -B7 \"Vendor: QELMAR\" | grep -E \"^naa|Size:\"";
inline constexpr char kEsxiProductProbe[] =
    "esxcli software vib list | grep tessaro >/dev/null 2>&1";

#endif  // TSKIT_COMMON_LISTING_COMMANDS_H
