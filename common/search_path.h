// Whether a host command is installed, decided as the shell that would run
// it decides: by searching PATH. The programs ask before they start the
// multipath listing and to find the vendor's multipath product; neither a
// shell nor `which` is started (minimal images have no `which`, and a probe
// that cannot run must not read as "not installed").
#ifndef TSKIT_COMMON_SEARCH_PATH_H
#define TSKIT_COMMON_SEARCH_PATH_H

// The search path the shell uses when PATH is not set at all.
inline constexpr char kDefaultSearchPath[] =
    "/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin";

// True when a directory of PATH holds an executable regular file called
// name (symbolic links followed); an empty entry of PATH is the current
// directory, as for the shell. A name that is empty or holds a '/' is never
// found: it would not be searched for.
bool SearchPathHas(const char* name);

// The same over the search path given (colon-separated).
bool SearchPathHasIn(const char* name, const char* searchPath);

#endif  // TSKIT_COMMON_SEARCH_PATH_H
