// Shared by the simulator's tests: topologies written as JSON in the tests,
// stored in a scratch folder and loaded through the real loader, and
// big-endian readers for the bytes the target returns.
#ifndef SANSIM_TESTS_SIM_TEST_UTIL_H
#define SANSIM_TESTS_SIM_TEST_UTIL_H

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "topology.h"

namespace simtest {

using nlohmann::json;

class ScratchDir {
  public:
    ScratchDir() {
        char pattern[] = "/tmp/sansim-test-XXXXXX";
        const char* made = mkdtemp(pattern);
        path_ = made != nullptr ? made : "";
    }
    ~ScratchDir() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    // Writes text to name (sub-folders are made) and returns the full path.
    std::string Write(const std::string& name, const std::string& text) const {
        std::filesystem::path file = std::filesystem::path(path_) / name;
        std::error_code ec;
        std::filesystem::create_directories(file.parent_path(), ec);
        std::ofstream(file, std::ios::binary) << text;
        return file.string();
    }
    const std::string& path() const { return path_; }

  private:
    std::string path_;
};

// Loads text as a topology file; returns the loader's error, empty on success.
inline std::string LoadText(const ScratchDir& dir, const std::string& text, sansim::Topology* topo,
                            const std::string& name = "host.json") {
    std::string error;
    if (!sansim::LoadTopology(dir.Write(name, text), topo, &error)) {
        return error.empty() ? "failed without a reason" : error;
    }
    return "";
}

constexpr const char* kWwid0 = "36e0fc123456789abcdef012345670011";
constexpr const char* kWwid1 = "36e0fc123456789abcdef0123456700a2";

// Two HBAs, one array with controllers A and B, two LUNs and two devices of
// other kinds. LUN 0 works on A and is owned by B; LUN 1 works on B and lists
// its path on A first, so its listing order differs from its topology order.
inline json BaseHost() {
    return json::parse(R"({
      "scsi_hosts": [
        { "number": 3, "driver": "qla2xxx", "initiator_port": "21000024ff4a5b01" },
        { "number": 4, "driver": "qla2xxx", "initiator_port": "21000024ff4a5b02" } ],
      "arrays": [
        { "id": "a1", "vendor": "QELMAR", "product": "VSA1000", "revision": "0100",
          "name": "Array-01", "serial": "2102351234ABCDEF0001",
          "interface_version": 516, "port_type": 1, "controllers": ["A", "B"],
          "target_ports": [
            { "id": "a1-p0", "identifier": "2100e0fc12345601", "controller": "A" },
            { "id": "a1-p1", "identifier": "2100e0fc12345602", "controller": "B" },
            { "id": "a1-p2", "identifier": "2100e0fc12345603", "controller": "B" } ] } ],
      "luns": [
        { "wwid": "36e0fc123456789abcdef012345670011", "array": "a1", "name": "db01",
          "size_bytes": 10737418240, "block_size": 512, "host_lun_id": 1,
          "array_lun_id": 17, "raw_lun_id": "0123456789abcdef0011223344556677",
          "port_id": "port-group-7", "owner": "B", "worker": "A", "dual_array": true,
          "dm": "dm-0", "alias": "mpatha",
          "paths": [
            { "sd": "sdb", "hctl": "3:0:0:1", "target_port": "a1-p0" },
            { "sd": "sdc", "hctl": "4:0:1:1", "target_port": "a1-p1" } ] },
        { "wwid": "36e0fc123456789abcdef0123456700a2", "array": "a1", "name": "logs",
          "size_bytes": 1649267441664, "block_size": 4096, "host_lun_id": 2,
          "array_lun_id": 18, "owner": "B", "worker": "B", "dm": "dm-1",
          "paths": [
            { "sd": "sdd", "hctl": "3:0:0:2", "target_port": "a1-p0" },
            { "sd": "sde", "hctl": "4:0:1:2", "target_port": "a1-p1",
              "dm_state": "failed", "checker_state": "faulty" },
            { "sd": "sdab", "hctl": "4:0:2:2", "target_port": "a1-p2" } ] } ],
      "others": [
        { "name": "sda", "scsi": true, "vendor": "ATA", "product": "VIRTUAL-DISK",
          "revision": "2.5+", "hctl": "0:0:0:0", "size_bytes": 21474836480 },
        { "name": "loop0", "scsi": false, "size_bytes": 0 } ]
    })");
}

inline uint32_t Be16(const std::vector<uint8_t>& b, size_t at) {
    return static_cast<uint32_t>(b.at(at)) << 8 | b.at(at + 1);
}

inline uint32_t Be32(const std::vector<uint8_t>& b, size_t at) {
    return Be16(b, at) << 16 | Be16(b, at + 2);
}

inline uint64_t Be64(const std::vector<uint8_t>& b, size_t at) {
    return static_cast<uint64_t>(Be32(b, at)) << 32 | Be32(b, at + 4);
}

// width raw bytes from at, as a string (NULs included).
inline std::string Bytes(const std::vector<uint8_t>& b, size_t at, size_t width) {
    std::string s;
    for (size_t i = 0; i < width; ++i) {
        s += static_cast<char>(b.at(at + i));
    }
    return s;
}

// text followed by pad up to width.
inline std::string Padded(const std::string& text, size_t width, char pad) {
    return text + std::string(width - text.size(), pad);
}

}  // namespace simtest

#endif  // SANSIM_TESTS_SIM_TEST_UTIL_H
