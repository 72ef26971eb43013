// The decoders of the seven BlackBerry databases we understand. Each one walks the typed
// fields of one record (layout in blackberry/ipd_format.h), fills a result record and
// posts it through the scan's notification centre.
//
// Two levels:
//  - decodeBlackBerry...(fields): pure functions from a record's field bytes to a filled
//    record (null for a content-store record that is dropped). Field data running past
//    the end of `fields` is cut there. Byte fields refer to `origin` (see IpdFieldOrigin).
//  - ScanBlackBerry...with(ctx, src, bbOffSet, R): what the container readers call, with
//    `bbOffSet` at the record's first field and R the record length from its header. They
//    decode the R - 7 field bytes, post the record and ALWAYS leave `bbOffSet` at the
//    first field + R - 7 (the next record), whatever the fields hold. Return true when a
//    record was posted; a record whose bytes could not be read (src.failed()) is not.
// The Windows-layout reader uses the ScanBlackBerryWin...with names, which behave the same.
#pragma once

#include <cstdint>
#include <memory>
#include <span>

#include "blackberry/ipd_format.h"
#include "events/records.h"
#include "events/scan_context.h"
#include "util/byte_source.h"

namespace tamsel {

using IpdFieldBytes = std::span<const uint8_t>;

// Where a record's field bytes lie in their input file, so that the byte fields of the
// record (pictures, attachments, files) refer to them. Without a file they are copied.
struct IpdFieldOrigin {
  std::shared_ptr<const InputFile> file;
  uint64_t offset = 0;  // file offset of the first field byte
};

// ---------------------------------------------------------------- pure decoders

std::shared_ptr<PRBlackBerryContactNode> decodeBlackBerryContact(IpdFieldBytes fields,
                                                                 const IpdFieldOrigin& origin = {});
std::shared_ptr<PRBlackBerryCallNode> decodeBlackBerryCallLog(IpdFieldBytes fields,
                                                              const IpdFieldOrigin& origin = {});
std::shared_ptr<PRBlackBerrySMSMessageNode> decodeBlackBerrySMSMessage(
    IpdFieldBytes fields, const IpdFieldOrigin& origin = {});
std::shared_ptr<PRBlackBerryMMSMessageNode> decodeBlackBerryMMSMessage(
    IpdFieldBytes fields, const IpdFieldOrigin& origin = {});
std::shared_ptr<PRBlackBerryNoteNode> decodeBlackBerryMemo(IpdFieldBytes fields,
                                                           const IpdFieldOrigin& origin = {});
std::shared_ptr<PRBlackBerryCalenderNode> decodeBlackBerryCalender(
    IpdFieldBytes fields, const IpdFieldOrigin& origin = {});
// Null when the record has no content piece, or its content is empty (nothing is posted).
std::shared_ptr<PRBlackBerryContentNode> decodeBlackBerryContentStore(
    IpdFieldBytes fields, const IpdFieldOrigin& origin = {});

// The call type text of a type-2 number: "Recived", "Send", "Cancel" or "UnKnown".
const char* blackBerryCallTypeText(uint8_t number);

// ---------------------------------------------------------------- reader entry points

bool ScanBlackBerryContactwith(ScanContext& ctx, const ByteSource& src, uint64_t& bbOffSet,
                               uint32_t R);
bool ScanBlackBerryCallLogwith(ScanContext& ctx, const ByteSource& src, uint64_t& bbOffSet,
                               uint32_t R);
bool ScanBlackBerrySMSMessagewith(ScanContext& ctx, const ByteSource& src, uint64_t& bbOffSet,
                                  uint32_t R);
bool ScanBlackBerryMMSMessagewith(ScanContext& ctx, const ByteSource& src, uint64_t& bbOffSet,
                                  uint32_t R);
bool ScanBlackBerryMemoswith(ScanContext& ctx, const ByteSource& src, uint64_t& bbOffSet,
                             uint32_t R);
bool ScanBlackBerryCalenderwith(ScanContext& ctx, const ByteSource& src, uint64_t& bbOffSet,
                                uint32_t R);
bool ScanBlackBerryContentStorewith(ScanContext& ctx, const ByteSource& src, uint64_t& bbOffSet,
                                    uint32_t R);

// The decoder of `kind`; for kUnknown the record is skipped (cursor advanced, nothing
// posted, false returned).
bool ScanBlackBerryRecordwith(ipd::DatabaseKind kind, ScanContext& ctx, const ByteSource& src,
                              uint64_t& bbOffSet, uint32_t R);

// Windows layout: the same decoders under the names that reader uses.
inline bool ScanBlackBerryWinContactwith(ScanContext& ctx, const ByteSource& src,
                                         uint64_t& bbOffSet, uint32_t R) {
  return ScanBlackBerryContactwith(ctx, src, bbOffSet, R);
}
inline bool ScanBlackBerryWinCallLogwith(ScanContext& ctx, const ByteSource& src,
                                         uint64_t& bbOffSet, uint32_t R) {
  return ScanBlackBerryCallLogwith(ctx, src, bbOffSet, R);
}
inline bool ScanBlackBerryWinSMSMessagewith(ScanContext& ctx, const ByteSource& src,
                                            uint64_t& bbOffSet, uint32_t R) {
  return ScanBlackBerrySMSMessagewith(ctx, src, bbOffSet, R);
}
inline bool ScanBlackBerryWinMMSMessagewith(ScanContext& ctx, const ByteSource& src,
                                            uint64_t& bbOffSet, uint32_t R) {
  return ScanBlackBerryMMSMessagewith(ctx, src, bbOffSet, R);
}
inline bool ScanBlackBerryWinMemoswith(ScanContext& ctx, const ByteSource& src, uint64_t& bbOffSet,
                                       uint32_t R) {
  return ScanBlackBerryMemoswith(ctx, src, bbOffSet, R);
}
inline bool ScanBlackBerryWinCalenderwith(ScanContext& ctx, const ByteSource& src,
                                          uint64_t& bbOffSet, uint32_t R) {
  return ScanBlackBerryCalenderwith(ctx, src, bbOffSet, R);
}
inline bool ScanBlackBerryWinContentStorewith(ScanContext& ctx, const ByteSource& src,
                                              uint64_t& bbOffSet, uint32_t R) {
  return ScanBlackBerryContentStorewith(ctx, src, bbOffSet, R);
}

}  // namespace tamsel
