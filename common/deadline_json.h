// The "deadline" member of a --json document, the same in tsexTool's and
// ts_showdisk's: written only when the run's deadline cut the queries.
#ifndef TSKIT_COMMON_DEADLINE_JSON_H
#define TSKIT_COMMON_DEADLINE_JSON_H

#include <string>

#include "json_writer.h"
#include "query_process.h"

inline void PutDeadlineMember(JsonWriter& json) {
    if (query_Outcome() == QUERY_COMPLETE) {
        return;
    }
    json.Key("deadline");
    json.BeginObject();
    json.KeyInt("seconds", static_cast<long long>(query_Seconds()));
    json.KeyBool("reached", query_Outcome() == QUERY_DEADLINE);
    json.KeyBool("listing_arrived", !query_ListingMissing());
    json.Key("not_checked");
    json.BeginArray();
    for (const std::string& node : query_NotCheckedNodes()) {
        json.String(node.c_str());
    }
    json.EndArray();
    json.KeyString("summary", query_Summary().c_str());
    json.EndObject();
}

#endif  // TSKIT_COMMON_DEADLINE_JSON_H
