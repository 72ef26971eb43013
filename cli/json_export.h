// Where `--json` writes: standard output ("-"), a stream such as a FIFO or a character
// device (written in place), or a file. A file is written as a temporary file beside it and
// renamed into place once complete, so a failed export leaves nothing half-written. The
// scanned input is never a destination (compared by file identity, so another name or a
// link to it is refused too), and an existing file is replaced only when forced.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "results/result_lists.h"

namespace tamsel::cli {

// True when `path` (which need not exist yet) is the folder `folder` or lies inside it, by
// file identity, so another name of the folder or a link into it counts too. False when
// `folder` is not a folder.
bool liesWithinFolder(const std::string& path, const std::string& folder);

// Empty when the export may go to `dest`, else one line saying why not. Nothing is ever
// written inside a scanned folder (a phone backup), nor over any of `alsoRead` (other files
// the command reads, as a database's write-ahead log, compared by file identity like the
// input). Called before the scan, so a refused destination costs no scan.
std::string checkJsonDestination(const std::string& dest, const std::string& input, bool force,
                                 const std::vector<std::string>& alsoRead = {});

// Writes the export of `lists` to `dest`. Returns 0; 1 after one line on stderr when the
// destination is refused or a write fails (a full disk included); 3 when the export was
// written but some byte fields could no longer be read from the input (named on stderr).
int writeJsonExport(const std::string& dest, bool force, const std::string& input,
                    std::string_view kind, const ResultLists& lists);

// The same for a document that `produce` writes in pieces (false: a piece could not be
// written). Byte fields that could not be read must have been reported through
// reportUnreadableField.
using Writer = std::function<bool(std::string_view)>;
using DocumentFn = std::function<bool(const Writer& write)>;
int writeJsonDocument(const std::string& dest, bool force, const std::string& input,
                      const DocumentFn& produce, const std::vector<std::string>& alsoRead = {});

// A byte field whose bytes could no longer be read: the first ten are named on stderr, the
// rest counted; any of them makes the export partial (exit status 3).
void reportUnreadableField(const std::string& line);

}  // namespace tamsel::cli
