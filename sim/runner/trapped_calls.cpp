#include "trapped_calls.h"

#include <fcntl.h>
#include <stdio.h>

#include <algorithm>

namespace sansim {

namespace {

// An audit line is at most this long, newline included (a longer one is cut
// and keeps no newline, as one fixed buffer writes it).
constexpr size_t kAuditLineMax = 511;

std::string Clip(const char* text, int len) {
    if (len <= 0) {
        return {};
    }
    return std::string(text, std::min(static_cast<size_t>(len), kAuditLineMax));
}

}  // namespace

bool NodeNameOfPath(std::string_view path, std::string* name) {
    std::vector<std::string_view> parts;
    size_t pos = 0;
    while (pos <= path.size()) {
        size_t end = path.find('/', pos);
        if (end == std::string_view::npos) {
            end = path.size();
        }
        std::string_view part = path.substr(pos, end - pos);
        if (part == "..") {
            if (!parts.empty()) {
                parts.pop_back();
            }
        } else if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
        pos = end + 1;
    }
    if (parts.size() < 2 || parts[0] != "dev") {
        return false;
    }
    name->assign(parts[1]);
    for (size_t i = 2; i < parts.size(); ++i) {
        name->append("/").append(parts[i]);
    }
    return true;
}

bool ShellStartOf(std::string_view filename, const std::vector<std::string>& argv,
                  std::string* line) {
    if (filename != "/bin/sh" || argv.size() < 3 || argv[0] != "sh" || argv[1] != "-c") {
        return false;
    }
    if (argv.size() == 3) {
        *line = argv[2];
        return true;
    }
    if (argv.size() == 4 && argv[2] == "--") {
        *line = argv[3];
        return true;
    }
    return false;
}

ProgramKind KindOfProgram(const uint8_t* head, size_t size) {
    constexpr uint8_t kMagic[] = {0x7f, 'E', 'L', 'F'};
    constexpr uint8_t kClass64 = 2;
    constexpr uint8_t kLittleEndian = 1;
    constexpr uint16_t kMachineX8664 = 62;
    if (size < 4 || !std::equal(kMagic, kMagic + 4, head)) {
        return ProgramKind::NotElf;
    }
    if (size < 20) {
        return ProgramKind::Foreign;
    }
    uint16_t machine = static_cast<uint16_t>(head[18] | (head[19] << 8));
    return head[4] == kClass64 && head[5] == kLittleEndian && machine == kMachineX8664
               ? ProgramKind::Native
               : ProgramKind::Foreign;
}

bool FlagsOfFdInfo(std::string_view fdinfo, int* flags) {
    constexpr std::string_view kKey = "flags:";
    size_t pos = 0;
    while (pos < fdinfo.size()) {
        size_t end = fdinfo.find('\n', pos);
        if (end == std::string_view::npos) {
            end = fdinfo.size();
        }
        std::string_view line = fdinfo.substr(pos, end - pos);
        if (line.substr(0, kKey.size()) == kKey) {
            std::string_view value = line.substr(kKey.size());
            size_t first = value.find_first_not_of(" \t");
            if (first == std::string_view::npos) {
                return false;
            }
            unsigned long parsed = 0;
            size_t digits = 0;
            for (char c : value.substr(first)) {
                if (c < '0' || c > '7' || digits == 11) {
                    break;
                }
                parsed = parsed * 8 + static_cast<unsigned long>(c - '0');
                ++digits;
            }
            if (digits == 0) {
                return false;
            }
            *flags = static_cast<int>(parsed);
            return true;
        }
        pos = end + 1;
    }
    return false;
}

const char* AccessName(int flags) {
    switch (flags & O_ACCMODE) {
        case O_RDONLY:
            return "ro";
        case O_WRONLY:
            return "wo";
        default:
            return "rw";
    }
}

std::string OpenAuditLine(const std::string& name, int flags) {
    char line[kAuditLineMax + 1];
    int len = snprintf(line, sizeof line, "open /dev/%s access=%s flags=0x%x\n", name.c_str(),
                       AccessName(flags), static_cast<unsigned>(flags));
    return Clip(line, len);
}

std::string ScsiAuditLine(const std::string& name, const uint8_t* cdb, size_t cdbLen,
                          uint32_t allocLen, uint32_t timeout, int accessFlags) {
    bool inquiry = cdbLen >= 3 && cdb[0] == 0x12;
    char line[kAuditLineMax + 1];
    int len = snprintf(line, sizeof line,
                       "scsi /dev/%s op=0x%02x evpd=%d page=0x%02x alloc=%u timeout=%u access=%s\n",
                       name.c_str(), cdbLen > 0 ? cdb[0] : 0, inquiry ? (cdb[1] & 1) : 0,
                       inquiry ? cdb[2] : 0, allocLen, timeout,
                       accessFlags < 0 ? "?" : AccessName(accessFlags));
    return Clip(line, len);
}

}  // namespace sansim
