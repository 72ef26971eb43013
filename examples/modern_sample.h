// The bundled sample of a recent phone's encrypted backup (see modern_sample.cpp).
#pragma once

#include <filesystem>
#include <string>

namespace tamsel::examples {

// The sample's password, also written beside it in "<folder>.password".
inline constexpr const char* kModernSamplePassword = "tamsel-sample";

// Writes the encrypted backup folder `folder` (it should not exist yet), using `scratch` (an
// empty folder, removed by the caller) for the clear backup it is made from.
void writeModernSample(const std::filesystem::path& folder, const std::filesystem::path& scratch);

}  // namespace tamsel::examples
