// Carver of deleted rows of the browser bookmarks database: walks the pages of the database and of
// its stored write-ahead log with the byte-level primitives and posts every row it recognises.
//
// A row is found by the codes of its small integer columns (num_children, editable, deletable,
// hidden: "01 01 01 01", in the old file format that stores 0 and 1 as one-byte integers) at
// column 6, after the title and URL codes. The table's width (11, 19 or 24 columns) is taken
// from the first live cell of the page and checked again at each row from its header-length
// byte; title and URL are read. The browser's own "Root" and "com.apple.ReadingList" folders
// are not posted.
#pragma once

#include <cstdint>
#include <span>

#include "carve/carve_pages.h"
#include "events/scan_context.h"

namespace tamsel {

// Posts one record per carved row through ctx.nc; posts no progress. Reads only `input`;
// stops between pages when ctx.stopped().
void carveDeletedBookmarks(const CarveInput& input, ScanContext& ctx);

// The byte tests of this carver, on the bytes of one page (`offset` from the page start; a
// byte outside the page reads as 0x00, and no walk leaves the page).
//
// Length 24: 1 when the byte is neither 0x01 nor 0x00; else 0.
int IsExtra_AttributeAlter(std::span<const uint8_t> page, int64_t offset, int length);
// Length 24: 1 when neither the byte nor the next one is 0x01 or 0x00; else 0.
int IsServer_IDAlter(std::span<const uint8_t> page, int64_t offset, int length);
// The number of steps back from `offset` to the nearest 0x01 byte (0 when the byte is 0x01);
// -1 when there is none between the page start and `offset`, or none within `maxSteps` steps.
int64_t TitleAndUrlIsAlterbleDBFile(std::span<const uint8_t> page, int64_t offset,
                                    int64_t maxSteps = INT64_MAX);
// Walks back from `offset` (included) to the first 0x00 byte and takes the byte v before it:
// length 19: 1 for v of 0x14 to 0x17, length 24: 1 for v of 0x19 to 0x1c; 0 when v is 0x00;
// -1 otherwise, for other lengths and when no 0x00 byte lies between the page start and
// `offset`.
int getMarkBookLength(std::span<const uint8_t> page, int64_t offset, int length);
// The width of the table a header-length byte belongs to: 1 for 0x14-0x16 (19 columns), 2 for
// 0x19-0x1b (24 columns); a 0x00 byte is judged by the byte before it, any other byte followed
// by 0x00 by the byte two before it (1 for 16 to 24, 2 for 25 and above); else 0.
int bBookMarkTableAlter(std::span<const uint8_t> page, int64_t offset);

}  // namespace tamsel
