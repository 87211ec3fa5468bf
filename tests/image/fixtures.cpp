// Makes the picture fixtures with the encoders themselves; see fixtures.h.
#include "image/fixtures.h"

#include <libheif/heif.h>
#include <png.h>
#include <tiffio.h>
#include <turbojpeg.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>

#include <jpeglib.h>

#define STB_IMAGE_WRITE_IMPLEMENTATION
#define STB_IMAGE_WRITE_STATIC
#define STBI_WRITE_NO_STDIO
#include <stb/stb_image_write.h>

namespace fixtures {

namespace {

Rgba quadrantColour(int x, int y, int width, int height) {
  const bool top = y < height / 2;
  const bool left = x < width / 2;
  if (top) return left ? kTopLeft : kTopRight;
  return left ? kBottomLeft : kBottomRight;
}

std::uint8_t lumaOf(std::uint8_t r, std::uint8_t g, std::uint8_t b) {
  return static_cast<std::uint8_t>((77u * r + 150u * g + 29u * b + 128u) >> 8);
}

// libjpeg-turbo's CMYK convention (Adobe's): 255 means no ink.
void rgbToInvertedCmyk(const std::uint8_t* rgb, std::uint8_t* cmyk) {
  const double c = 1.0 - rgb[0] / 255.0, m = 1.0 - rgb[1] / 255.0, y = 1.0 - rgb[2] / 255.0;
  const double k = std::min({c, m, y});
  double cc = 0, mm = 0, yy = 0;
  if (k < 1.0) {
    cc = (c - k) / (1.0 - k);
    mm = (m - k) / (1.0 - k);
    yy = (y - k) / (1.0 - k);
  }
  cmyk[0] = static_cast<std::uint8_t>(255.0 - cc * 255.0 + 0.5);
  cmyk[1] = static_cast<std::uint8_t>(255.0 - mm * 255.0 + 0.5);
  cmyk[2] = static_cast<std::uint8_t>(255.0 - yy * 255.0 + 0.5);
  cmyk[3] = static_cast<std::uint8_t>(255.0 - k * 255.0 + 0.5);
}

// Plain inks with no Adobe marker, written through the libjpeg API since
// TurboJPEG always writes Adobe's inverted YCCK.
Bytes plainCmykJpeg(const Bytes& rgba, int width, int height, int quality) {
  jpeg_compress_struct cinfo;
  jpeg_error_mgr errors;
  cinfo.err = jpeg_std_error(&errors);
  jpeg_create_compress(&cinfo);
  unsigned char* out = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&cinfo, &out, &size);
  cinfo.image_width = static_cast<JDIMENSION>(width);
  cinfo.image_height = static_cast<JDIMENSION>(height);
  cinfo.input_components = 4;
  cinfo.in_color_space = JCS_CMYK;
  jpeg_set_defaults(&cinfo);
  jpeg_set_colorspace(&cinfo, JCS_CMYK);
  cinfo.write_Adobe_marker = FALSE;
  jpeg_set_quality(&cinfo, quality, TRUE);
  jpeg_start_compress(&cinfo, TRUE);
  std::vector<std::uint8_t> row(std::size_t(width) * 4);
  while (cinfo.next_scanline < cinfo.image_height) {
    const std::uint8_t* in = rgba.data() + std::size_t(cinfo.next_scanline) * width * 4;
    for (int x = 0; x < width; ++x) {
      std::uint8_t inverted[4];
      rgbToInvertedCmyk(in + x * 4, inverted);
      for (int c = 0; c < 4; ++c) row[std::size_t(x) * 4 + c] = static_cast<std::uint8_t>(255 - inverted[c]);
    }
    JSAMPROW rows[1] = {row.data()};
    jpeg_write_scanlines(&cinfo, rows, 1);
  }
  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);
  Bytes result(out, out + size);
  std::free(out);
  return result;
}

void appendPng(png_structp png, png_bytep data, png_size_t length) {
  auto* out = static_cast<Bytes*>(png_get_io_ptr(png));
  out->insert(out->end(), data, data + length);
}

std::uint32_t crc32(const std::uint8_t* data, std::size_t size) {
  std::uint32_t crc = 0xFFFFFFFFu;
  for (std::size_t i = 0; i < size; ++i) {
    crc ^= data[i];
    for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  return ~crc;
}

void putBe32(Bytes& out, std::uint32_t v) {
  for (int s = 24; s >= 0; s -= 8) out.push_back(static_cast<std::uint8_t>(v >> s));
}

void putLe16(Bytes& out, std::uint16_t v) {
  out.push_back(static_cast<std::uint8_t>(v));
  out.push_back(static_cast<std::uint8_t>(v >> 8));
}

void putLe32(Bytes& out, std::uint32_t v) {
  for (int s = 0; s <= 24; s += 8) out.push_back(static_cast<std::uint8_t>(v >> s));
}

void pngChunk(Bytes& out, const char* type, const Bytes& payload) {
  putBe32(out, static_cast<std::uint32_t>(payload.size()));
  const std::size_t start = out.size();
  out.insert(out.end(), type, type + 4);
  out.insert(out.end(), payload.begin(), payload.end());
  putBe32(out, crc32(out.data() + start, out.size() - start));
}

heif_error appendHeif(heif_context* /*ctx*/, const void* data, size_t size, void* user) {
  auto* out = static_cast<Bytes*>(user);
  const auto* bytes = static_cast<const std::uint8_t*>(data);
  out->insert(out->end(), bytes, bytes + size);
  return heif_error{heif_error_Ok, heif_suberror_Unspecified, ""};
}

void appendStb(void* user, void* data, int size) {
  auto* out = static_cast<Bytes*>(user);
  const auto* bytes = static_cast<const std::uint8_t*>(data);
  out->insert(out->end(), bytes, bytes + size);
}

}  // namespace

Bytes quadrants(int width, int height, std::uint8_t alpha) {
  Bytes out(std::size_t(width) * height * 4);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      Rgba c = quadrantColour(x, y, width, height);
      if (y >= height / 2) c.a = alpha;
      std::uint8_t* p = out.data() + (std::size_t(y) * width + x) * 4;
      p[0] = c.r;
      p[1] = c.g;
      p[2] = c.b;
      p[3] = c.a;
    }
  }
  return out;
}

Bytes gradient(int width, int height) {
  Bytes out(std::size_t(width) * height * 4);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      std::uint8_t* p = out.data() + (std::size_t(y) * width + x) * 4;
      p[0] = static_cast<std::uint8_t>(x * 255 / std::max(1, width - 1));
      p[1] = static_cast<std::uint8_t>(y * 255 / std::max(1, height - 1));
      p[2] = static_cast<std::uint8_t>(((x / 64 + y / 64) & 1) ? 200 : 40);
      p[3] = 255;
    }
  }
  return out;
}

Bytes jpeg(const Bytes& rgba, int width, int height, JpegKind kind, int quality) {
  if (kind == JpegKind::CmykPlain) return plainCmykJpeg(rgba, width, height, quality);
  tjhandle tj = tjInitCompress();
  unsigned char* out = nullptr;
  unsigned long size = 0;
  int flags = TJFLAG_ACCURATEDCT;
  if (kind == JpegKind::Progressive) flags |= TJFLAG_PROGRESSIVE;
  int result = 0;
  if (kind == JpegKind::CmykAdobe) {
    Bytes cmyk(rgba.size());
    for (std::size_t i = 0; i < rgba.size(); i += 4) rgbToInvertedCmyk(rgba.data() + i, cmyk.data() + i);
    result = tjCompress2(tj, cmyk.data(), width, 0, height, TJPF_CMYK, &out, &size, TJSAMP_444, quality, flags);
  } else {
    const int subsampling = kind == JpegKind::Grey ? TJSAMP_GRAY : TJSAMP_420;
    result = tjCompress2(tj, rgba.data(), width, 0, height, TJPF_RGBA, &out, &size, subsampling, quality, flags);
  }
  Bytes bytes;
  if (result == 0) bytes.assign(out, out + size);
  tjFree(out);
  tjDestroy(tj);
  return bytes;
}

Bytes png(const Bytes& rgba, int width, int height, PngKind kind) {
  Bytes out;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  png_set_write_fn(png, &out, appendPng, nullptr);
  int colourType = PNG_COLOR_TYPE_RGB;
  int depth = 8;
  int channels = 3;
  switch (kind) {
    case PngKind::Rgb: break;
    case PngKind::Interlaced: break;
    case PngKind::Rgba: colourType = PNG_COLOR_TYPE_RGB_ALPHA; channels = 4; break;
    case PngKind::Grey: colourType = PNG_COLOR_TYPE_GRAY; channels = 1; break;
    case PngKind::Grey1: colourType = PNG_COLOR_TYPE_GRAY; channels = 1; depth = 1; break;
    case PngKind::GreyAlpha: colourType = PNG_COLOR_TYPE_GRAY_ALPHA; channels = 2; break;
    case PngKind::Palette:
    case PngKind::PaletteAlpha: colourType = PNG_COLOR_TYPE_PALETTE; channels = 1; break;
    case PngKind::Rgb16: depth = 16; break;
    case PngKind::Rgba16: colourType = PNG_COLOR_TYPE_RGB_ALPHA; channels = 4; depth = 16; break;
  }
  png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), depth, colourType,
               kind == PngKind::Interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  // Palette: the four quadrant colours, bottom half with the pattern's alpha.
  std::vector<Rgba> palette = {kTopLeft, kTopRight, kBottomLeft, kBottomRight};
  if (colourType == PNG_COLOR_TYPE_PALETTE) {
    png_color entries[4];
    png_byte alphas[4];
    for (int i = 0; i < 4; ++i) {
      entries[i] = png_color{palette[i].r, palette[i].g, palette[i].b};
      alphas[i] = i < 2 ? 255 : rgba[(std::size_t(height - 1) * width) * 4 + 3];
    }
    png_set_PLTE(png, info, entries, 4);
    if (kind == PngKind::PaletteAlpha) png_set_tRNS(png, info, alphas, 4, nullptr);
  }
  png_write_info(png, info);
  if (depth == 1) png_set_packing(png);
  const std::size_t sampleBytes = depth == 16 ? 2 : 1;
  const std::size_t rowBytes = std::size_t(width) * channels * sampleBytes;
  Bytes image(rowBytes * height);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const std::uint8_t* p = rgba.data() + (std::size_t(y) * width + x) * 4;
      std::uint8_t samples[4] = {p[0], p[1], p[2], p[3]};
      const std::uint8_t grey = lumaOf(p[0], p[1], p[2]);
      std::uint8_t* q = image.data() + y * rowBytes + std::size_t(x) * channels * sampleBytes;
      if (colourType == PNG_COLOR_TYPE_PALETTE) {
        q[0] = static_cast<std::uint8_t>((y < height / 2 ? 0 : 2) + (x < width / 2 ? 0 : 1));
        continue;
      }
      if (channels <= 2) {
        samples[0] = depth == 1 ? (grey > 127 ? 1 : 0) : grey;
        samples[1] = p[3];
      }
      for (int c = 0; c < channels; ++c) {
        if (sampleBytes == 2) {
          // 16-bit samples: v * 257 plus a low byte that rounding must not
          // carry into the high one.
          const unsigned v = samples[c] * 257u;
          q[c * 2] = static_cast<std::uint8_t>(v >> 8);
          q[c * 2 + 1] = static_cast<std::uint8_t>(v);
        } else {
          q[c] = samples[c];
        }
      }
    }
  }
  std::vector<png_bytep> rows(static_cast<std::size_t>(height));
  for (int y = 0; y < height; ++y) rows[static_cast<std::size_t>(y)] = image.data() + y * rowBytes;
  png_write_image(png, rows.data());
  png_write_end(png, info);
  png_destroy_write_struct(&png, &info);
  return out;
}

Bytes tiff(const Bytes& rgba, int width, int height, int orientation, bool withAlpha) {
  char path[] = "/tmp/quelltrine-fixture-XXXXXX";
  const int fd = mkstemp(path);
  if (fd < 0) return {};
  close(fd);
  TIFFSetWarningHandler(nullptr);
  TIFF* tif = TIFFOpen(path, "w");
  if (tif == nullptr) return {};
  for (int page = 0; page < 2; ++page) {
    const int channels = withAlpha ? 4 : 3;
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, static_cast<std::uint32_t>(width));
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, static_cast<std::uint32_t>(height));
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, channels);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_LZW);
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, 8);
    if (withAlpha) {
      std::uint16_t extra[1] = {EXTRASAMPLE_UNASSALPHA};
      TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, 1, extra);
    }
    if (page == 0) TIFFSetField(tif, TIFFTAG_ORIENTATION, orientation);
    TIFFSetField(tif, TIFFTAG_SUBFILETYPE, page == 0 ? 0 : FILETYPE_PAGE);
    std::vector<std::uint8_t> row(std::size_t(width) * channels);
    for (int y = 0; y < height; ++y) {
      for (int x = 0; x < width; ++x) {
        const std::uint8_t* p = rgba.data() + (std::size_t(y) * width + x) * 4;
        for (int c = 0; c < channels; ++c) row[std::size_t(x) * channels + c] = page == 0 ? p[c] : (c == 3 ? 255 : 0);
      }
      TIFFWriteScanline(tif, row.data(), static_cast<std::uint32_t>(y), 0);
    }
    TIFFWriteDirectory(tif);
  }
  TIFFClose(tif);
  Bytes bytes = readFile(path);
  unlink(path);
  return bytes;
}

Bytes heic(const Bytes& rgba, int width, int height, int orientation, int quality) {
  Bytes out;
  heif_context* context = heif_context_alloc();
  heif_encoder* encoder = nullptr;
  if (heif_context_get_encoder_for_format(context, heif_compression_HEVC, &encoder).code != heif_error_Ok) {
    heif_context_free(context);
    return out;
  }
  heif_encoder_set_lossy_quality(encoder, quality);
  // Large pictures (benchmark inputs) are encoded fast rather than small.
  if (std::int64_t{width} * height > 1000000) heif_encoder_set_parameter(encoder, "preset", "ultrafast");
  heif_image* image = nullptr;
  heif_image_create(width, height, heif_colorspace_RGB, heif_chroma_interleaved_RGB, &image);
  heif_image_add_plane(image, heif_channel_interleaved, width, height, 8);
  int stride = 0;
  std::uint8_t* plane = heif_image_get_plane(image, heif_channel_interleaved, &stride);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const std::uint8_t* p = rgba.data() + (std::size_t(y) * width + x) * 4;
      std::memcpy(plane + std::size_t(y) * stride + std::size_t(x) * 3, p, 3);
    }
  }
  heif_encoding_options* options = heif_encoding_options_alloc();
  options->image_orientation = static_cast<heif_orientation>(orientation);
  heif_image_handle* handle = nullptr;
  heif_error result = heif_context_encode_image(context, image, encoder, options, &handle);
  if (result.code == heif_error_Ok) {
    heif_writer writer{1, appendHeif};
    if (heif_context_write(context, &writer, &out).code != heif_error_Ok) out.clear();
  }
  if (handle != nullptr) heif_image_handle_release(handle);
  heif_encoding_options_free(options);
  // libheif 1.15 records a rotated image's extent (ispe) in its displayed,
  // rotated size, while the standard has the size before transformations.
  // Put the coded size back.
  if (orientation >= 5 && !out.empty()) out = withHeifSize(std::move(out), static_cast<std::uint32_t>(width),
                                                            static_cast<std::uint32_t>(height));
  return out;
}

Bytes bmp(const Bytes& rgba, int width, int height, bool withAlpha) {
  Bytes out;
  if (withAlpha) {
    stbi_write_bmp_to_func(appendStb, &out, width, height, 4, rgba.data());
  } else {
    Bytes rgb(std::size_t(width) * height * 3);
    for (std::size_t i = 0, j = 0; i < rgba.size(); i += 4, j += 3) std::memcpy(rgb.data() + j, rgba.data() + i, 3);
    stbi_write_bmp_to_func(appendStb, &out, width, height, 3, rgb.data());
  }
  return out;
}

Bytes pngHeaderOnly(std::uint32_t width, std::uint32_t height) {
  Bytes out = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  Bytes ihdr;
  putBe32(ihdr, width);
  putBe32(ihdr, height);
  ihdr.insert(ihdr.end(), {8, 6, 0, 0, 0});  // 8-bit RGBA, no interlace
  pngChunk(out, "IHDR", ihdr);
  pngChunk(out, "IDAT", Bytes{0x78, 0x9C, 0x03, 0x00});
  pngChunk(out, "IEND", Bytes{});
  return out;
}

Bytes withJpegSize(Bytes file, std::uint16_t width, std::uint16_t height) {
  std::size_t at = 2;
  while (at + 9 < file.size() && file[at] == 0xFF) {
    const std::uint8_t marker = file[at + 1];
    const std::size_t length = (std::size_t{file[at + 2]} << 8) | file[at + 3];
    if (marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC) {
      file[at + 5] = static_cast<std::uint8_t>(height >> 8);
      file[at + 6] = static_cast<std::uint8_t>(height);
      file[at + 7] = static_cast<std::uint8_t>(width >> 8);
      file[at + 8] = static_cast<std::uint8_t>(width);
      break;
    }
    at += 2 + length;
  }
  return file;
}

Bytes withHeifSize(Bytes file, std::uint32_t width, std::uint32_t height) {
  // The primary item's extent is the last ispe property libheif writes (a
  // grid's tiles come first).
  static const char kIspe[] = "ispe";
  auto last = file.end();
  for (auto it = std::search(file.begin(), file.end(), kIspe, kIspe + 4); it != file.end();
       it = std::search(it + 4, file.end(), kIspe, kIspe + 4)) {
    last = it;
  }
  if (last == file.end() || file.end() - last < 16) return file;
  std::uint8_t* p = &*last + 8;  // past the type and the version/flags word
  for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(width >> (24 - 8 * i));
  for (int i = 0; i < 4; ++i) p[4 + i] = static_cast<std::uint8_t>(height >> (24 - 8 * i));
  return file;
}

Bytes withBmpSize(Bytes file, std::int32_t width, std::int32_t height) {
  if (file.size() < 26) return file;
  for (int i = 0; i < 4; ++i) file[18 + i] = static_cast<std::uint8_t>(static_cast<std::uint32_t>(width) >> (8 * i));
  for (int i = 0; i < 4; ++i) file[22 + i] = static_cast<std::uint8_t>(static_cast<std::uint32_t>(height) >> (8 * i));
  return file;
}

Bytes tiffHeaderOnly(std::uint32_t width, std::uint32_t height) {
  Bytes out = {'I', 'I', 42, 0};
  putLe32(out, 8);
  struct Entry {
    std::uint16_t tag, type;
    std::uint32_t value;
  };
  const std::uint32_t dataOffset = 8 + 2 + 9 * 12 + 4;
  const Entry entries[] = {{256, 4, width}, {257, 4, height}, {258, 3, 8},          {259, 3, 1},
                           {262, 3, 1},     {273, 4, dataOffset}, {277, 3, 1}, {278, 4, height},
                           {279, 4, 16}};
  putLe16(out, 9);
  for (const Entry& e : entries) {
    putLe16(out, e.tag);
    putLe16(out, e.type);
    putLe32(out, 1);
    if (e.type == 3) {
      putLe16(out, static_cast<std::uint16_t>(e.value));
      putLe16(out, 0);
    } else {
      putLe32(out, e.value);
    }
  }
  putLe32(out, 0);
  out.resize(out.size() + 16, 0x80);
  return out;
}

Bytes truncated(const Bytes& file, std::size_t keep) { return Bytes(file.begin(), file.begin() + std::min(keep, file.size())); }

std::vector<std::pair<std::string, Bytes>> all() {
  const int w = 64, h = 48;
  const Bytes pattern = quadrants(w, h);
  const Bytes translucent = quadrants(w, h, 128);
  std::vector<std::pair<std::string, Bytes>> out;
  out.emplace_back("baseline.jpg", jpeg(pattern, w, h, JpegKind::Baseline));
  out.emplace_back("progressive.jpg", jpeg(pattern, w, h, JpegKind::Progressive));
  out.emplace_back("grey.jpg", jpeg(pattern, w, h, JpegKind::Grey));
  out.emplace_back("cmyk-adobe.jpg", jpeg(pattern, w, h, JpegKind::CmykAdobe));
  out.emplace_back("cmyk-plain.jpg", jpeg(pattern, w, h, JpegKind::CmykPlain));
  out.emplace_back("rgb.png", png(pattern, w, h, PngKind::Rgb));
  out.emplace_back("rgba.png", png(translucent, w, h, PngKind::Rgba));
  out.emplace_back("grey.png", png(pattern, w, h, PngKind::Grey));
  out.emplace_back("grey1.png", png(pattern, w, h, PngKind::Grey1));
  out.emplace_back("grey-alpha.png", png(translucent, w, h, PngKind::GreyAlpha));
  out.emplace_back("palette.png", png(pattern, w, h, PngKind::Palette));
  out.emplace_back("palette-alpha.png", png(translucent, w, h, PngKind::PaletteAlpha));
  out.emplace_back("rgb16.png", png(pattern, w, h, PngKind::Rgb16));
  out.emplace_back("rgba16.png", png(translucent, w, h, PngKind::Rgba16));
  out.emplace_back("interlaced.png", png(pattern, w, h, PngKind::Interlaced));
  out.emplace_back("two-pages.tiff", tiff(pattern, w, h));
  out.emplace_back("bottom-up.tiff", tiff(pattern, w, h, 4));
  out.emplace_back("alpha.tiff", tiff(translucent, w, h, 1, true));
  out.emplace_back("plain.heic", heic(pattern, w, h));
  out.emplace_back("rotated.heic", heic(pattern, w, h, 6));
  out.emplace_back("rgb.bmp", bmp(pattern, w, h, false));
  out.emplace_back("rgba.bmp", bmp(translucent, w, h, true));
  const Bytes baseline = out[0].second;
  out.emplace_back("truncated.jpg", truncated(baseline, baseline.size() / 2));
  out.emplace_back("truncated.png", truncated(out[5].second, out[5].second.size() / 2));
  out.emplace_back("huge-header.png", pngHeaderOnly(100000, 100000));
  out.emplace_back("huge-sof.jpg", withJpegSize(baseline, 65500, 65500));
  out.emplace_back("huge-ispe.heic", withHeifSize(out[18].second, 100000, 100000));
  out.emplace_back("huge.bmp", withBmpSize(out[20].second, 100000, 100000));
  out.emplace_back("huge.tiff", tiffHeaderOnly(100000, 100000));
  out.emplace_back("empty.jpg", Bytes{});
  out.emplace_back("text.jpg", Bytes{'h', 'e', 'l', 'l', 'o', '\n'});
  return out;
}

bool writeFile(const std::string& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out);
}

Bytes readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace fixtures
