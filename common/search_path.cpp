// PATH searched as the shell searches it for a command without a '/'.
#include "search_path.h"

#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

namespace {

bool IsExecutableFile(const std::string& file) {
    struct stat st {};
    return stat(file.c_str(), &st) == 0 && S_ISREG(st.st_mode) && access(file.c_str(), X_OK) == 0;
}

}  // namespace

bool SearchPathHasIn(const char* name, const char* searchPath) {
    if (name == nullptr || name[0] == '\0' || strchr(name, '/') != nullptr ||
        searchPath == nullptr) {
        return false;
    }
    const char* entry = searchPath;
    for (;;) {
        const char* end = strchr(entry, ':');
        const size_t length = end != nullptr ? static_cast<size_t>(end - entry) : strlen(entry);
        const std::string dir = length == 0 ? std::string(".") : std::string(entry, length);
        if (IsExecutableFile(dir + "/" + name)) {
            return true;
        }
        if (end == nullptr) {
            return false;
        }
        entry = end + 1;
    }
}

bool SearchPathHas(const char* name) {
    const char* searchPath = getenv("PATH");
    return SearchPathHasIn(name, searchPath != nullptr ? searchPath : kDefaultSearchPath);
}
