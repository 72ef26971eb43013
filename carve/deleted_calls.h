// Carver of deleted rows of the call history database: walks the pages of the database and of its
// stored write-ahead log with the byte-level primitives and posts every row it recognises.
#pragma once

#include "carve/carve_pages.h"
#include "events/scan_context.h"

namespace tamsel {

// Posts one record per carved row through ctx.nc; posts no progress. Reads only `input`;
// stops between pages when ctx.stopped().
void carveDeletedCallHistory(const CarveInput& input, ScanContext& ctx);

}  // namespace tamsel
