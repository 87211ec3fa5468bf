// Makes the picture fixtures with the encoders themselves; see fixtures.h.
#include "image/fixtures.h"

#include <libheif/heif.h>
#include <png.h>
#include <tiffio.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <tuple>

#include <jpeglib.h>

#define STB_IMAGE_WRITE_IMPLEMENTATION
#define STB_IMAGE_WRITE_STATIC
#define STBI_WRITE_NO_STDIO
#include <stb/stb_image_write.h>

namespace fixtures {

namespace {

// Writes `n` bytes of v at `at`, most significant first when `big`.
void put(Bytes& file, std::size_t at, std::uint32_t v, int n, bool big) {
  for (int i = 0; i < n; ++i) file[at + std::size_t(i)] = std::uint8_t(v >> 8 * (big ? n - 1 - i : i));
}

void append(Bytes* out, const void* data, std::size_t size) {
  out->insert(out->end(), static_cast<const std::uint8_t*>(data), static_cast<const std::uint8_t*>(data) + size);
}

std::pair<png_structp, png_infop> pngWriter(Bytes* out) {
  png_structp p = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(p);
  png_set_write_fn(
      p, out, [](png_structp s, png_bytep d, png_size_t n) { append(static_cast<Bytes*>(png_get_io_ptr(s)), d, n); },
      nullptr);
  return {p, info};
}

// The primary item's extent is the last ispe property libheif writes.
Bytes withHeifSize(Bytes file, std::uint32_t width, std::uint32_t height) {
  const char ispe[] = "ispe";
  auto last = file.end();
  for (auto it = file.begin(); (it = std::search(it, file.end(), ispe, ispe + 4)) != file.end(); ++it) last = it;
  if (file.end() - last < 16) return file;
  const auto at = std::size_t(last - file.begin()) + 8;  // past the type and version/flags
  put(file, at, width, 4, true);
  put(file, at + 4, height, 4, true);
  return file;
}

}  // namespace

Bytes quadrants(int width, int height, std::uint8_t alpha) {
  Bytes out;
  for (int i = 0; i < width * height; ++i) {
    const bool top = i / width < height / 2, left = i % width < width / 2;
    const Rgba c = top ? (left ? kTopLeft : kTopRight) : (left ? kBottomLeft : kBottomRight);
    out.insert(out.end(), {c.r, c.g, c.b, top ? c.a : alpha});
  }
  return out;
}

Bytes gradient(int width, int height) {
  Bytes out;
  for (int i = 0, x = 0, y = 0; i < width * height; ++i, x = i % width, y = i / width) {
    out.insert(out.end(), {std::uint8_t(x * 255 / std::max(1, width - 1)),
                           std::uint8_t(y * 255 / std::max(1, height - 1)),
                           std::uint8_t(((x / 64 + y / 64) & 1) ? 200 : 40), 255});
  }
  return out;
}

Bytes jpeg(const Bytes& rgba, int width, int height, JpegKind kind, int quality) {
  jpeg_compress_struct c;
  jpeg_error_mgr errors;
  c.err = jpeg_std_error(&errors);
  jpeg_create_compress(&c);
  unsigned char* out = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&c, &out, &size);
  c.image_width = JDIMENSION(width);
  c.image_height = JDIMENSION(height);
  c.input_components = 4;
  c.in_color_space = JCS_EXT_RGBA;
  jpeg_set_defaults(&c);
  if (kind == JpegKind::Grey) jpeg_set_colorspace(&c, JCS_GRAYSCALE);
  if (kind == JpegKind::Progressive) jpeg_simple_progression(&c);
  jpeg_set_quality(&c, quality, TRUE);
  jpeg_start_compress(&c, TRUE);
  while (c.next_scanline < c.image_height) {
    JSAMPROW rows[1] = {const_cast<std::uint8_t*>(rgba.data()) + std::size_t(c.next_scanline) * std::size_t(width) * 4};
    jpeg_write_scanlines(&c, rows, 1);
  }
  jpeg_finish_compress(&c);
  jpeg_destroy_compress(&c);
  Bytes result(out, out + size);
  std::free(out);
  return result;
}

Bytes png(const Bytes& rgba, int width, int height, PngKind kind) {
  Bytes out;
  auto [p, info] = pngWriter(&out);
  const std::size_t channels = kind == PngKind::Rgba ? 4 : 3;
  png_set_IHDR(p, info, png_uint_32(width), png_uint_32(height), 8,
               channels == 4 ? PNG_COLOR_TYPE_RGB_ALPHA : PNG_COLOR_TYPE_RGB,
               kind == PngKind::RgbInterlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, 0, 0);
  png_write_info(p, info);
  Bytes image;
  for (std::size_t i = 0; i < rgba.size(); ++i) if (i % 4 < channels) image.push_back(rgba[i]);
  std::vector<png_bytep> rows;
  for (int y = 0; y < height; ++y) rows.push_back(image.data() + std::size_t(y * width) * channels);
  png_write_image(p, rows.data());
  png_write_end(p, info);
  png_destroy_write_struct(&p, &info);
  return out;
}

Bytes tiff(const Bytes& rgba, int width, int height, int orientation) {
  char path[] = "/tmp/quelltrine-fixture-XXXXXX";
  const int fd = mkstemp(path);
  if (fd < 0) return {};
  close(fd);
  TIFFSetWarningHandler(nullptr);
  TIFF* tif = TIFFOpen(path, "w");
  Bytes rgb;  // the first page; the second is black
  for (std::size_t i = 0; i < rgba.size(); ++i) if (i % 4 != 3) rgb.push_back(rgba[i]);
  for (int page = 0; tif != nullptr && page < 2; ++page) {
    for (auto [tag, v] : {std::pair{TIFFTAG_IMAGEWIDTH, width}, {TIFFTAG_IMAGELENGTH, height},
                          {TIFFTAG_SAMPLESPERPIXEL, 3}, {TIFFTAG_BITSPERSAMPLE, 8},
                          {TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB}, {TIFFTAG_COMPRESSION, COMPRESSION_LZW},
                          {TIFFTAG_ORIENTATION, page == 0 ? orientation : 1},
                          {TIFFTAG_SUBFILETYPE, page == 0 ? 0 : FILETYPE_PAGE}}) {
      TIFFSetField(tif, std::uint32_t(tag), v);
    }
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, 8);
    for (int y = 0; y < height; ++y) TIFFWriteScanline(tif, &rgb[std::size_t(y * width * 3)], std::uint32_t(y), 0);
    std::fill(rgb.begin(), rgb.end(), 0);
    TIFFWriteDirectory(tif);
  }
  if (tif != nullptr) TIFFClose(tif);
  Bytes bytes = readFile(path);
  unlink(path);
  return bytes;
}

Bytes heic(const Bytes& rgba, int width, int height, int orientation, int quality) {
  Bytes out;
  heif_context* context = heif_context_alloc();
  heif_encoder* encoder = nullptr;
  if (heif_context_get_encoder_for_format(context, heif_compression_HEVC, &encoder).code == heif_error_Ok) {
    heif_encoder_set_lossy_quality(encoder, quality);
    if (std::int64_t{width} * height > 1000000) heif_encoder_set_parameter(encoder, "preset", "ultrafast");
    heif_image* image = nullptr;
    heif_image_create(width, height, heif_colorspace_RGB, heif_chroma_interleaved_RGB, &image);
    heif_image_add_plane(image, heif_channel_interleaved, width, height, 8);
    int stride = 0;
    std::uint8_t* plane = heif_image_get_plane(image, heif_channel_interleaved, &stride);
    for (std::size_t i = 0; i < std::size_t(width) * std::size_t(height); ++i) {
      std::memcpy(plane + i / std::size_t(width) * std::size_t(stride) + i % std::size_t(width) * 3, &rgba[i * 4], 3);
    }
    heif_encoding_options* options = heif_encoding_options_alloc();
    options->image_orientation = static_cast<heif_orientation>(orientation);
    heif_writer writer{1, [](heif_context*, const void* data, size_t size, void* user) {
                         append(static_cast<Bytes*>(user), data, size);
                         return heif_error{heif_error_Ok, heif_suberror_Unspecified, ""};
                       }};
    if (heif_context_encode_image(context, image, encoder, options, nullptr).code != heif_error_Ok ||
        heif_context_write(context, &writer, &out).code != heif_error_Ok) {
      out.clear();
    }
    heif_encoding_options_free(options);
    heif_image_release(image);
    heif_encoder_release(encoder);
  }
  heif_context_free(context);
  // libheif 1.15 records a rotated extent (ispe); the standard has the coded size.
  if (orientation >= 5 && !out.empty()) out = withHeifSize(std::move(out), std::uint32_t(width), std::uint32_t(height));
  return out;
}

Bytes bmp(const Bytes& rgba, int width, int height, bool withAlpha) {
  Bytes out, pixels;
  for (std::size_t i = 0; i < rgba.size(); ++i) {
    if (withAlpha || i % 4 != 3) pixels.push_back(rgba[i]);
  }
  const auto write = [](void* to, void* data, int size) { append(static_cast<Bytes*>(to), data, std::size_t(size)); };
  stbi_write_bmp_to_func(write, &out, width, height, withAlpha ? 4 : 3, pixels.data());
  return out;
}

Bytes pngHeaderOnly(std::uint32_t width, std::uint32_t height) {
  Bytes file = png(quadrants(2, 2), 2, 2, PngKind::Rgba);  // IHDR: size at 16, CRC over 12..28 at 29
  put(file, 16, width, 4, true);
  put(file, 20, height, 4, true);
  std::uint32_t crc = 0xFFFFFFFFu;
  for (std::size_t i = 12; i < 29; ++i) {
    crc ^= file[i];
    for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  put(file, 29, ~crc, 4, true);
  return file;
}

Bytes pngOfZeros(int width, int height) {
  Bytes out;
  auto [p, info] = pngWriter(&out);
  png_set_IHDR(p, info, png_uint_32(width), png_uint_32(height), 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, 0, 0);
  png_set_compression_level(p, 9);
  png_set_filter(p, 0, PNG_FILTER_NONE);
  png_write_info(p, info);
  const Bytes row(std::size_t(width) * 3, 0);
  for (int y = 0; y < height; ++y) png_write_row(p, row.data());
  png_write_end(p, info);
  png_destroy_write_struct(&p, &info);
  return out;
}

std::vector<std::pair<std::string, Bytes>> all() {
  const int w = 64, h = 48;
  const Bytes q = quadrants(w, h), t = quadrants(w, h, 128);
  std::vector<std::pair<std::string, Bytes>> out = {
      {"baseline.jpg", jpeg(q, w, h, JpegKind::Baseline)}, {"progressive.jpg", jpeg(q, w, h, JpegKind::Progressive)},
      {"grey.jpg", jpeg(q, w, h, JpegKind::Grey)}, {"rgb.png", png(q, w, h, PngKind::Rgb)},
      {"rgba.png", png(t, w, h, PngKind::Rgba)}, {"two-pages.tiff", tiff(q, w, h)},
      {"bottom-up.tiff", tiff(q, w, h, 4)}, {"plain.heic", heic(q, w, h)}, {"rotated.heic", heic(q, w, h, 6)},
      {"rgb.bmp", bmp(q, w, h, false)}, {"rgba.bmp", bmp(t, w, h, true)},
      {"interlaced.png", png(q, w, h, PngKind::RgbInterlaced)}};
  Bytes jpg = out[0].second, rgb = out[3].second, tif = out[5].second, heif = out[7].second, bitmap = out[9].second;
  out.emplace_back("truncated.jpg", Bytes(jpg.begin(), jpg.begin() + long(jpg.size() / 2)));
  out.emplace_back("truncated.png", Bytes(rgb.begin(), rgb.begin() + long(rgb.size() / 2)));
  out.emplace_back("huge-header.png", pngHeaderOnly(100000, 100000));
  for (std::size_t at = 2; at + 9 < jpg.size(); at += 2 + std::size_t(jpg[at + 2] << 8 | jpg[at + 3])) {
    if (jpg[at + 1] == 0xC0) {  // the baseline frame header: height, then width, both 65500
      put(jpg, at + 5, 0xFFDCFFDCu, 4, true);
      break;
    }
  }
  out.emplace_back("huge-sof.jpg", jpg);
  out.emplace_back("huge-ispe.heic", heif.empty() ? heif : withHeifSize(heif, 100000, 100000));
  out.emplace_back("truncated.bmp", Bytes(bitmap.begin(), bitmap.begin() + long(bitmap.size() / 2)));
  put(bitmap, 18, 16384, 4, false);  // within the size caps, a gigabyte of pixels the file does not have
  put(bitmap, 22, 16384, 4, false);
  out.emplace_back("bomb.bmp", bitmap);
  put(bitmap, 18, 100000, 4, false);
  put(bitmap, 22, 100000, 4, false);
  out.emplace_back("huge.bmp", bitmap);
  const std::size_t ifd = std::size_t(tif[4] | tif[5] << 8 | tif[6] << 16 | tif[7] << 24);
  for (std::size_t e = ifd + 2; e < ifd + 2 + 12u * std::size_t(tif[ifd] | tif[ifd + 1] << 8); e += 12) {
    if ((tif[e] | tif[e + 1] << 8) == 256 || (tif[e] | tif[e + 1] << 8) == 257) {  // width, height as LONG
      put(tif, e + 2, 4, 2, false);
      put(tif, e + 8, 100000, 4, false);
    }
  }
  out.emplace_back("huge.tiff", tif);
  Bytes rle(54 + 4 * 256 + 2, 0);  // an RLE8 BMP of 16384 x 16384 whose only run ends the picture
  rle[0] = 'B', rle[1] = 'M', rle.back() = 1;
  for (auto [at, v, n] : {std::tuple{2, 1080u, 4}, {10, 1078u, 4}, {14, 40u, 4}, {18, 16384u, 4}, {22, 16384u, 4},
                          {26, 1u, 2}, {28, 8u, 2}, {30, 1u, 4}}) {
    put(rle, std::size_t(at), v, n, false);
  }
  out.emplace_back("rle-bomb.bmp", rle);
  put(rle, 18, 64, 4, false);
  put(rle, 22, std::uint32_t(-48), 4, false);  // top-down, which run-length pictures cannot be
  out.emplace_back("rle-top-down.bmp", rle);
  put(rle, 22, 48, 4, false);
  put(rle, 14, 0x960C3952u, 4, false);  // a header of 2.5 GB in a file of 1 kB
  out.emplace_back("rle-huge-header.bmp", rle);
  out.emplace_back("empty.jpg", Bytes{});
  out.emplace_back("text.jpg", Bytes{'h', 'e', 'l', 'l', 'o', '\n'});
  return out;
}

bool writeFile(const std::string& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
  return bool(out);
}

Bytes readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace fixtures
