// What the supervisor of a simulated host decides from the arguments of a
// trapped system call alone, with no process at hand: which node a path
// names, whether an exec is how the C library starts a command line, whether
// a program is one the host can run, and the audit log's lines.
#ifndef SANSIM_RUNNER_TRAPPED_CALLS_H
#define SANSIM_RUNNER_TRAPPED_CALLS_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace sansim {

// The node name NAME when the absolute path, normalised without following
// symbolic links ("." and ".." resolved, repeated slashes dropped), is
// "/dev/NAME"; NAME may hold directories ("disks/naa.6...").
bool NodeNameOfPath(std::string_view path, std::string* name);

// The command line when an exec of filename with argv is the C library's
// popen or system starting it: "/bin/sh" run as "sh -c LINE" (or
// "sh -c -- LINE"). A shell the host's own PATH finds is another program.
bool ShellStartOf(std::string_view filename, const std::vector<std::string>& argv,
                  std::string* line);

// What the first bytes of an executable file say about running it here.
enum class ProgramKind {
    NotElf,   // a script or something the kernel decides on its own
    Native,   // a 64-bit x86-64 ELF program
    Foreign,  // an ELF program of another class or machine (i386, x32, ...)
};
ProgramKind KindOfProgram(const uint8_t* head, size_t size);

// The file status flags of a "flags:\t0100002" line of /proc/PID/fdinfo/N
// (octal); false when the text has none.
bool FlagsOfFdInfo(std::string_view fdinfo, int* flags);

// "ro", "wo" or "rw" for the access mode of open flags.
const char* AccessName(int flags);

// The audit log's lines, newline included:
//   open /dev/NAME access=ro flags=0x800
//   scsi /dev/NAME op=0x12 evpd=1 page=0xc0 alloc=1024 timeout=10 access=ro
// EVPD and page are those of an INQUIRY block of at least three bytes, 0
// for every other command; access is "?" when the descriptor's flags could
// not be read (accessFlags < 0).
std::string OpenAuditLine(const std::string& name, int flags);
std::string ScsiAuditLine(const std::string& name, const uint8_t* cdb, size_t cdbLen,
                          uint32_t allocLen, uint32_t timeout, int accessFlags);

}  // namespace sansim

#endif  // SANSIM_RUNNER_TRAPPED_CALLS_H
