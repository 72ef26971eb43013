// Carver of deleted rows of the address book (persons and their phone, e-mail and address values):
// walks the pages of the database and of its stored write-ahead log with the byte-level primitives
// and posts every row it recognises.
#pragma once

#include "carve/carve_pages.h"
#include "events/scan_context.h"

namespace tamsel {

// Posts one record per carved person through ctx.nc, after the walk, in the order found (its
// numbers, e-mail addresses and web pages joined from the value rows by row identifier); posts
// no progress. Reads only `input`; stops between pages when ctx.stopped(), then posts nothing.
void carveDeletedContacts(const CarveInput& input, ScanContext& ctx);

}  // namespace tamsel
