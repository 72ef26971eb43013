// Live contacts and messages of a phone backup: the address book (with its pictures) and the
// message database, read by SQL from the scan's private copies.
#pragma once

#include <string>

#include "events/scan_context.h"

namespace tamsel {

// Fills ctx.contactArray (and ctx.contactImageArray), posts "ScanContactInfo" per person,
// then prepares ctx's name index and posts "ScanProgressInfo" 40.
void scanContactThread(const std::string& backup, ScanContext& ctx);

// Posts "ScanMessageInfo" per message, with the name found through ctx's name index, then
// "ScanProgressInfo" 50 (when the database exists). M6 whenever the database has a handle
// table, whatever the phone's version.
void scanMessageThread(const std::string& backup, ScanContext& ctx);

}  // namespace tamsel
