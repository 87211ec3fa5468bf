// Picture files for the tests, benchmarks and fuzz corpus, made with the real encoders: four quadrants
// whose colours tell channel order, flips and rotations apart; the malformed ones are damaged copies.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace fixtures {

using Bytes = std::vector<std::uint8_t>;

struct Rgba {
  std::uint8_t r = 0, g = 0, b = 0, a = 255;
};
inline constexpr Rgba kTopLeft{255, 0, 0, 255}, kTopRight{0, 255, 0, 255}, kBottomLeft{0, 0, 255, 255},
    kBottomRight{255, 255, 255, 255};

// RGBA rows of the quadrants; the bottom half has alpha `alpha`.
Bytes quadrants(int width, int height, std::uint8_t alpha = 255);
Bytes gradient(int width, int height);  // compresses like a photograph

enum class JpegKind { Baseline, Progressive, Grey };
Bytes jpeg(const Bytes& rgba, int width, int height, JpegKind kind, int quality = 95);
enum class PngKind { Rgb, Rgba, RgbInterlaced };
Bytes png(const Bytes& rgba, int width, int height, PngKind kind);
// Two pages, the second all black; `orientation` tags the first. Strips of 8 rows.
Bytes tiff(const Bytes& rgba, int width, int height, int orientation = 1);
// `orientation` (EXIF numbering) is stored as irot/imir. Empty without an HEVC encoder.
Bytes heic(const Bytes& rgba, int width, int height, int orientation = 1, int quality = 90);
Bytes bmp(const Bytes& rgba, int width, int height, bool withAlpha);
Bytes pngHeaderOnly(std::uint32_t width, std::uint32_t height);  // valid IHDR, no usable pixels
// An RGB PNG of black rows, as small as deflate makes it: a thousand times smaller than its pixels.
Bytes pngOfZeros(int width, int height);

// Every well-formed (64x48) and malformed fixture by name: the fuzz seed corpus.
std::vector<std::pair<std::string, Bytes>> all();

bool writeFile(const std::string& path, const Bytes& bytes);
Bytes readFile(const std::string& path);

}  // namespace fixtures
