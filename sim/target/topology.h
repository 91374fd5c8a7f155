// A simulated SAN host as one topology file describes it: SCSI hosts, arrays
// with controllers and target ports, the vendor's LUNs with their paths,
// other devices, the multipath layer and the product CLI names. Loaded once
// per process; every device node is found through an index by its name.
#ifndef SANSIM_TOPOLOGY_H
#define SANSIM_TOPOLOGY_H

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

namespace sansim {

enum class Platform { Linux, Esxi, Solaris };

// The product CLI names a host may have on PATH, and an ESXi host's
// listing commands.
constexpr const char* kProductCliNames[] = {"tsadm", "tsadmin", "tsTools"};
constexpr const char* kEsxiListingCommands[] = {"esxcfg-mpath", "esxcfg-scsidevs", "esxcli"};
// The real tools a host's PATH holds beside its own commands, unless the
// host file leaves some out (a minimal image without `which`).
constexpr const char* kShellTools[] = {"sh",       "cat", "readlink", "xargs",
                                       "basename", "awk", "grep",     "which"};
enum class ListingFormat { Current, Bracketed };
enum class SenseFormat { Fixed, Descriptor };

// Pseudo page numbers for raw patches of what is not a VPD page.
constexpr int kPageStandard = -1;    // standard INQUIRY data
constexpr int kPageCapacity10 = -2;  // READ CAPACITY(10) data
constexpr int kPageCapacity16 = -3;  // READ CAPACITY(16) data

struct PagePatch {
    int page = 0;    // VPD page code, or one of the pseudo pages above
    int offset = 0;  // first byte patched
    std::vector<uint8_t> bytes;
};

// Faults of one device node. Everything defaults to a healthy device.
struct Faults {
    int unitAttentionTurs = 0;       // first N TEST UNIT READY answer UNIT ATTENTION
    int hostStatus = 0;              // transport status returned ...
    int hostStatusCount = 0;         // ... for the first N requests (any command)
    int ioctlErrno = 0;              // the SG_IO ioctl itself fails with this errno
    bool dead = false;               // every command fails: DID_NO_CONNECT, no data
    bool hung = false;               // every command times out (after its timeout with Timing)
    bool pathsLost = false;          // dm node: no usable path, whatever the listing shows
    std::vector<int> missingPages;   // VPD pages refused with ILLEGAL REQUEST
    std::map<int, int> pageLength;   // VPD page -> page length (bytes 2..3) reported
    std::map<int, int> qualifier;    // VPD page (or kPageStandard) -> peripheral qualifier
    std::vector<int> failOpcodes;    // commands refused with ILLEGAL REQUEST (e.g. 0x25)
    std::vector<PagePatch> patches;  // applied after encoding, in order
    SenseFormat senseFormat = SenseFormat::Fixed;
    int senseLength = 18;     // bytes of sense returned (sb_len_wr), at most 32
    bool unreadable = false;  // node exists, open() and access(R_OK) fail with EACCES
    bool vanished = false;    // node exists for access(), open() fails with ENOENT
    // The SCSI device is not online (offline, transport-offline): sd's
    // open() fails with ENXIO while the node stays.
    bool offline = false;
    bool shield = false;       // page 0xC0 byte 11 bit 6
    bool missing = false;      // listed, but the host has no /dev node for it
    bool sysfsNotDir = false;  // /sys/block/NAME is a plain file, not a directory
    bool sysfsSizeGiven = false;
    std::string sysfsSize;  // the text of /sys/block/NAME/size in place of the sectors
};

// Attributes of a host's sysfs transport class entries that a topology can
// leave out ("transport_missing"), one bit each.
enum TransportAttr : unsigned {
    kFcHostPortName = 1u << 0,
    kFcHostPortState = 1u << 1,
    kRportPortName = 1u << 2,
    kRportPortState = 1u << 3,
    kRportScsiTargetId = 1u << 4,
    kIscsiHostInitiatorName = 1u << 5,
    kSessionTargetName = 1u << 6,
    kSessionState = 1u << 7,
    kSessionTpgt = 1u << 8,
    kSessionTargetLink = 1u << 9,  // the session's targetH:C:T entry
    kSessionInitiatorName = 1u << 10,
};

// What a Linux host's transport classes (fc_host, fc_remote_ports,
// iscsi_host, iscsi_session) show for one SCSI host.
struct HostTransportView {
    std::string portState = "Online";  // fc_host port_state
    std::string nodeName;              // fc_host node_name hex digits; empty: from the port
    std::string speed = "16 Gbit";     // fc_host speed
    std::string fabricName;            // fc_host fabric_name hex digits; empty: from the port
    std::string ipAddress;             // iscsi_host ipaddress; empty: from the host number
    // iscsi_host initiatorname; empty: the initiator port. open-iscsi leaves
    // the host's attribute unset ("(null)") and the session carries the IQN.
    std::string hostInitiatorName;
    std::map<std::string, std::string> rportStates;    // TargetPort::id -> rport port_state
    std::map<std::string, std::string> sessionStates;  // TargetPort::id -> session state
    unsigned missing = 0;                              // TransportAttr bits left out
};

struct ScsiHost {
    int number = 0;
    std::string driver;         // proc_name: qla2xxx, lpfc, iscsi_tcp, ...
    std::string initiatorPort;  // initiator port identifier (WWPN or IQN)
    std::string transport;      // ESXi path listing "Transport:"; default from the driver
    HostTransportView view;     // its transport class entries (Topology::transportClasses)
};

struct TargetPort {
    std::string id;          // name used by paths
    std::string identifier;  // target port identifier (WWPN or IQN)
    std::string controller;  // controller name, e.g. "A"
};

struct Array {
    std::string id;  // name used by LUNs
    std::string vendor = "QELMAR";
    std::string product = "VSA1000";
    std::string revision = "0100";
    std::string name;    // array name (at most 40 characters)
    std::string serial;  // array serial number (20 characters in page 0x80)
    int interfaceVersion = 516;
    bool versionBytesGiven = false;         // versionBytes override interfaceVersion
    std::array<uint8_t, 4> versionBytes{};  // raw page 0xC0 bytes 183..186
    int portTypeCode = 1;                   // page 0xC0 byte 191: 1 FC, 3 iSCSI
    std::vector<std::string> controllers;
    std::vector<TargetPort> targetPorts;
    std::unordered_map<std::string, size_t> portIndex;  // TargetPort::id -> targetPorts index
};

struct Path {
    std::string sd;  // kernel name, e.g. "sdb"
    int host = 0, channel = 0, target = 0, lun = 0;
    std::string targetPort;               // TargetPort::id
    std::string dmState = "active";       // listing: active | failed
    std::string checkerState = "ready";   // listing: ready | faulty | ghost | undef ...
    std::string deviceState = "running";  // listing: running | offline ...
    std::string esxState;                 // ESXi "State:"; default active, or dead when failed
    Faults faults;
};

struct Lun {
    std::string wwid;   // 33 characters: '3' and the 32 hex digits of the NAA designator
    std::string array;  // Array::id
    std::string name;   // LUN name (at most 40 characters)
    uint64_t sizeBytes = 0;
    uint32_t blockSize = 512;
    uint32_t hostLunId = 0;     // page 0xC8 bytes 85..88
    uint32_t arrayLunId = 0;    // page 0xC8 bytes 192..195
    std::string rawLunId;       // page 0xC8 bytes 90..105 (16 bytes), hex text
    std::string portId;         // page 0xC9 bytes 134..260 (127 bytes)
    std::string owner, worker;  // owning and working controller names
    bool dualArray = false;
    std::string dm;           // "dm-0"
    std::string alias;        // optional multipath alias ("mpatha")
    std::string listingSize;  // optional size text for the listing; default from sizeBytes
    std::vector<Path> paths;
    Faults dmFaults;  // faults of the dm node itself
    bool dmFailsWhenNoActivePath = true;
    // The map queues I/O while it has no usable path (multipath's
    // no_path_retry queue): SG_IO on its dm node then never returns until
    // the caller is killed. Without it the ioctl fails with EIO at once.
    bool queueIfNoPath = true;
    // Page 0x83 puts a T10 vendor ID designator (vendor and product of the
    // standard data) before the NAA one, as some targets do.
    bool t10DesignatorFirst = false;
};

// A disk of another vendor, or a non-SCSI block device (scsi false: no HCTL
// link, every SG_IO fails as on a loop device).
struct OtherDevice {
    std::string name;
    bool scsi = true;
    std::string vendor = "ATA";
    std::string product = "VIRTUAL-DISK";
    std::string revision = "1.0";
    int host = 0, channel = 0, target = 0, lun = 0;
    uint64_t sizeBytes = 0;
    Faults faults;
};

// Lines added at the end of a listing: many short ones, or one long one.
struct ListingPadding {
    uint64_t fillerLines = 0;
    uint64_t longLineBytes = 0;
};

struct MultipathConfig {
    bool installed = true;   // the multipath command is on PATH
    bool listFails = false;  // "multipath -ll" exits 1
    bool hang = false;       // "multipath -ll" prints nothing and waits until killed
    ListingPadding padding;
    ListingFormat format = ListingFormat::Current;
    std::string cannedListing;  // listing file printed instead of rendering (absolute once loaded)
    // Lines multipath writes on its standard error on every run, before the
    // listing: what it says of a daemon it cannot reach or a configuration.
    std::vector<std::string> warnings;
};

// The ESXi host's listings: canned files (absolute once loaded) printed in
// place of the rendered ones, and the software packages esxcli lists.
struct EsxiConfig {
    std::string cannedPaths;    // esxcfg-mpath -l
    std::string cannedDevices;  // esxcfg-scsidevs -l
    std::vector<std::string> vibs;
    std::vector<std::string> missing;  // commands not on PATH
    std::vector<std::string> failing;  // commands that print nothing and exit 1
    std::vector<std::string> hang;     // commands that print nothing and wait until killed
    ListingPadding padding;            // after both listings
};

// The padding lines of a listing.
std::string PaddingLines(const ListingPadding& padding);

// Which device a node name stands for.
struct DeviceRef {
    enum class Kind { Path, Dm, Other } kind = Kind::Other;
    size_t lun = 0;    // index in Topology::luns (Path, Dm)
    size_t path = 0;   // index in Lun::paths (Path)
    size_t other = 0;  // index in Topology::others (Other)
};

struct SolarisTree;  // solaris_host.h
struct Replay;       // replay.h

// Time on the host. Without it every command and listing answers at once.
// With it a command on a SCSI node takes serviceUs (plus up to jitterUs,
// drawn from seed), a command on a hung path (and on a dm node whose
// current path is hung) completes only when it times out, and each listing
// command runs listingMs. Host time runs scale times as fast as real time
// would (0.001: a host second is a real millisecond).
struct Timing {
    bool given = false;
    uint64_t serviceUs = 0;
    uint64_t jitterUs = 0;
    uint64_t seed = 1;
    uint64_t listingMs = 0;
    double scale = 1.0;
};

struct Topology {
    std::string file;  // where it was loaded from
    Platform platform = Platform::Linux;
    MultipathConfig multipath;
    EsxiConfig esxi;
    std::vector<std::string> productCli;    // installed: any of tsadm, tsadmin, tsTools
    std::vector<std::string> cannotStart;   // command lines whose popen/system fails
    std::vector<std::string> toolsMissing;  // shell tools (kShellTools) not on PATH
    bool sysBlock = true;                   // false: the host has no /sys/block directory
    bool transportClasses = false;          // Linux: FC and iSCSI hosts have transport classes
    Timing timing;
    std::vector<ScsiHost> hosts;
    std::vector<Array> arrays;
    std::vector<Lun> luns;
    std::vector<OtherDevice> others;
    std::vector<std::string> cannedNodes;                // dm/sd names of a canned listing
    std::unordered_map<std::string, DeviceRef> index;    // node name -> device
    std::unordered_map<std::string, size_t> arrayIndex;  // Array::id -> arrays index
    std::unordered_map<int, size_t> hostIndex;           // ScsiHost::number -> hosts index
    std::shared_ptr<const SolarisTree> solaris;          // platform "solaris": the device tree
    std::shared_ptr<const Replay> replay;  // a capture: others[i] answers from replay->nodes[i]
};

// Reads and checks a topology file; on failure returns false with a reason.
bool LoadTopology(const std::string& file, Topology* out, std::string* error);

const DeviceRef* FindDevice(const Topology& topo, const std::string& nodeName);
const Array* FindArray(const Topology& topo, const std::string& id);
const TargetPort* FindTargetPort(const Array& array, const std::string& id);
const ScsiHost* FindHost(const Topology& topo, int number);

// ESXi: the device name of a LUN (naa. and the 32 hex digits of its WWID),
// its node under /dev ("disks/" and the device name), the adapter's
// transport text and a path's state.
std::string EsxiDeviceName(const Lun& lun);
std::string EsxiNodeName(const std::string& deviceName);
std::string EsxiTransport(const ScsiHost& host);
std::string EsxiPathState(const Path& path);

// The transport class family of a host, from its transport text as the ESXi
// listing shows it: fc and fcoe are FC, iscsi is iSCSI, anything else none.
enum class TransportKind { None, Fc, Iscsi };
TransportKind HostTransportKind(const ScsiHost& host);

// The faults of the device a node name stands for.
const Faults& FaultsOf(const Topology& topo, const DeviceRef& ref);

// Size of a node in 512-byte sectors, for /sys/block/NAME/size.
uint64_t NodeSectors(const Topology& topo, const DeviceRef& ref);

// The paths of a LUN (indexes in Lun::paths) in the order the multipath listing
// shows them: the paths entering the LUN's working controller first (the active
// path group; their count in *activeGroupSize), then the others, each in
// topology order. A dm node answers through the first of these that is active.
std::vector<size_t> PathsInListingOrder(const Topology& topo, const Lun& lun,
                                        size_t* activeGroupSize = nullptr);

}  // namespace sansim

#endif  // SANSIM_TOPOLOGY_H
