// JSON export of result records: one object per record, keyed by field name; texts as
// strings, flags as booleans, byte fields as {"size": n, "sha256": "..."}.
#pragma once

#include <nlohmann/json.hpp>

#include "results/result_lists.h"

namespace tamsel::cli {

// {CLASS: [record, ...]} for every non-empty list of the BlackBerry and raw-scan kinds.
nlohmann::ordered_json recordsToJson(const ResultLists& lists);

}  // namespace tamsel::cli
