#include "fake_platform.h"

#include <errno.h>

#include <algorithm>
#include <deque>
#include <cstring>

namespace {

FakePlatform g_fake;
std::deque<std::vector<uint8_t>> g_devids;

// The names a device id has: one per node with that id and minor name.
struct NameList {
    std::vector<std::string> paths;
};

}  // namespace

FakePlatform& Fake() {
    return g_fake;
}

void ResetFake() {
    g_fake = FakePlatform();
    g_devids.clear();
}

TS_DevId RegisterDevid(const std::vector<uint8_t>& bytes) {
    g_devids.push_back(bytes);
    return g_devids.back().data();
}

TS_DiSnapshot TS_PlatDiInit(const char*, unsigned int) {
    return &g_fake;
}

int TS_PlatDiWalkMinor(TS_DiSnapshot, const char*, unsigned int, void* arg, TS_MinorWalker walker) {
    for (FakeNode& node : g_fake.nodes) {
        for (FakeMinor& minor : node.minors) {
            if (walker(&node, &minor, arg) != TS_DI_WALK_CONTINUE) {
                return 0;
            }
        }
    }
    return 0;
}

void TS_PlatDiFini(TS_DiSnapshot) {}

const char* TS_PlatDiNodeName(TS_DiNode node) {
    return static_cast<FakeNode*>(node)->driver.c_str();
}

TS_DevId TS_PlatDiDevid(TS_DiNode node) {
    FakeNode* fake = static_cast<FakeNode*>(node);
    return fake->devid.empty() ? nullptr : fake->devid.data();
}

const char* TS_PlatDiMinorName(TS_DiMinor minor) {
    return static_cast<FakeMinor*>(minor)->name.c_str();
}

int TS_PlatDiMinorSpectype(TS_DiMinor minor) {
    return static_cast<FakeMinor*>(minor)->raw ? TS_S_IFCHR : 0x6000;
}

int TS_PlatDevidValid(TS_DevId) {
    return 1;
}

size_t TS_PlatDevidSizeof(TS_DevId devid) {
    for (const FakeNode& node : g_fake.nodes) {
        if (!node.devid.empty() && node.devid.data() == devid) {
            return node.devid.size();
        }
    }
    for (const std::vector<uint8_t>& id : g_devids) {
        if (id.data() == devid) {
            return id.size();
        }
    }
    return 0;
}

int TS_PlatDevidToNmlist(const char* dir, TS_DevId, const char* minorName, TS_NameList* list) {
    g_fake.nmlistCalls.push_back(minorName);
    if (g_fake.nmlistFails) {
        return -1;
    }
    auto* names = new NameList;
    names->paths.push_back(std::string(dir) + "/" + minorName);
    *list = names;
    return 0;
}

const char* TS_PlatNmlistPath(TS_NameList list, size_t i) {
    const auto* names = static_cast<const NameList*>(list);
    return i < names->paths.size() ? names->paths[i].c_str() : nullptr;
}

void TS_PlatDevidFreeNmlist(TS_NameList list) {
    delete static_cast<NameList*>(list);
}

int TS_PlatOpen(const char* path, int flags) {
    g_fake.openPaths.push_back(path);
    g_fake.openFlags.push_back(flags);
    if (g_fake.openResult < 0) {
        errno = g_fake.openErrno;
    }
    return g_fake.openResult;
}

int TS_PlatUscsiCmd(int, TS_UscsiCmd* cmd) {
    FakeRequest request;
    request.cmd = *cmd;
    request.cdb.assign(cmd->uscsi_cdb, cmd->uscsi_cdb + cmd->uscsi_cdblen);
    g_fake.requests.push_back(request);
    const int page = (request.cdb[1] & 1) != 0 ? request.cdb[2] : -1;
    int err = g_fake.ioctlErrno;
    auto failing = g_fake.pageErrno.find(page);
    if (failing != g_fake.pageErrno.end()) {
        err = failing->second;
    }
    if (err != 0) {
        errno = err;
        return -1;
    }
    auto reply = g_fake.pages.find(page);
    if (reply != g_fake.pages.end()) {
        const size_t n = std::min(reply->second.size(), cmd->uscsi_buflen);
        std::memcpy(cmd->uscsi_bufaddr, reply->second.data(), n);
    }
    return 0;
}
