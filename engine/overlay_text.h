// Short lines of text as the engine lays them over a view (the frame-rate
// display, a notice): white monospaced text with a thin dark outline, so
// that it reads on light and dark pictures alike, rendered with Pango and
// Cairo into a picture for plat::gpu::Overlay. Where the picture goes, and
// when it is redrawn, is the caller's. Needs fonts, no display.
#pragma once

#include <string>
#include <vector>

#include "platform/gpu/overlay.h"

namespace quelltrine::engine {

// The text size in pixels at a backing scale of 1, and the distance of the
// text from the window's edges; both grow with the scale.
inline constexpr double kOverlayTextPixels = 24.0;
inline constexpr double kOverlayMarginPixels = 16.0;

// The lines, one below the other, left-aligned, each as UTF-8 (invalid bytes
// are shown as replacement characters). `scale` is the window's backing
// scale factor (1.0 unless Xft.dpi says more; values below 1 count as 1).
// With `maxWidth` (pixels, outline included) a line longer than that wraps,
// between words where it can, else anywhere (a long folder name); the
// picture is then at most that wide. Empty when there are no lines or
// nothing could be drawn.
plat::gpu::OverlayImage renderOverlayText(const std::vector<std::string>& lines, double scale, int maxWidth = 0);

}  // namespace quelltrine::engine
