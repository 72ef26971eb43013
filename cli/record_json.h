// JSON export of result records: one object per record, keyed by field name; texts as
// strings, flags as booleans, byte fields as {"size": n, "sha256": "..."} (hashed from the
// input as they are written). The document is written record by record, never built whole.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "results/result_lists.h"

namespace tamsel::cli {

// Writes {"source": ..., "kind": ..., "records": {CLASS: [record, ...]}} for every non-empty
// list of the BlackBerry and raw-scan kinds, laid out as a two-space indented document, in
// pieces through `write`. Text that is not valid UTF-8 is written with U+FFFD in place of
// the bad bytes. A byte field whose bytes can no longer be read is written with "sha256":
// null and a "readError" line, and reported through `warn`. Returns false as soon as
// `write` does.
bool writeRecordsJson(std::string_view source, std::string_view kind, const ResultLists& lists,
                      const std::function<bool(std::string_view)>& write,
                      const std::function<void(const std::string&)>& warn);

}  // namespace tamsel::cli
