// JPEG through libjpeg-turbo's libjpeg API. The header read gives the size;
// pixels decode straight into BGRA rows, a strip at a time into one reused
// buffer, each strip handed on before the next is decoded. A crop decodes
// only its own rows (the rows above are skipped, those below never read) and
// columns (jpeg_crop_scanline, widened by the library to whole iMCUs). CMYK
// and YCCK files come out of the library as CMYK and are turned into RGB
// here, a strip at a time. The library's warnings become notes. libjpeg
// reports errors by calling error_exit, which longjmps back; the functions
// that call setjmp hold only plain C objects, and the C++ owners of the
// results (and the sink's answers) live in their callers.
#include <algorithm>
#include <csetjmp>
#include <cstdio>  // before jpeglib.h, which needs FILE and size_t
#include <cstdlib>
#include <cstring>

#include <jerror.h>
#include <jpeglib.h>

#include "platform/image/decoders.h"

namespace plat::image::detail {

namespace {

// The decoder's working memory (progressive coefficient buffers above all)
// is capped, so a tiny file cannot ask for gigabytes.
constexpr long kMaxDecoderMemory = 2L << 30;

struct ErrorManager {
  jpeg_error_mgr pub;
  std::jmp_buf jump;
  char message[JMSG_LENGTH_MAX];
  LibraryMessages* warnings;  // null while only the header is read
};

// A message the decoder code wrote itself before calling here is kept; only
// the library's own errors are formatted from its message code.
[[noreturn]] void onError(j_common_ptr cinfo) {
  auto* manager = reinterpret_cast<ErrorManager*>(cinfo->err);
  if (manager->message[0] == '\0') (*cinfo->err->format_message)(cinfo, manager->message);
  std::longjmp(manager->jump, 1);
}

// Warnings are kept for the notes (trace messages, level 0 and up, are
// not), except the end of the data arriving early: a truncated file is
// refused rather than shown with its missing part grey.
void onMessage(j_common_ptr cinfo, int level) {
  if (level >= 0) return;
  if (cinfo->err->msg_code == JWRN_JPEG_EOF) onError(cinfo);
  auto* manager = reinterpret_cast<ErrorManager*>(cinfo->err);
  if (manager->warnings == nullptr) return;
  char text[JMSG_LENGTH_MAX];
  (*cinfo->err->format_message)(cinfo, text);
  manager->warnings->add(text);
}

void onOutput(j_common_ptr /*cinfo*/) {}

void installErrors(jpeg_decompress_struct* cinfo, ErrorManager* manager, LibraryMessages* warnings) {
  cinfo->err = jpeg_std_error(&manager->pub);
  manager->pub.error_exit = onError;
  manager->pub.emit_message = onMessage;
  manager->pub.output_message = onOutput;
  manager->message[0] = '\0';
  manager->warnings = warnings;
}

struct Header {
  JDIMENSION width = 0;
  JDIMENSION height = 0;
};

bool readHeader(const Bytes& bytes, Header* header, char* message) {
  jpeg_decompress_struct cinfo;
  ErrorManager errors;
  std::memset(&cinfo, 0, sizeof cinfo);
  installErrors(&cinfo, &errors, nullptr);
  if (setjmp(errors.jump)) {
    std::memcpy(message, errors.message, JMSG_LENGTH_MAX);
    jpeg_destroy_decompress(&cinfo);
    return false;
  }
  jpeg_create_decompress(&cinfo);
  jpeg_mem_src(&cinfo, bytes.data.get(), static_cast<unsigned long>(bytes.size));
  jpeg_read_header(&cinfo, TRUE);
  header->width = cinfo.image_width;
  header->height = cinfo.image_height;
  jpeg_destroy_decompress(&cinfo);
  return true;
}

// The strip buffer of a region decode; malloc'ed, owned by the caller from
// the moment it is set, whether the decode then succeeds or not.
struct Region {
  std::uint8_t* buffer = nullptr;
};

// CMYK samples to BGRA in place. Files with an Adobe marker (Photoshop and
// libjpeg-turbo alike) store inverted inks, 255 meaning none; others store
// plain inks.
void cmykToBgra(std::uint8_t* row, int width, bool inverted) {
  for (int i = 0; i < width; ++i) {
    std::uint8_t* p = row + std::size_t(i) * 4;
    unsigned c = p[0], m = p[1], yl = p[2], k = p[3];
    if (!inverted) {
      c = 255 - c;
      m = 255 - m;
      yl = 255 - yl;
      k = 255 - k;
    }
    p[0] = static_cast<std::uint8_t>((yl * k + 127) / 255);
    p[1] = static_cast<std::uint8_t>((m * k + 127) / 255);
    p[2] = static_cast<std::uint8_t>((c * k + 127) / 255);
    p[3] = 255;
  }
}

// Decodes rows y ... y + h - 1, columns x ... x + w - 1, a strip at a time
// into out->buffer, and hands each strip to `outlet`. False with `message`
// set when the library fails, false with an empty message when the outlet
// refused a strip.
bool decodeRegion(const Bytes& bytes, int x, int y, int w, int h, Region* out, StripOutlet* outlet,
                  LibraryMessages* warnings, char* message) {
  jpeg_decompress_struct cinfo;
  ErrorManager errors;
  std::memset(&cinfo, 0, sizeof cinfo);
  installErrors(&cinfo, &errors, warnings);
  if (setjmp(errors.jump)) {
    std::memcpy(message, errors.message, JMSG_LENGTH_MAX);
    jpeg_destroy_decompress(&cinfo);
    return false;
  }
  jpeg_create_decompress(&cinfo);
  cinfo.mem->max_memory_to_use = kMaxDecoderMemory;
  jpeg_mem_src(&cinfo, bytes.data.get(), static_cast<unsigned long>(bytes.size));
  jpeg_read_header(&cinfo, TRUE);
  const bool cmyk = cinfo.jpeg_color_space == JCS_CMYK || cinfo.jpeg_color_space == JCS_YCCK;
  const bool adobeInverted = cinfo.saw_Adobe_marker != 0;
  cinfo.out_color_space = cmyk ? JCS_CMYK : JCS_EXT_BGRA;
  jpeg_start_decompress(&cinfo);
  if (cinfo.output_components != 4 || static_cast<JDIMENSION>(x + w) > cinfo.output_width ||
      static_cast<JDIMENSION>(y + h) > cinfo.output_height) {
    std::snprintf(errors.message, sizeof errors.message, "unexpected output layout");
    onError(reinterpret_cast<j_common_ptr>(&cinfo));
  }
  // The library upsamples chroma at the edges of a cropped scanline as if
  // they were the picture's edges; decoding a margin of up to one iMCU on
  // each side keeps the wanted columns identical to a full decode.
  const JDIMENSION margin = static_cast<JDIMENSION>(cinfo.max_h_samp_factor * DCTSIZE);
  JDIMENSION columnStart = static_cast<JDIMENSION>(x) > margin ? static_cast<JDIMENSION>(x) - margin : 0;
  JDIMENSION columns = std::min(cinfo.output_width, static_cast<JDIMENSION>(x + w) + margin) - columnStart;
  if (columns < cinfo.output_width) jpeg_crop_scanline(&cinfo, &columnStart, &columns);
  const std::size_t bytesPerRow = std::size_t{cinfo.output_width} * 4;
  const std::size_t firstColumn = static_cast<std::size_t>(x) - columnStart;
  const int rowsPerStrip = stripRows(bytesPerRow, h, cinfo.max_v_samp_factor * DCTSIZE);
  out->buffer = static_cast<std::uint8_t*>(std::malloc(bytesPerRow * static_cast<std::size_t>(rowsPerStrip)));
  if (out->buffer == nullptr) {
    std::snprintf(errors.message, sizeof errors.message, "out of memory");
    onError(reinterpret_cast<j_common_ptr>(&cinfo));
  }
  if (y > 0) {
    JDIMENSION skipped = jpeg_skip_scanlines(&cinfo, static_cast<JDIMENSION>(y));
    if (skipped != static_cast<JDIMENSION>(y)) {
      std::snprintf(errors.message, sizeof errors.message, "cannot skip to the crop's first row");
      onError(reinterpret_cast<j_common_ptr>(&cinfo));
    }
  }
  const JDIMENSION end = static_cast<JDIMENSION>(y + h);
  while (cinfo.output_scanline < end) {
    const int stripTop = static_cast<int>(cinfo.output_scanline) - y;
    const int count = std::min(rowsPerStrip, h - stripTop);
    int filled = 0;
    while (filled < count) {
      JSAMPROW rows[16];
      const int ask = std::min(count - filled, 16);
      for (int i = 0; i < ask; ++i) rows[i] = out->buffer + std::size_t(filled + i) * bytesPerRow;
      const JDIMENSION got = jpeg_read_scanlines(&cinfo, rows, static_cast<JDIMENSION>(ask));
      if (got == 0) {
        std::snprintf(errors.message, sizeof errors.message, "no scanlines");
        onError(reinterpret_cast<j_common_ptr>(&cinfo));
      }
      filled += static_cast<int>(got);
    }
    std::uint8_t* first = out->buffer + firstColumn * 4;
    if (cmyk) {
      for (int row = 0; row < count; ++row) cmykToBgra(first + std::size_t(row) * bytesPerRow, w, adobeInverted);
    }
    if (!outlet->put(PixelView{first, w, count, bytesPerRow, PixelOrder::BGRA}, stripTop)) {
      jpeg_destroy_decompress(&cinfo);
      return false;
    }
  }
  // The rows below the crop are never decoded; abandoning the decoder here
  // is what jpeg_destroy_decompress is for.
  jpeg_destroy_decompress(&cinfo);
  return true;
}

class JpegImage final : public LazyImage {
 public:
  JpegImage(SharedBytes bytes, int width, int height)
      : LazyImage(width, height, bytes->path), bytes_(std::move(bytes)) {}

 protected:
  ErrorOr<void> decodeRect(int x, int y, int w, int h, RowSink& sink) const override {
    Region region;
    StripOutlet outlet(sink);
    LibraryMessages warnings;
    char message[JMSG_LENGTH_MAX] = {};
    const bool ok = decodeRegion(*bytes_, x, y, w, h, &region, &outlet, &warnings, message);
    std::free(region.buffer);
    tellNotes(*bytes_, "jpeg", warnings);
    if (outlet.refusal()) return *outlet.refusal();
    if (!ok) return pictureError(*bytes_, "jpeg", message[0] != '\0' ? message : "decode failed");
    return {};
  }

 private:
  SharedBytes bytes_;
};

}  // namespace

OpenResult openJpeg(SharedBytes bytes) {
  Header header;
  char message[JMSG_LENGTH_MAX] = {};
  if (!readHeader(*bytes, &header, message)) {
    return pictureError(*bytes, "jpeg", message[0] != '\0' ? message : "cannot read the header");
  }
  if (!sizeAllowed(header.width, header.height)) {
    return pictureError(*bytes, "jpeg", sizeRefusal(header.width, header.height));
  }
  return std::make_shared<JpegImage>(std::move(bytes), static_cast<int>(header.width),
                                     static_cast<int>(header.height));
}

}  // namespace plat::image::detail
