// Vlun, path and phypath discovery: the maps of the vendor's arrays in the
// "multipath -ll" listing become VlunInfo records with their PathInfo records,
// each is identified through SCSI commands, and the paths are grouped into
// physical paths by initiator-port and target-port WWN (and iSCSI session).
#include "discovery/tstopology_discovery.h"

#include <cstdlib>
#include <cstring>
#include <string>

#include "../../common/hash_index.h"
#include "../../common/listing_commands.h"
#include "../../common/listing_line.h"
#include "../../common/listing_text.h"
#include "../../common/query_process.h"
#include "../../common/search_path.h"
#include "boundedfunc.h"
#include "discovery/tsioctrl.h"
#include "discovery/tsname.h"
#include "discovery/tsquery.h"
#include "discovery/tstopology_listing.h"
#include "discovery/tstopology_transport.h"
#include "lun_vendor.h"
#include "records/tsstatus.h"
#include "scsi_withheld.h"
#include "tslog.h"

namespace {

constexpr int kLineSize = 256;
constexpr int kNameSize = 64;
constexpr int kNodePathSize = 256;

// Threshold of error reports; progress details use 0.
constexpr int kLogError = 3;
constexpr int kLogDetail = 0;

// Unlinks a vlun and frees it together with its paths.
void FreeVlun(VlunInfo* vlun) {
    list_del(&vlun->stList);
    ListHead* link = vlun->stPathList.next;
    while (link != &vlun->stPathList) {
        ListHead* next = link->next;
        list_del(link);
        free(list_entry(link, PathInfo, stList));
        link = next;
    }
    free(vlun);
}

// The dm name of a header that discovery makes a vlun of: a line with one
// of the vendor's words anywhere in it and a dm word of its own
// (GetDMnameStringFromLinebuf says why the name is not simply the word at
// the first "dm-").
bool VendorMapHeader(const char* line, char* dmName) {
    return lun_LineNamesVendor(line) && GetDMnameStringFromLinebuf(line, dmName, kNameSize) == 0;
}

// The header's alias, or the default "--" for a map without one (or with
// one too long to keep).
void TakeAlias(const char* line, TsText<128>* alias) {
    char word[128];
    if (GetDMaliasStringFromLinebuf(line, word, sizeof word) == 0 && word[0] != '\0') {
        (void)memcpy_s(alias->data(), alias->size(), word, sizeof word);
    }
}

// A listing line without its newline (lines longer than the buffer come in
// pieces, as every cutter of the listing takes them).
bool NextListingLine(FILE* listing, char* line, int size) {
    if (fgets(line, size, listing) == nullptr) {
        return false;
    }
    const size_t length = strlen(line);
    if (length > 0 && line[length - 1] == '\n') {
        line[length - 1] = '\0';
    }
    return true;
}

// A SCSI disk's kernel name: "sd" and lower-case letters (sdb, sdaa).
bool IsDiskName(const char* name) {
    if (strncmp(name, "sd", 2) != 0 || name[2] == '\0') {
        return false;
    }
    for (const char* c = name + 2; *c != '\0'; ++c) {
        if (*c < 'a' || *c > 'z') {
            return false;
        }
    }
    return true;
}

// A path whose device node is missing or cannot be opened.
void MarkPathFailed(DevInfo* dev) {
    (void)sprintf_s(dev->acStatus.data(), dev->acStatus.size(), "failed");
    (void)sprintf_s(dev->acInqStatus.data(), dev->acInqStatus.size(), "failed");
}

// A path that dm has failed carries no I/O, even when the device answers
// TEST UNIT READY: not active.
void NotActive(DevInfo* dev) {
    (void)sprintf_s(dev->acStatus.data(), dev->acStatus.size(), "--");
}

// The path's capacity falls back to the listing's size of its vlun.
void TakeListingSize(TsText<16>* capacity, const VlunInfo* vlun) {
    if (!tstopo_TextHasValue(capacity->data())) {
        (void)memcpy_s(capacity->data(), capacity->size(), vlun->acDmSize.data(),
                       vlun->acDmSize.size());
    }
}

// The count of a vlun's paths, before any is dropped.
size_t PathCount(const VlunInfo* vlun) {
    size_t count = 0;
    for (const ListHead* p = vlun->stPathList.next; p != &vlun->stPathList; p = p->next) {
        ++count;
    }
    return count;
}

// The queries of every vlun and of its paths, in list order: each vlun
// followed by its paths. A path of a map that turns out to be another
// vendor's is queried as well (its record is then dropped unread); with one
// job nothing is queried before it is taken, as the walk always did.
std::vector<TsQuery> VlunQueries() {
    size_t count = 0;
    for (ListHead* v = g_tsvlunlist.next; v != &g_tsvlunlist; v = v->next) {
        count += 1 + PathCount(list_entry(v, VlunInfo, stList));
    }
    std::vector<TsQuery> queries;
    queries.reserve(count);
    for (ListHead* v = g_tsvlunlist.next; v != &g_tsvlunlist; v = v->next) {
        VlunInfo* vlun = list_entry(v, VlunInfo, stList);
        queries.push_back(tsquery_Of(&vlun->stDev, TS_INQUIRY_TOLERANT));
        for (ListHead* p = vlun->stPathList.next; p != &vlun->stPathList; p = p->next) {
            queries.push_back(
                tsquery_Of(&list_entry(p, PathInfo, stList)->stDev, TS_INQUIRY_TOLERANT));
        }
    }
    return queries;
}

// Takes the identification of the paths of one vlun (tolerant mode) and
// drops the paths of another vendor. A path whose node cannot be opened is
// down, whatever its listing line says; a path that gave no port
// identifiers takes them from the host's transport classes. next is the
// query of the vlun's first path; it is left after its last.
void IdentifyPaths(VlunInfo* vlun, TsQuery** next) {
    ListHead* link = vlun->stPathList.next;
    while (link != &vlun->stPathList) {
        ListHead* following = link->next;
        PathInfo* path = list_entry(link, PathInfo, stList);
        const int result = tsquery_Take((*next)++);
        if (result == TS_ERR_NOT_VENDOR) {
            list_del(link);
            free(path);
        } else {
            if (result == TS_ERR_OPEN) {
                MarkPathFailed(&path->stDev);
            } else if (path->stDev.iDmFailed != 0) {
                NotActive(&path->stDev);
            }
            TakeListingSize(&path->stDev.acCapacity, vlun);
            tstopo_TakePortsFromTransport(path);
        }
        link = following;
    }
}

}  // namespace

VlunInfo* CreateVlunFromMultipath(const char* line, const char* dmName) {
    if (line == nullptr || dmName == nullptr) {
        return nullptr;
    }
    char node[kNodePathSize];
    if (sprintf_s(node, sizeof node, "/dev/%s", dmName) < 0) {
        return nullptr;
    }
    // Deliberate change: a map whose dm node is missing or unreadable is
    // still a vlun, made from its listing; its paths say whether the LUN is
    // reachable. Hiding it would hide a LUN whose every path is down.
    (void)JudgeFileExistAndRead(node);
    auto* vlun = static_cast<VlunInfo*>(malloc(sizeof(VlunInfo)));
    if (vlun == nullptr) {
        tsprint_Log(kLogError, "Alloc memory failed for vlun.\n");
        return nullptr;
    }
    tstopo_InitVlunInfoToDefault(vlun);
    (void)sprintf_s(vlun->stDev.acDevName.data(), vlun->stDev.acDevName.size(), "%s", dmName);
    (void)sprintf_s(vlun->stDev.acDevPath.data(), vlun->stDev.acDevPath.size(), "/dev/%s", dmName);
    (void)GetDMwwnStringFromLinebuf(line, vlun->acDmWwn.data(), kNameSize);

    char vendor[kNameSize];
    char product[kNameSize];
    (void)memset_s(vendor, sizeof vendor, 0, sizeof vendor);
    (void)memset_s(product, sizeof product, 0, sizeof product);
    // Whatever the cutter found stands, also a product without a vendor.
    (void)GetDMvidpidStringFromLinebuf(line, vendor, product, kNameSize);
    (void)sprintf_s(vlun->acDmVidPid.data(), vlun->acDmVidPid.size(), "%s/%s", vendor, product);
    TakeAlias(line, &vlun->acAlias);

    list_add_tail(&vlun->stList, &g_tsvlunlist);
    tsprint_Log(kLogDetail, "Get vlun[%s].\n", vlun->stDev.acDevPath.data());
    return vlun;
}

PathInfo* CreatePathFromMultipath(VlunInfo* vlun, const char* line, const char* sdName) {
    if (vlun == nullptr || line == nullptr || sdName == nullptr) {
        return nullptr;
    }
    char node[kNodePathSize];
    if (sprintf_s(node, sizeof node, "/dev/%s", sdName) < 0) {
        return nullptr;
    }
    const bool nodeReadable = JudgeFileExistAndRead(node) == 0;
    auto* path = static_cast<PathInfo*>(malloc(sizeof(PathInfo)));
    if (path == nullptr) {
        tsprint_Log(kLogError, "Alloc memory failed for path.\n");
        return nullptr;
    }
    tstopo_InitPathInfoToDefault(path, vlun);
    (void)GetHTCLFromLinebuf(line, path);
    // Deliberate change: a path whose node is gone or unreadable is a path
    // down, not no path. Only a line with a SCSI address and a kernel disk
    // name counts as one, so that lines cut short, or that merely hold "sd",
    // create nothing.
    if (!nodeReadable && (path->iHctlValid != 1 || !IsDiskName(sdName))) {
        free(path);
        return nullptr;
    }
    DevInfo* dev = &path->stDev;
    (void)sprintf_s(dev->acDevName.data(), dev->acDevName.size(), "%s", sdName);
    (void)sprintf_s(dev->acDevPath.data(), dev->acDevPath.size(), "/dev/%s", sdName);
    list_add_tail(&path->stList, &vlun->stPathList);
    tsprint_Log(kLogDetail, "Get path[%s] for vlun[%s].\n", sdName, vlun->stDev.acDevName.data());

    dev->iDmFailed = PathLineDmFailed(line) ? 1 : 0;
    if (!nodeReadable) {
        MarkPathFailed(dev);
    } else if (GetPathActiveWordFromLinebuf(line, dev->acStatus.data(),
                                            static_cast<int>(dev->acStatus.size())) != 0) {
        (void)sprintf_s(dev->acStatus.data(), dev->acStatus.size(), "--");
    }
    (void)memcpy_s(dev->acInqStatus.data(), dev->acInqStatus.size(), dev->acStatus.data(),
                   dev->acStatus.size());
    return path;
}

namespace {

// A map that queues I/O and has no usable path holds any pass-through to its
// dm node until the process is killed: its node is withheld, so that its
// record keeps what the listing says, as for a node that does not answer.
void EndMap(const VlunInfo* vlun, const MapQueueing& map) {
    if (vlun == nullptr || !MapQueueingHoldsIo(map)) {
        return;
    }
    (void)scsi_WithholdNode(vlun->stDev.acDevPath.data());
    tsprint_Log(kLogDetail, "Vlun[%s] queues I/O without a usable path: not queried.\n",
                vlun->stDev.acDevName.data());
}

}  // namespace

void GetVlunTopologyFromListing(FILE* listing, const char* vlunName, const char* pathName) {
    if (listing == nullptr) {
        return;
    }
    VlunInfo* current = nullptr;  // set while the lines belong to a wanted vlun
    MapQueueing map;
    char line[kLineSize];
    while (NextListingLine(listing, line, kLineSize)) {
        // Any line with "dm-" is a map header and ends the block before it.
        // One without a dm word of its own creates nothing and its block is
        // ignored like any skipped map's.
        if (IsMapHeader(line, HeaderLine::kHoldsDm)) {
            EndMap(current, map);
            current = nullptr;
            map = MapQueueing();
            char dmName[kNameSize];
            if (!VendorMapHeader(line, dmName) ||
                (vlunName != nullptr && strcmp(vlunName, dmName) != 0)) {
                continue;
            }
            current = CreateVlunFromMultipath(line, dmName);
            continue;
        }
        if (current == nullptr) {
            continue;
        }
        MapQueueingNoteLine(&map, line);
        if (IsSizeLine(line)) {
            (void)GetSizeFromLinebuf(line, current->acDmSize.data(),
                                     static_cast<int>(current->acDmSize.size()));
            continue;
        }
        char sdName[kNameSize];
        // An sd word too long for its buffer comes out empty; "/dev/" would
        // then pass the node check, so such a line names no path.
        if (GetPathSdNameFromLinebuf(line, sdName, kNameSize) == 0 && sdName[0] != '\0' &&
            (pathName == nullptr || strcmp(pathName, sdName) == 0)) {
            (void)CreatePathFromMultipath(current, line, sdName);
        }
    }
    EndMap(current, map);
}

void GetMapNamesFromListing(FILE* listing, std::vector<TsMapNames>* maps) {
    if (listing == nullptr || maps == nullptr) {
        return;
    }
    char line[kLineSize];
    while (NextListingLine(listing, line, kLineSize)) {
        TsMapNames names{};
        if (!IsMapHeader(line, HeaderLine::kHoldsDm) ||
            !VendorMapHeader(line, names.acDmName.data())) {
            continue;
        }
        // As for a vlun: "--" for a map without an alias or a WWID word.
        (void)sprintf_s(names.acAlias.data(), names.acAlias.size(), "--");
        TakeAlias(line, &names.acAlias);
        if (GetDMwwidWordFromLinebuf(line, names.acWwid.data(),
                                     static_cast<int>(names.acWwid.size())) != 0 ||
            names.acWwid[0] == '\0') {
            (void)sprintf_s(names.acWwid.data(), names.acWwid.size(), "--");
        }
        maps->push_back(names);
    }
}

namespace {

// The whole output of one "multipath -ll" run and whether it succeeded: the
// run both lists the maps and says whether the listing works at all. On a
// real host each run makes multipath check every path itself.
bool ReadListing(FILE* pipe, std::string* text) {
    char chunk[kLineSize * 16];
    size_t got = 0;
    while ((got = fread(chunk, 1, sizeof chunk, pipe)) > 0) {
        text->append(chunk, got);
    }
    return ferror(pipe) == 0;
}

// Reports a listing that failed, unless the caller keeps quiet about it.
void ReportListing(bool report, const char* text) {
    if (report) {
        tsprint_Log(kLogError, "%s", text);
    }
}

// One run of "multipath -ll" into text: 0, TS_ERR_FAILED when it cannot be
// started, TS_ERR_NO_MULTIPATH when it fails.
int RunListing(std::string* text, bool report) {
    ListingPipe pipe(kMultipathListingQuiet);
    if (!pipe.Valid()) {
        ReportListing(report, "Execute popen(\"multipath -ll\") command failed.\n");
        return TS_ERR_FAILED;
    }
    const bool read = ReadListing(pipe.Get(), text);
    if (!read || pipe.Close() != 0) {
        ReportListing(report, "Execute \"multipath -ll\" command failed.\n");
        return TS_ERR_NO_MULTIPATH;
    }
    return 0;
}

// The multipath command's check, then its one run: the listing serves as
// its own check as well.
int ProbeAndRunListing(std::string* text, bool report) {
    // PATH searched here: a host without `which` runs the listing all the same.
    if (!SearchPathHas("multipath")) {
        ReportListing(report, "Execute \"which multipath\" command failed.\n");
        return TS_ERR_NO_MULTIPATH;
    }
    return RunListing(text, report);
}

// The listing text as a stream, handed to walk; an empty listing walks nothing.
template <typename Walk>
int WalkListing(std::string& text, bool report, Walk walk) {
    if (text.empty()) {
        return 0;
    }
    FILE* listing = fmemopen(text.data(), text.size(), "r");
    if (listing == nullptr) {
        ReportListing(report, "Execute popen(\"multipath -ll\") command failed.\n");
        return TS_ERR_FAILED;
    }
    walk(listing);
    (void)fclose(listing);
    return 0;
}

// What name names among the vendor's maps of the listing text.
int LookUpName(std::string& text, const char* name, TsNameLookup* lookup, bool report) {
    std::vector<TsMapNames> maps;
    const int result = WalkListing(
        text, report, [&maps](FILE* listing) { GetMapNamesFromListing(listing, &maps); });
    tsname_Resolve(name, maps.data(), maps.size(), lookup);
    return result;
}

// The vluns of g_tsvlunlist identified through their nodes and paths; those
// that turn out to be another vendor's are dropped.
void IdentifyVluns() {
    std::vector<TsQuery> queries = VlunQueries();
    tsquery_Run(&queries);
    TsQuery* query = queries.data();
    ListHead* link = g_tsvlunlist.next;
    while (link != &g_tsvlunlist) {
        ListHead* next = link->next;
        VlunInfo* vlun = list_entry(link, VlunInfo, stList);
        const int identified = tsquery_Take(query++);
        if (identified == TS_ERR_NOT_VENDOR) {
            query += PathCount(vlun);  // never taken: the map is not the vendor's
            FreeVlun(vlun);
        } else {
            TakeListingSize(&vlun->stDev.acCapacity, vlun);
            const bool hadPaths = !list_empty(&vlun->stPathList);
            IdentifyPaths(vlun, &query);
            // Without its own node only its paths tell whose LUN it is: when
            // every one of them named another vendor, so is the map.
            if (identified == TS_ERR_OPEN && hadPaths && list_empty(&vlun->stPathList)) {
                FreeVlun(vlun);
            }
        }
        link = next;
    }
}

// Discovery from one listing text into g_tsvlunlist.
int ParseAndIdentify(std::string& text, const char* vlunName, const char* pathName) {
    const int result = WalkListing(text, true, [=](FILE* listing) {
        GetVlunTopologyFromListing(listing, vlunName, pathName);
    });
    if (result == 0) {
        IdentifyVluns();
    }
    return result;
}

}  // namespace

int GetVlunTopologyFromMultipath(const char* vlunName, const char* pathName) {
    std::string text;
    const int result = RunListing(&text, true);
    if (result != 0) {
        return result;
    }
    return WalkListing(text, true, [=](FILE* listing) {
        GetVlunTopologyFromListing(listing, vlunName, pathName);
    });
}

int tstopo_GetVlunTopology(const char* vlunName, const char* pathName) {
    std::string text;
    const int result = ProbeAndRunListing(&text, true);
    return result != 0 ? result : ParseAndIdentify(text, vlunName, pathName);
}

int tstopo_GetVlunTopologyByName(const char* name, TsNameLookup* lookup) {
    if (lookup == nullptr) {
        return TS_ERR_FAILED;
    }
    lookup->dmNames.clear();
    std::string text;
    int result = ProbeAndRunListing(&text, true);
    if (result == 0) {
        result = LookUpName(text, name, lookup, true);
    }
    if (result != 0 || lookup->dmNames.size() != 1) {
        return result;
    }
    return ParseAndIdentify(text, lookup->dmNames[0].c_str(), nullptr);
}

int tstopo_LookUpVlunName(const char* name, TsNameLookup* lookup) {
    if (lookup == nullptr) {
        return TS_ERR_FAILED;
    }
    lookup->dmNames.clear();
    std::string text;
    const int result = ProbeAndRunListing(&text, false);
    return result != 0 ? result : LookUpName(text, name, lookup, false);
}

void UpdatePhypathInfoByPath(PhypathInfo* phypath, PathInfo* path) {
    if (phypath == nullptr || path == nullptr) {
        return;
    }
    // The first path with a parsed address names the phypath.
    if (phypath->iHctValid != 1 && path->iHctlValid == 1) {
        phypath->iHctValid = 1;
        phypath->iHost = path->iHost;
        phypath->iChannel = path->iChannel;
        phypath->iTarget = path->iTarget;
        (void)sprintf_s(phypath->acAlias.data(), phypath->acAlias.size(), "%d:%d:%d",
                        phypath->iHost, phypath->iChannel, phypath->iTarget);
    }
    const DevInfo& dev = path->stDev;
    if (strcmp(dev.acInqStatus.data(), "active") == 0) {
        (void)memcpy_s(phypath->acStatus.data(), phypath->acStatus.size(), dev.acInqStatus.data(),
                       dev.acInqStatus.size());
    }
    DEST_INVALID_AND_COPY(phypath->acCtrl.data(), phypath->acCtrl.size(), dev.acCtrl.data(),
                          dev.acCtrl.size());
    DEST_INVALID_AND_COPY(phypath->acArrayName.data(), phypath->acArrayName.size(),
                          dev.acArrayName.data(), dev.acArrayName.size());
    DEST_INVALID_AND_COPY(phypath->acArraySn.data(), phypath->acArraySn.size(),
                          dev.acArraySn.data(), dev.acArraySn.size());
    DEST_INVALID_AND_COPY(phypath->acPortType.data(), phypath->acPortType.size(),
                          dev.acPortType.data(), dev.acPortType.size());
    DEST_INVALID_AND_COPY(phypath->acPortId.data(), phypath->acPortId.size(), dev.acPortId.data(),
                          dev.acPortId.size());
    DEST_INVALID_AND_COPY(phypath->acHostWwn.data(), phypath->acHostWwn.size(),
                          dev.acHostWwn.data(), dev.acHostWwn.size());
    DEST_INVALID_AND_COPY(phypath->acTargetWwn.data(), phypath->acTargetWwn.size(),
                          dev.acTargetWwn.data(), dev.acTargetWwn.size());
    path->pstPhypath = phypath;
    tsprint_Log(kLogDetail, "Lookup phypath[%s] for device[%s].\n", phypath->acAlias.data(),
                dev.acDevName.data());
}

PhypathInfo* CreatePhypathByPath(PathInfo* path) {
    if (path == nullptr) {
        return nullptr;
    }
    auto* phypath = static_cast<PhypathInfo*>(malloc(sizeof(PhypathInfo)));
    if (phypath == nullptr) {
        tsprint_Log(kLogError, "Alloc memory failed for phypath.\n");
        return nullptr;
    }
    (void)memset_s(phypath, sizeof(*phypath), 0, sizeof(*phypath));
    INIT_LIST_HEAD(&phypath->stNode);
    phypath->iSession = -1;
    (void)sprintf_s(phypath->acAlias.data(), phypath->acAlias.size(), "#:#:#");
    (void)sprintf_s(phypath->acStatus.data(), phypath->acStatus.size(), "--");
    UpdatePhypathInfoByPath(phypath, path);
    list_add_tail(&phypath->stNode, &g_tsphypathlist);
    return phypath;
}

namespace {

// The phypaths by host and target WWN (and session) while
// tstopo_GetPhypathTopology builds them (a phypath keeps the WWNs it was
// created with). Without it, or once it failed, the list is walked.
HashIndex s_phypathIndex;
bool s_phypathIndexOn = false;

// What tells one physical path from another: the two port names, and for a
// path over an iSCSI session that session (session -1 adds nothing, so FC
// keys are the port pair alone).
uint64_t PhypathKey(const char* hostWwn, const char* targetWwn, int session) {
    const uint64_t key =
        HashBytes(targetWwn, strlen(targetWwn) + 1, HashBytes(hostWwn, strlen(hostWwn) + 1));
    return session >= 0 ? HashBytes(&session, sizeof session, key) : key;
}

uint64_t KeyOf(const PhypathInfo* phypath) {
    return PhypathKey(phypath->acHostWwn.data(), phypath->acTargetWwn.data(), phypath->iSession);
}

bool SamePhypath(const PhypathInfo* phypath, const DevInfo& dev, int session) {
    return strcmp(phypath->acHostWwn.data(), dev.acHostWwn.data()) == 0 &&
           strcmp(phypath->acTargetWwn.data(), dev.acTargetWwn.data()) == 0 &&
           phypath->iSession == session;
}

// The iSCSI session of a path with an address; -1 for any other.
int SessionOf(const PathInfo* path) {
    return path->iHctlValid == 1 ? tstopo_IscsiSession(path->iHost, path->iChannel, path->iTarget)
                                 : -1;
}

// A field without a value takes the source's, or "--".
template <size_t N>
void FillField(TsText<N>* field, const TsText<N>* source) {
    if (tstopo_TextHasValue(field->data())) {
        return;
    }
    if (source != nullptr && tstopo_TextHasValue(source->data())) {
        (void)memcpy_s(field->data(), N, source->data(), N);
    } else {
        (void)sprintf_s(field->data(), N, "--");
    }
}

PhypathInfo* FindPhypath(const DevInfo& dev, int session) {
    if (s_phypathIndexOn && !s_phypathIndex.Failed()) {
        return static_cast<PhypathInfo*>(s_phypathIndex.Find(
            PhypathKey(dev.acHostWwn.data(), dev.acTargetWwn.data(), session),
            [&dev, session](void* value) {
                return SamePhypath(static_cast<PhypathInfo*>(value), dev, session);
            }));
    }
    for (ListHead* link = g_tsphypathlist.next; link != &g_tsphypathlist; link = link->next) {
        PhypathInfo* phypath = list_entry(link, PhypathInfo, stNode);
        if (SamePhypath(phypath, dev, session)) {
            return phypath;
        }
    }
    return nullptr;
}

// A path that answered, of a LUN that has a path over this phypath: the
// LUN lives on one array (unless it spans two), so that path names the
// array the phypath leads to.
const DevInfo* AnsweringSibling(const PhypathInfo* phypath) {
    for (ListHead* vlunLink = g_tsvlunlist.next; vlunLink != &g_tsvlunlist;
         vlunLink = vlunLink->next) {
        VlunInfo* vlun = list_entry(vlunLink, VlunInfo, stList);
        bool overPhypath = false;
        const DevInfo* answered = nullptr;
        for (ListHead* link = vlun->stPathList.next; link != &vlun->stPathList; link = link->next) {
            const PathInfo* path = list_entry(link, PathInfo, stList);
            overPhypath = overPhypath || path->pstPhypath == phypath;
            if (answered == nullptr && path->stDev.iDualArray == 0 &&
                strcmp(path->stDev.acInqStatus.data(), "active") == 0 &&
                tstopo_TextHasValue(path->stDev.acArraySn.data())) {
                answered = &path->stDev;
            }
        }
        if (overPhypath && answered != nullptr) {
            return answered;
        }
    }
    return nullptr;
}

// A phypath none of whose paths answered knows nothing of the array side.
// A target port belongs to one controller of one array, so another phypath
// to the same target port whose paths answered tells it; else "--" for the
// controller, and the array of a LUN over it for the array's name and serial.
void FillFromSameTargetPort(PhypathInfo* phypath) {
    const PhypathInfo* known = nullptr;
    for (ListHead* link = g_tsphypathlist.next; link != &g_tsphypathlist; link = link->next) {
        const PhypathInfo* other = list_entry(link, PhypathInfo, stNode);
        if (other != phypath && strcmp(other->acStatus.data(), "active") == 0 &&
            strcmp(other->acTargetWwn.data(), phypath->acTargetWwn.data()) == 0) {
            known = other;
            break;
        }
    }
    const DevInfo* sibling = known == nullptr ? AnsweringSibling(phypath) : nullptr;
    FillField(&phypath->acCtrl, known != nullptr ? &known->acCtrl : nullptr);
    FillField(&phypath->acArrayName, known != nullptr     ? &known->acArrayName
                                     : sibling != nullptr ? &sibling->acArrayName
                                                          : nullptr);
    FillField(&phypath->acArraySn, known != nullptr     ? &known->acArraySn
                                   : sibling != nullptr ? &sibling->acArraySn
                                                        : nullptr);
    FillField(&phypath->acPortType, known != nullptr ? &known->acPortType : nullptr);
    FillField(&phypath->acPortId, known != nullptr ? &known->acPortId : nullptr);
}

}  // namespace

void tstopo_IndexPhypaths(int on) {
    s_phypathIndex.Clear();
    s_phypathIndexOn = on != 0;
    for (ListHead* link = g_tsphypathlist.next; s_phypathIndexOn && link != &g_tsphypathlist;
         link = link->next) {
        PhypathInfo* phypath = list_entry(link, PhypathInfo, stNode);
        s_phypathIndex.Add(KeyOf(phypath), phypath);
    }
}

PhypathInfo* LookupAndCreatePhypathByPath(PathInfo* path) {
    if (path == nullptr) {
        return nullptr;
    }
    const DevInfo& dev = path->stDev;
    if (!tstopo_TextHasValue(dev.acHostWwn.data()) ||
        !tstopo_TextHasValue(dev.acTargetWwn.data())) {
        tsprint_Log(kLogDetail, "Find path[%s] is invalid in hostwwn[%s] or targwwn[%s].\n",
                    dev.acDevName.data(), dev.acHostWwn.data(), dev.acTargetWwn.data());
        return nullptr;
    }
    const int session = SessionOf(path);
    PhypathInfo* phypath = FindPhypath(dev, session);
    if (phypath != nullptr) {
        UpdatePhypathInfoByPath(phypath, path);
        return nullptr;
    }
    phypath = CreatePhypathByPath(path);
    if (phypath == nullptr) {
        return nullptr;
    }
    phypath->iSession = session;
    if (s_phypathIndexOn) {
        s_phypathIndex.Add(KeyOf(phypath), phypath);
    }
    return phypath;
}

namespace {

// The transport classes read once for one discovery, and forgotten after it.
class TransportCached {
  public:
    TransportCached() { tstopo_CacheTransport(1); }
    ~TransportCached() { tstopo_CacheTransport(0); }
    TransportCached(const TransportCached&) = delete;
    TransportCached& operator=(const TransportCached&) = delete;
};

}  // namespace

int tstopo_GetPhypathTopology() {
    const TransportCached cached;
    int result = tstopo_GetVlunTopology(nullptr, nullptr);
    if (result != 0) {
        return result;
    }
    tstopo_IndexPhypaths(1);
    for (ListHead* vlunLink = g_tsvlunlist.next; vlunLink != &g_tsvlunlist;
         vlunLink = vlunLink->next) {
        VlunInfo* vlun = list_entry(vlunLink, VlunInfo, stList);
        for (ListHead* link = vlun->stPathList.next; link != &vlun->stPathList; link = link->next) {
            (void)LookupAndCreatePhypathByPath(list_entry(link, PathInfo, stList));
        }
    }
    tstopo_IndexPhypaths(0);
    for (ListHead* link = g_tsphypathlist.next; link != &g_tsphypathlist; link = link->next) {
        PhypathInfo* phypath = list_entry(link, PhypathInfo, stNode);
        if (strcmp(phypath->acStatus.data(), "active") != 0) {
            FillFromSameTargetPort(phypath);
        }
    }
    for (ListHead* link = g_tsphypathlist.next; link != &g_tsphypathlist; link = link->next) {
        tstopo_TakeTransportState(list_entry(link, PhypathInfo, stNode));
    }
    return 0;
}
