// The sources the controller can hand a chosen path to, and the choice by content.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "disklib/disklib_api.h"
#include "events/scan_source.h"

namespace tamsel {

using ScanSources = std::vector<std::unique_ptr<ScanSource>>;

// Every source, in one place. `diskTable` gives the disk library's table when a memory
// card is scanned (null while none is loaded).
ScanSources makeScanSources(std::function<const export_function_table*()> diskTable);

struct SourceChoice {
  ScanSource* source = nullptr;  // null: `error` says why
  std::string error;
};

// The one source that recognises `path` by its content. No source: "not a backup"; more
// than one: an error naming them, rather than a guess. Missing paths and special files other
// than block devices are refused before any source reads them; folders go to the probes.
SourceChoice chooseScanSource(const ScanSources& sources, const std::string& path);

}  // namespace tamsel
