// ts_showdisk's entry point, the same for the Linux and the ESXi build: the
// run, then whether its output reached standard output.
#include <stdio.h>

#include "showdisk_run.h"
#include "process_start.h"

int main(int argc, char* argv[]) {
    process_HoldStandardDescriptors();
    process_ExitOnBrokenPipe(1);
    const int status = run_showdisk(argc, argv);
    // A table that never reached its reader (standard output closed, a full
    // disk) is a failed run, whatever the host answered.
    const bool flush_failed = fflush(stdout) != 0;
    if (flush_failed || ferror(stdout) != 0) {
        return 1;
    }
    return status;
}
