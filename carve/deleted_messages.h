// Carver of deleted rows of the message database (text messages and chat messages; for phones of
// system 6 also the handle rows, joined at the end): walks the pages of the database and of its
// stored write-ahead log with the byte-level primitives and posts every row it recognises.
#pragma once

#include "carve/carve_pages.h"
#include "events/scan_context.h"

namespace tamsel {

// Posts one record per carved row through ctx.nc; posts no progress. Reads only `input`;
// stops between pages when ctx.stopped() (then nothing more is posted). Every read of a row
// stays inside the page it was found in. For system 6 the message and handle rows of all
// pages (database and log) are joined once the last page is read, and a message is posted
// with its text as carved when that text holds more than one character besides blanks.
void carveDeletedMessages(const CarveInput& input, ScanContext& ctx);

}  // namespace tamsel
