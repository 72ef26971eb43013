// The bundled sample iPhone backup (see iphone_sample.cpp for what it holds).
#pragma once

#include <filesystem>

namespace tamsel::examples {

// Writes the backup folder `folder` (created; it should not exist yet).
void writeIphoneSample(const std::filesystem::path& folder);

}  // namespace tamsel::examples
