// Running the saver on X11: opens the display, makes or adopts the windows
// (own window, preview, one full-screen window per monitor, or a foreign
// window in xscreensaver hack mode), creates one view per window through
// the module's class, and ticks the views until the user, a signal or the
// window's end stops it. Drawing is the views' own (through their layers);
// after each view is made and each tick, the session asks `reports` whether
// the platform layer failed in a way a person must hear of.
#pragma once

#include <iosfwd>

#include "engine/command_line.h"
#include "engine/platform_reports.h"
#include "platform/runtime/class_registry.h"

namespace quelltrine::engine {

// Exit status: 0 after a normal end (closed, q/Escape, the foreign window
// destroyed), 1 when the display, the window or a view cannot be had, or
// when the platform layer reports that nothing can be drawn (no GPU device,
// no shader library): one line on err, at once, so that xscreensaver shows
// its error instead of a black screen. SIGTERM, SIGINT and SIGHUP end the
// loop and, after the clean-up, the process by that same signal; a loop
// stuck in a frame is ended by the signal within half a second. A lost X
// server ends the process at once with one line on stderr and status 1,
// also in the middle of a frame.
int runX11Session(const Options& options, const plat::rt::ClassInfo& viewClass, PlatformReports& reports,
                  std::ostream& err);

}  // namespace quelltrine::engine
