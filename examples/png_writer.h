// Writes small true-colour PNG pictures (stored, uncompressed deflate blocks) for the
// sample backups: contact photos, an MMS picture, a content-store picture.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

namespace tamsel::examples {

struct Rgb {
  uint8_t r, g, b;
};

// A width x height PNG whose pixel (x, y) is `pixel(x, y)`.
std::vector<uint8_t> makePng(int width, int height, const std::function<Rgb(int, int)>& pixel);

}  // namespace tamsel::examples
