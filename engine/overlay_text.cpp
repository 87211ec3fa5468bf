// Text rendering for the overlay (see overlay_text.h).
#include "engine/overlay_text.h"

#include <cairo.h>
#include <glib.h>
#include <pango/pangocairo.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>

namespace quelltrine::engine {
namespace {

template <class T, void (*Free)(T*)>
struct Deleter {
  void operator()(T* p) const {
    if (p) Free(p);
  }
};
using Surface = std::unique_ptr<cairo_surface_t, Deleter<cairo_surface_t, cairo_surface_destroy>>;
using Context = std::unique_ptr<cairo_t, Deleter<cairo_t, cairo_destroy>>;
void unrefLayout(PangoLayout* layout) { g_object_unref(layout); }
using Layout = std::unique_ptr<PangoLayout, Deleter<PangoLayout, unrefLayout>>;
using Font = std::unique_ptr<PangoFontDescription, Deleter<PangoFontDescription, pango_font_description_free>>;

// Pango wants valid UTF-8; a notice may carry a folder name that is not.
std::string validUtf8(const std::string& text) {
  char* valid = g_utf8_make_valid(text.data(), static_cast<gssize>(text.size()));
  std::string out = valid != nullptr ? valid : "";
  g_free(valid);
  return out;
}

Layout makeLayout(cairo_t* cr, const std::string& text, double pixels, int maxWidth) {
  Layout layout(pango_cairo_create_layout(cr));
  if (maxWidth > 0) {
    pango_layout_set_width(layout.get(), maxWidth * PANGO_SCALE);
    pango_layout_set_wrap(layout.get(), PANGO_WRAP_WORD_CHAR);
  }
  Font font(pango_font_description_from_string("Monospace"));
  pango_font_description_set_absolute_size(font.get(), pixels * PANGO_SCALE);
  pango_layout_set_font_description(layout.get(), font.get());
  pango_layout_set_text(layout.get(), text.c_str(), static_cast<int>(text.size()));
  return layout;
}

}  // namespace

plat::gpu::OverlayImage renderOverlayText(const std::vector<std::string>& lines, double scale, int maxWidth) {
  if (lines.empty()) return {};
  if (!(scale >= 1.0) || !std::isfinite(scale)) scale = 1.0;
  std::string text;
  for (const auto& line : lines) {
    if (!text.empty()) text += '\n';
    text += validUtf8(line);
  }

  // Measure on a scratch surface, then draw on one of the text's size plus
  // room for the outline.
  Surface scratch(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 1, 1));
  Context measure(cairo_create(scratch.get()));
  const double outline = std::max(1.0, std::round(1.5 * scale));
  const int pad = static_cast<int>(std::ceil(outline)) + 1;
  const int textWidth = maxWidth > 0 ? std::max(1, maxWidth - 2 * pad) : 0;
  Layout probe = makeLayout(measure.get(), text, kOverlayTextPixels * scale, textWidth);
  PangoRectangle ink{}, logical{};
  pango_layout_get_pixel_extents(probe.get(), &ink, &logical);
  const int width = logical.width + 2 * pad;
  const int height = logical.height + 2 * pad;
  if (logical.width <= 0 || logical.height <= 0 || width > 4096 || height > 4096) return {};

  Surface surface(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, height));
  if (cairo_surface_status(surface.get()) != CAIRO_STATUS_SUCCESS) return {};
  Context cr(cairo_create(surface.get()));
  Layout layout = makeLayout(cr.get(), text, kOverlayTextPixels * scale, textWidth);
  cairo_move_to(cr.get(), pad - logical.x, pad - logical.y);
  pango_cairo_layout_path(cr.get(), layout.get());
  cairo_set_line_join(cr.get(), CAIRO_LINE_JOIN_ROUND);
  cairo_set_line_width(cr.get(), 2.0 * outline);
  cairo_set_source_rgba(cr.get(), 0.0, 0.0, 0.0, 0.85);
  cairo_stroke_preserve(cr.get());
  cairo_set_source_rgb(cr.get(), 1.0, 1.0, 1.0);
  cairo_fill(cr.get());
  cairo_surface_flush(surface.get());

  // Cairo's ARGB32 is premultiplied, one native-endian 32-bit word per
  // pixel; the overlay wants the bytes B, G, R, A on any host.
  plat::gpu::OverlayImage image;
  image.width = static_cast<std::size_t>(width);
  image.height = static_cast<std::size_t>(height);
  image.pixels.resize(image.width * image.height * 4);
  const unsigned char* data = cairo_image_surface_get_data(surface.get());
  const int stride = cairo_image_surface_get_stride(surface.get());
  std::uint8_t* out = image.pixels.data();
  for (int y = 0; y < height; ++y) {
    const unsigned char* row = data + static_cast<std::ptrdiff_t>(y) * stride;
    for (int x = 0; x < width; ++x, out += 4) {
      std::uint32_t argb = 0;
      std::memcpy(&argb, row + static_cast<std::ptrdiff_t>(x) * 4, 4);
      out[0] = static_cast<std::uint8_t>(argb);
      out[1] = static_cast<std::uint8_t>(argb >> 8);
      out[2] = static_cast<std::uint8_t>(argb >> 16);
      out[3] = static_cast<std::uint8_t>(argb >> 24);
    }
  }
  return image;
}

}  // namespace quelltrine::engine
