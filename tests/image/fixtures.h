// Picture files the tests, benchmarks and fuzz corpus use, made on the spot
// with the real encoders (libjpeg-turbo, libpng, libtiff, libheif with its
// x265 plugin, stb_image_write), so that no third-party picture is needed.
// Most show a four-colour pattern whose quadrants tell the channel order and
// any flip or rotation apart; the malformed ones are damaged copies of them.
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

// The quadrant colours: top-left red, top-right green, bottom-left blue,
// bottom-right white.
inline constexpr Rgba kTopLeft{255, 0, 0, 255};
inline constexpr Rgba kTopRight{0, 255, 0, 255};
inline constexpr Rgba kBottomLeft{0, 0, 255, 255};
inline constexpr Rgba kBottomRight{255, 255, 255, 255};

// Straight RGBA rows of the quadrant pattern; `alpha` sets the alpha of the
// bottom half (the top half stays opaque).
Bytes quadrants(int width, int height, std::uint8_t alpha = 255);
// A smooth pattern that compresses like a photograph (for large files).
Bytes gradient(int width, int height);

enum class JpegKind { Baseline, Progressive, Grey, CmykAdobe, CmykPlain };
Bytes jpeg(const Bytes& rgba, int width, int height, JpegKind kind, int quality = 95);

enum class PngKind { Rgb, Rgba, Grey, GreyAlpha, Palette, PaletteAlpha, Rgb16, Rgba16, Interlaced, Grey1 };
Bytes png(const Bytes& rgba, int width, int height, PngKind kind);

// A TIFF with two pages: the pattern first, an all-black page second.
// `orientation` (1 ... 8) is written as the first page's Orientation tag.
Bytes tiff(const Bytes& rgba, int width, int height, int orientation = 1, bool withAlpha = false);

// A HEIC encoded by x265; `orientation` (EXIF numbering, 1 = none) is stored
// as irot/imir properties by libheif (its extent then corrected to the coded
// size, which libheif 1.15 records rotated). Empty when no HEVC encoder exists.
Bytes heic(const Bytes& rgba, int width, int height, int orientation = 1, int quality = 90);

Bytes bmp(const Bytes& rgba, int width, int height, bool withAlpha);

// Damaged and absurd files.
Bytes pngHeaderOnly(std::uint32_t width, std::uint32_t height);  // valid IHDR (CRC right), no usable pixels
Bytes withJpegSize(Bytes jpegFile, std::uint16_t width, std::uint16_t height);  // rewrites the SOF size
Bytes withHeifSize(Bytes heifFile, std::uint32_t width, std::uint32_t height);  // rewrites the primary ispe
Bytes withBmpSize(Bytes bmpFile, std::int32_t width, std::int32_t height);
Bytes tiffHeaderOnly(std::uint32_t width, std::uint32_t height);  // uncompressed grey, strips missing
Bytes truncated(const Bytes& file, std::size_t keep);

// A named set of every well-formed and malformed fixture (the fuzz corpus).
std::vector<std::pair<std::string, Bytes>> all();

bool writeFile(const std::string& path, const Bytes& bytes);
Bytes readFile(const std::string& path);

}  // namespace fixtures
