// What the supervisor decides from a trapped call's arguments: the node a
// path names, the C library's start of a command line, the programs the
// host refuses, and the audit log's lines.
#include "trapped_calls.h"

#include <fcntl.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using sansim::KindOfProgram;
using sansim::ProgramKind;

TEST(NodeNameOfPath, NormalisesWithoutTheFileSystem) {
    struct Case {
        const char* path;
        const char* name;  // nullptr: no node
    } cases[] = {
        {"/dev/sdb", "sdb"},
        {"/dev//disks/./naa.6e0fc1", "disks/naa.6e0fc1"},
        {"/tmp/../dev/sdc", "sdc"},
        {"/../../dev/sde", "sde"},  // ".." at the root stays there
        {"/dev/sdb/", "sdb"},
        {"/dev/./../dev/dm-1", "dm-1"},
        {"/dev", nullptr},
        {"/dev/sdd/..", nullptr},
        {"/devices/sdb", nullptr},
        {"/sys/dev/sdb", nullptr},
        {"/", nullptr},
    };
    for (const Case& c : cases) {
        std::string name = "unchanged";
        bool found = sansim::NodeNameOfPath(c.path, &name);
        EXPECT_EQ(found, c.name != nullptr) << c.path;
        if (c.name != nullptr) {
            EXPECT_EQ(name, c.name) << c.path;
        }
    }
}

TEST(ShellStartOf, OnlyTheCLibrarysShellStart) {
    struct Case {
        const char* filename;
        std::vector<std::string> argv;
        const char* line;  // nullptr: not a start of a command line
    } cases[] = {
        {"/bin/sh", {"sh", "-c", "multipath -ll"}, "multipath -ll"},
        {"/bin/sh", {"sh", "-c", "--", "multipath -ll"}, "multipath -ll"},
        {"/bin/sh", {"sh", "-c", ""}, ""},
        // A shell the command or the host's PATH runs is a program like any.
        {"/usr/bin/sh", {"sh", "-c", "multipath -ll"}, nullptr},
        {"/dev/.sansim/bin/sh", {"sh", "-c", "multipath -ll"}, nullptr},
        {"/bin/sh", {"/bin/sh", "-c", "multipath -ll"}, nullptr},
        {"/bin/sh", {"sh", "-c", "multipath -ll", "x"}, nullptr},
        {"/bin/sh", {"sh", "-c", "-x", "multipath -ll"}, nullptr},
        {"/bin/sh", {"sh", "-e", "multipath -ll"}, nullptr},
        {"/bin/sh", {"sh", "-c"}, nullptr},
        {"/bin/sh", {}, nullptr},
    };
    for (const Case& c : cases) {
        std::string line = "unchanged";
        bool started = sansim::ShellStartOf(c.filename, c.argv, &line);
        EXPECT_EQ(started, c.line != nullptr) << c.filename << " " << c.argv.size();
        if (c.line != nullptr) {
            EXPECT_EQ(line, c.line);
        }
    }
}

// The first 20 bytes of an ELF header: class, byte order, machine.
std::vector<uint8_t> ElfHead(uint8_t elfClass, uint8_t order, uint16_t machine) {
    std::vector<uint8_t> head = {0x7f, 'E', 'L', 'F', elfClass, order, 1};
    head.resize(20, 0);
    head[16] = 2;  // ET_EXEC
    head[18] = static_cast<uint8_t>(machine & 0xff);
    head[19] = static_cast<uint8_t>(machine >> 8);
    return head;
}

TEST(KindOfProgram, RunsX8664AndRefusesOtherElfPrograms) {
    struct Case {
        const char* what;
        std::vector<uint8_t> head;
        ProgramKind kind;
    } cases[] = {
        {"x86-64", ElfHead(2, 1, 62), ProgramKind::Native},
        {"i386", ElfHead(1, 1, 3), ProgramKind::Foreign},
        {"x32", ElfHead(1, 1, 62), ProgramKind::Foreign},
        {"aarch64", ElfHead(2, 1, 183), ProgramKind::Foreign},
        {"big-endian x86-64", ElfHead(2, 2, 62), ProgramKind::Foreign},
        {"truncated ELF", {0x7f, 'E', 'L', 'F', 2, 1}, ProgramKind::Foreign},
        {"script", {'#', '!', '/', 'b', 'i', 'n', '/', 's', 'h', '\n'}, ProgramKind::NotElf},
        {"three bytes", {0x7f, 'E', 'L'}, ProgramKind::NotElf},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(KindOfProgram(c.head.data(), c.head.size()), c.kind) << c.what;
    }
}

TEST(FlagsOfFdInfo, ReadsTheOctalFlagsLine) {
    int flags = -1;
    ASSERT_TRUE(sansim::FlagsOfFdInfo("pos:\t0\nflags:\t0104002\nmnt_id:\t25\nino:\t7\n", &flags));
    EXPECT_EQ(flags, 0104002);
    EXPECT_STREQ(sansim::AccessName(flags), "rw");
    ASSERT_TRUE(sansim::FlagsOfFdInfo("flags:\t02000000", &flags));
    EXPECT_STREQ(sansim::AccessName(flags), "ro");
    EXPECT_FALSE(sansim::FlagsOfFdInfo("pos:\t0\nmnt_id:\t25\n", &flags));
    EXPECT_FALSE(sansim::FlagsOfFdInfo("flags:\t\n", &flags));
    EXPECT_FALSE(sansim::FlagsOfFdInfo("pos:\t0 flags:\t0100002\n", &flags));
}

TEST(AuditLines, AsTheLogHasAlwaysWrittenThem) {
    EXPECT_EQ(sansim::OpenAuditLine("sdb", O_RDONLY | O_NONBLOCK),
              "open /dev/sdb access=ro flags=0x800\n");
    EXPECT_EQ(sansim::OpenAuditLine("rdsk/c1t0d1s0", O_RDWR | O_NONBLOCK),
              "open /dev/rdsk/c1t0d1s0 access=rw flags=0x802\n");
    EXPECT_EQ(sansim::OpenAuditLine("sdb", O_WRONLY | O_CREAT | O_TRUNC),
              "open /dev/sdb access=wo flags=0x241\n");

    const uint8_t inquiry[] = {0x12, 0x01, 0xc0, 0x04, 0x00, 0x00};
    EXPECT_EQ(sansim::ScsiAuditLine("sdb", inquiry, 6, 1024, 10, O_RDONLY),
              "scsi /dev/sdb op=0x12 evpd=1 page=0xc0 alloc=1024 timeout=10 access=ro\n");
    // EVPD and page belong to an INQUIRY block long enough to hold them.
    EXPECT_EQ(sansim::ScsiAuditLine("sdb", inquiry, 2, 36, 0, O_RDONLY),
              "scsi /dev/sdb op=0x12 evpd=0 page=0x00 alloc=36 timeout=0 access=ro\n");
    const uint8_t capacity[] = {0x9e, 0x10, 0xc0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 32, 0, 0};
    EXPECT_EQ(sansim::ScsiAuditLine("dm-0", capacity, 16, 32, 60000, -1),
              "scsi /dev/dm-0 op=0x9e evpd=0 page=0x00 alloc=32 timeout=60000 access=?\n");

    // A line is at most 511 bytes: a longer one is cut, newline and all.
    std::string line = sansim::OpenAuditLine(std::string(600, 'x'), O_RDONLY);
    EXPECT_EQ(line.size(), 511u);
    EXPECT_EQ(line.compare(0, 10, "open /dev/"), 0);
    EXPECT_NE(line.back(), '\n');
}

}  // namespace
