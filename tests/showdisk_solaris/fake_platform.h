// Test double of the Solaris services: canned INQUIRY replies per page, a
// scripted open, a tiny device tree, and a record of every USCSI request.
#ifndef TESTS_SHOWDISK_SOLARIS_FAKE_PLATFORM_H
#define TESTS_SHOWDISK_SOLARIS_FAKE_PLATFORM_H

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "../../scsi/solaris/solaris_platform.h"

struct FakeRequest {
    TS_UscsiCmd cmd;
    std::vector<uint8_t> cdb;
};

struct FakeMinor {
    std::string name;
    bool raw = true;
};

struct FakeNode {
    std::string driver = "ssd";
    std::vector<uint8_t> devid;  // empty: none
    std::vector<FakeMinor> minors;
};

struct FakePlatform {
    // INQUIRY replies: key -1 the standard data, else the VPD page code.
    std::map<int, std::vector<uint8_t>> pages;
    int ioctlErrno = 0;            // non-zero: every USCSI request fails with it
    std::map<int, int> pageErrno;  // per page (key as above)
    int openResult = 1000;         // no descriptor of the test process: closing it is harmless
    int openErrno = 0;
    std::vector<int> openFlags;
    std::vector<std::string> openPaths;
    std::vector<FakeRequest> requests;

    std::vector<FakeNode> nodes;
    bool nmlistFails = false;
    std::vector<std::string> nmlistCalls;  // minor names asked for
};

// The double every TS_Plat* call reaches; reset before each test.
FakePlatform& Fake();
void ResetFake();

// A device id the fake knows the size of, for TS_IsDeviceIdExist; the handle
// stays valid until the next ResetFake.
TS_DevId RegisterDevid(const std::vector<uint8_t>& bytes);

#endif  // TESTS_SHOWDISK_SOLARIS_FAKE_PLATFORM_H
