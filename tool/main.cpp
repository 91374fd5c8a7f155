// tsexTool: the program. The options before the command's words choose the
// form of the run (a table, --json, --nagios or --prometheus); tstool runs
// the words in it (tool/README.md follows a run through the folders).
#include <cstdio>

#include "../common/process_start.h"
#include "discovery/tsquery.h"
#include "rendering/tsmonitor.h"
#include "rendering/tsnagios.h"
#include "tstool.h"

#ifndef TSKIT_RELEASE_VERSION
#error "TSKIT_RELEASE_VERSION comes from the build (tool/CMakeLists.txt)"
#endif

int main(int argc, char* argv[]) {
    process_HoldStandardDescriptors();
    process_ExitOnBrokenPipe(1);
    const TsLeadingOptions options = tstool_ParseOptions(argc, argv);
    if (options.nagios) {
        process_ExitOnBrokenPipe(TS_NAGIOS_UNKNOWN);  // as any other failed write
    }
    if (options.help) {
        tstool_SayOptionsHelp();
        return 0;
    }
    if (options.version) {
        // The release version of the build, which the packages carry too.
        (void)fprintf(stdout, "tsexTool %s\n", TSKIT_RELEASE_VERSION);
        return 0;
    }
    tsquery_SetJobs(options.jobs);
    const bool monitor = tstool_MonitorForm(options) != TS_MONITOR_NONE;
    int status;
    if (monitor) {
        status = tstool_RunMonitor(options, argc - options.first, argv + options.first);
    } else if (options.error != nullptr) {
        (void)fprintf(stdout, "Error: %s.\n", options.error);
        status = 1;
    } else {
        status = tstool_RunCommand(options, argc - options.first, argv + options.first);
    }
    // A table that never reached its reader (standard output closed, a full
    // disk, a broken pipe) is a failure, whatever the command found.
    if (fflush(stdout) != 0 || ferror(stdout) != 0) {
        return monitor && options.nagios ? 3 : 1;
    }
    return status;
}
