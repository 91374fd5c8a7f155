// ts_showdisk's run, the same on Linux and in the ESXi shell: the leading
// options and the first argument, the deadline's query process, then the
// platform's discovery, the queries of every record and the table or the
// --json document.
#include "showdisk_run.h"

#include <stdio.h>
#include <string.h>

#include "job_pool.h"
#include "json_writer.h"
#include "luninfo.h"
#include "luninfo_platform.h"
#include "luntable.h"
#include "query_process.h"
#include "showdisk_log.h"

namespace {

const char* const kVersion = "1.0.0";

void out(const char* text) {
    (void)fputs(text, stdout);
    (void)fflush(stdout);
}

}  // namespace

int check_tessaro(void) {
    if (!kPlatform.product_installed()) {
        return 0;
    }
    ts_log(1, "Tessaro is installed.\n");
    return -1;
}

namespace {

enum class FirstArgument { Run, Version, Invalid };

// Only the first argument counts. Linux: -v, -l, anything else ignored.
// ESXi: -v/--version, -l/-L, anything else invalid.
FirstArgument read_first_argument(int argc, const char* const argv[]) {
    if (argc < 2) {
        return FirstArgument::Run;
    }
    const char* arg = argv[1];
    const bool esxi = kPlatform.esxi_arguments;
    if (strcmp(arg, "-v") == 0 || (esxi && strcmp(arg, "--version") == 0)) {
        return FirstArgument::Version;
    }
    if (strcmp(arg, "-l") == 0 || (esxi && strcmp(arg, "-L") == 0)) {
        g_level = 0;
        return FirstArgument::Run;
    }
    return esxi ? FirstArgument::Invalid : FirstArgument::Run;
}

struct LeadingOptions {
    bool json = false;
    bool help = false;
    bool bad_jobs = false;
    bool bad_timeout = false;
    unsigned timeout = 0;  // seconds; 0: no deadline
    int skipped = 0;       // words taken before the first argument of old
};

// --jobs N, --timeout SECONDS, --json and --help lead the words; what follows them is read as
// before.
LeadingOptions read_leading_options(int argc, const char* const argv[]) {
    LeadingOptions lead;
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        if (strcmp(arg, "--help") == 0) {
            lead.help = true;
            return lead;
        }
        if (strcmp(arg, "--jobs") == 0) {
            if (i + 1 >= argc || !ParseJobs(argv[i + 1], &g_jobs)) {
                lead.bad_jobs = true;
                return lead;
            }
            lead.skipped = ++i;
            continue;
        }
        if (strcmp(arg, "--timeout") == 0) {
            if (i + 1 >= argc || !query_ParseSeconds(argv[i + 1], &lead.timeout)) {
                lead.bad_timeout = true;
                return lead;
            }
            lead.skipped = ++i;
            continue;
        }
        if (strcmp(arg, "--json") != 0 || lead.json) {
            break;
        }
        lead.json = true;
        lead.skipped = i;
    }
    return lead;
}

// The table's last line and the run's status when the deadline cut it.
int cut_status(int status, bool json) {
    if (query_Outcome() == QUERY_COMPLETE) {
        return status;
    }
    if (!json) {
        out(query_SummaryLine().c_str());
    }
    return 1;
}

// Discovery and queries, then the table or the document; the exit status.
int list_luns(void) {
    JsonWriter* const json = json_document();
    if (check_tessaro() != 0) {
        if (json != nullptr) {
            return json_end(*json, "product_installed", 1);
        }
        out("Tessaro is installed in the OS. Please use Tessaro CLI.\n");
        return 1;
    }
    if (!list_paths_first()) {
        return json != nullptr ? json_end(*json, "path_list_failed", 1) : 1;
    }
    if (get_lun_list() != 0) {
        ts_log(3, "%s", kPlatform.lun_list_failed);
        return json != nullptr ? json_end(*json, "lun_list_failed", 1) : 1;
    }
    if (get_info() != 0) {
        ts_log(3, "%s", kPlatform.lun_info_failed);
        return json != nullptr ? json_end(*json, "lun_info_failed", 1) : 1;
    }
    int status = 0;
    if (json != nullptr) {
        status = json_end(*json, "listed", 0);
    } else if (print_info() != 0) {
        ts_log(3, "print lun info failed\n");
        return 1;
    }
    free_lists();
    return status;
}

}  // namespace

int run_showdisk(int argc, char* argv[]) {
    INIT_LIST_HEAD(&g_lunlist);
    const LeadingOptions lead = read_leading_options(argc, argv);
    if (lead.help) {
        out(kPlatform.help_text);
        return 0;
    }
    if (lead.bad_jobs) {
        out("Error: --jobs needs a number from 1 to 1024.\n");
        return 1;
    }
    if (lead.bad_timeout) {
        out("Error: --timeout needs a whole number of seconds from 1 to 3600.\n");
        return 1;
    }
    switch (read_first_argument(argc - lead.skipped, argv + lead.skipped)) {
        case FirstArgument::Version:
            (void)printf("ts_showdisk version %s\n", kVersion);
            (void)fflush(stdout);
            return 0;
        case FirstArgument::Invalid:
            // Status 1 (deliberate: an invalid option is no success).
            (void)printf("%s%s%s\n", "Error: Invalid input!\nUsage:  [OPTION]\n",
                         "            -- [--version|-v]\n", "            -- [-l|-L]\n");
            (void)fflush(stdout);
            return 1;
        case FirstArgument::Run:
            break;
    }
    // A deadline: the queries go to a process of their own, and this one
    // answers from its journal (query_process.h).
    const bool started = lead.timeout != 0 && query_Start(lead.timeout) == 0;
    if (started && !query_InChild()) {
        g_jobs = 1;  // over the journal nothing waits: one LUN after another
    }
    const bool listed = !started || query_InChild() || !query_ListingMissing();
    if (!lead.json) {
        const int status = listed ? list_luns() : 1;
        if (query_InChild()) {
            query_ChildEnd();
        }
        return cut_status(status, false);
    }
    JsonWriter json(stdout);
    set_json_document(&json);
    json_begin(json);
    int status = listed ? list_luns() : json_end(json, "deadline", 1);
    if (query_InChild()) {
        query_ChildEnd();
    }
    status = cut_status(status, true);
    set_json_document(nullptr);
    return status;
}
