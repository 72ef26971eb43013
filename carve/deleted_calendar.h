// Carver of deleted rows of the calendar database: walks the pages of the database and of its
// stored write-ahead log with the byte-level primitives and posts every row it recognises.
//
// A row is found by the serial-type codes of six small integer columns (organizer, attendee,
// status, ...: "08 08 08 08 08 08" or "08 08 00 08 08 08", constants 0 and a NULL) that sit at
// column 11 of the event table, one place further on for each earlier column whose code takes
// two bytes (a long title or description). Title, location (rollback-journal layout only),
// note, start and end are read from the columns before them. Rows are carved from live cells
// and free space alike; the result view drops those it already lists.
#pragma once

#include <cstdint>
#include <span>

#include "carve/carve_pages.h"
#include "events/scan_context.h"

namespace tamsel {

// Posts one record per carved row through ctx.nc; posts no progress. Reads only `input`;
// stops between pages when ctx.stopped().
void carveDeletedCalendar(const CarveInput& input, ScanContext& ctx);

// The byte tests of this carver, on the bytes of one page (`offset` from the page start; a
// byte outside the page reads as 0x00).
//
// Version 1: 1 when the byte is none of 0x08, 0x00, 0x01, 0x09; other versions: 1 when the
// byte is 0x80 to 0x89 (the first byte of a two-byte code); else 0.
int DescriptionIsAlterbleDBFile(std::span<const uint8_t> page, int64_t offset, int version);
// 1 when the byte is not 0x00.
int TitileIsAlterbleDBFile(std::span<const uint8_t> page, int64_t offset);
// A header-length byte taken as the header length minus one: version 0 for bytes 32 to 35,
// version 1 for bytes 42 to 45; else 0.
int accquireFieldLength(std::span<const uint8_t> page, int64_t offset, int version);
// Version 1: 1 when the byte is not 0x00; else 0.
int unique_identifAlter(std::span<const uint8_t> page, int64_t offset, int version);

}  // namespace tamsel
