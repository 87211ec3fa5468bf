// X11 windows, signals and the tick loop.
#include "engine/x11_session.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xresource.h>
#include <X11/Xutil.h>
#include <X11/extensions/Xrandr.h>
#include <X11/keysym.h>
#include <poll.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <ostream>
#include <vector>

#include "engine/fps_meter.h"
#include "engine/overlay_text.h"
#include "engine/program_name.h"
#include "engine/session_guard.h"
#include "engine/tick_scheduler.h"
#include "platform/gpu/device.h"
#include "platform/gpu/metal_layer.h"
#include "platform/ui/screen_saver_view.h"

namespace quelltrine::engine {
namespace {

constexpr TickScheduler::Nanos kTickPeriod = 1'000'000'000 / 30;

TickScheduler::Nanos nanosOf(clockid_t clock) {
  timespec ts{};
  ::clock_gettime(clock, &ts);
  return static_cast<TickScheduler::Nanos>(ts.tv_sec) * 1'000'000'000 + ts.tv_nsec;
}

TickScheduler::Nanos monotonicNow() { return nanosOf(CLOCK_MONOTONIC); }

// A destroyed window shows up as BadWindow/BadDrawable on whatever request
// touches it next (ours or the GPU layer's). Note it once and stop, instead
// of Xlib's default of printing and exiting, or a storm of errors.
bool gWindowGone = false;

int onXError(Display*, XErrorEvent* e) {
  if (e->error_code == BadWindow || e->error_code == BadDrawable) gWindowGone = true;
  return 0;
}

// The connection broke under the X library (the server died or closed it):
// one line and the end, instead of Xlib's several lines; nothing is cleaned
// up against a server that is gone.
int onXIOError(Display*) { SessionGuard::endForLostServer(); }

double xftDpi(Display* display) {
  const char* resources = XResourceManagerString(display);
  if (!resources) return 0.0;
  XrmInitialize();
  XrmDatabase db = XrmGetStringDatabase(resources);
  if (!db) return 0.0;
  char* type = nullptr;
  XrmValue value{};
  double dpi = 0.0;
  if (XrmGetResource(db, "Xft.dpi", "Xft.Dpi", &type, &value) && value.addr) dpi = std::strtod(value.addr, nullptr);
  XrmDestroyDatabase(db);
  return dpi;
}

struct Screen {
  ::Window xwindow = 0;
  bool own = false;
  std::shared_ptr<plat::ui::HostWindow> host;
  std::shared_ptr<plat::ui::ScreenSaverView> view;
  // --fps: what the engine lays over the view's frames (empty otherwise).
  std::shared_ptr<plat::gpu::Overlay> overlay;
};

struct MonitorRect {
  int x, y;
  unsigned width, height;
};

std::vector<MonitorRect> monitors(Display* d) {
  std::vector<MonitorRect> out;
  int n = 0;
  if (XRRMonitorInfo* info = XRRGetMonitors(d, DefaultRootWindow(d), True, &n)) {
    for (int i = 0; i < n; ++i) {
      if (info[i].width > 0 && info[i].height > 0) {
        out.push_back({info[i].x, info[i].y, static_cast<unsigned>(info[i].width), static_cast<unsigned>(info[i].height)});
      }
    }
    XRRFreeMonitors(info);
  }
  if (out.empty()) {
    int s = DefaultScreen(d);
    out.push_back({0, 0, static_cast<unsigned>(DisplayWidth(d, s)), static_cast<unsigned>(DisplayHeight(d, s))});
  }
  return out;
}

::Window createOwnWindow(Display* d, const MonitorRect& r, bool fullscreen, Atom deleteWindow) {
  XSetWindowAttributes attrs{};
  attrs.background_pixel = BlackPixel(d, DefaultScreen(d));
  attrs.event_mask = KeyPressMask | StructureNotifyMask;
  ::Window w = XCreateWindow(d, DefaultRootWindow(d), r.x, r.y, r.width, r.height, 0, CopyFromParent, InputOutput,
                             CopyFromParent, CWBackPixel | CWEventMask, &attrs);
  XStoreName(d, w, "Quelltrine");
  const char* name = "Quelltrine";
  XChangeProperty(d, w, XInternAtom(d, "_NET_WM_NAME", False), XInternAtom(d, "UTF8_STRING", False), 8,
                  PropModeReplace, reinterpret_cast<const unsigned char*>(name), 10);
  XClassHint hint{const_cast<char*>("quelltrine-saver"), const_cast<char*>("Quelltrine")};
  XSetClassHint(d, w, &hint);
  Atom protocols[] = {deleteWindow};
  XSetWMProtocols(d, w, protocols, 1);
  if (fullscreen) {
    Atom state = XInternAtom(d, "_NET_WM_STATE_FULLSCREEN", False);
    XChangeProperty(d, w, XInternAtom(d, "_NET_WM_STATE", False), XA_ATOM, 32, PropModeReplace,
                    reinterpret_cast<unsigned char*>(&state), 1);
    // No pointer over a full-screen saver.
    char nothing = 0;
    Pixmap blank = XCreateBitmapFromData(d, w, &nothing, 1, 1);
    XColor black{};
    Cursor cursor = XCreatePixmapCursor(d, blank, blank, &black, &black, 0, 0);
    XDefineCursor(d, w, cursor);
    XFreeCursor(d, cursor);
    XFreePixmap(d, blank);
  }
  XMapRaised(d, w);
  return w;
}

class Session {
 public:
  Session(const Options& o, const plat::rt::ClassInfo& cls, PlatformReports& reports, std::ostream& err)
      : o_(o), cls_(cls), reports_(reports), err_(err) {}

  int run() {
    display_ = XOpenDisplay(o_.display.empty() ? nullptr : o_.display.c_str());
    if (!display_) {
      if (!o_.display.empty()) {
        err_ << programName() << ": cannot open the X display " << o_.display << "\n";
      } else {
        err_ << programName() << ": cannot open the X display"
             << (std::getenv("DISPLAY") ? "" : " ($DISPLAY is not set)") << "\n";
      }
      return 1;
    }
    SessionGuard::Config guard;
    guard.watchedFd = ConnectionNumber(display_);
    guard.lostServerLine =
        programName() + ": lost the connection to the X server " + DisplayString(display_) + "\n";
    std::string error;
    guard_ = SessionGuard::start(std::move(guard), &error);
    if (!guard_) {
      err_ << programName() << ": cannot set up signal handling: " << error << "\n";
      return finish(1);
    }
    XSetErrorHandler(onXError);
    XSetIOErrorHandler(onXIOError);
    if (!makeWindows()) return finish(1);
    plat::gpu::setPreferredNativeDisplay(display_);
    scale_ = plat::ui::backingScaleFactorForDpi(xftDpi(display_));
    for (auto& s : screens_) {
      XWindowAttributes a{};
      XGetWindowAttributes(display_, s.xwindow, &a);
      const plat::ui::Size size = pointsForPixels(a.width, a.height);
      s.view = cls_.initWithFrame(plat::ui::Rect{{0, 0}, size}, o_.preview);
      if (!s.view) {
        err_ << programName() << ": the module's class " << cls_.name << " did not create a view\n";
        return finish(1);
      }
      s.host = std::make_shared<plat::ui::HostWindow>(plat::ui::NativeWindowHandle{display_, s.xwindow}, size, scale_);
      s.view->setHostWindow(s.host);
      if (cannotDraw()) return finish(1);
      if (o_.fps) attachOverlay(s);
    }
    reports_.sayPicturesIfChanged();
    showPictureNotice();
    loop();
    return finish(cannotDraw() ? 1 : 0);
  }

  // The terminating signal that ended the session, or 0.
  int endSignal() const { return endSignal_; }

 private:
  // A view that will never draw (no device, no shader library, no surface)
  // ends the session with its one line.
  bool cannotDraw() {
    if (said_) return true;
    auto fatal = reports_.fatal();
    if (!fatal) return false;
    // A foreign window destroyed under the saver fails its surface too;
    // that is the end of the session, not an error.
    XSync(display_, False);
    while (XPending(display_) > 0) {
      XEvent e;
      XNextEvent(display_, &e);
      handle(e);
    }
    if (gWindowGone) return false;
    err_ << programName() << ": " << PlatformReports::fatalText(*fatal) << "\n";
    said_ = true;
    return true;
  }

  bool makeWindows() {
    Atom deleteWindow = XInternAtom(display_, "WM_DELETE_WINDOW", False);
    deleteWindow_ = deleteWindow;
    if (o_.mode == Mode::Hack) {
      ::Window target = o_.windowId ? o_.windowId : DefaultRootWindow(display_);
      XWindowAttributes a{};
      gWindowGone = false;
      Status ok = XGetWindowAttributes(display_, target, &a);
      XSync(display_, False);
      if (!ok || gWindowGone) {
        err_ << programName() << ": there is no window 0x" << std::hex << target << std::dec << "\n";
        return false;
      }
      // Our own event mask on the foreign window; its owner's is unaffected.
      XSelectInput(display_, target, StructureNotifyMask);
      screens_.push_back(Screen{target, false, nullptr, nullptr, nullptr});
      return true;
    }
    std::vector<MonitorRect> rects;
    if (o_.fullscreen) {
      rects = monitors(display_);
    } else {
      rects.push_back(o_.preview ? MonitorRect{0, 0, 320, 200} : MonitorRect{0, 0, 960, 600});
    }
    for (const auto& r : rects) screens_.push_back(Screen{createOwnWindow(display_, r, o_.fullscreen, deleteWindow), true, nullptr, nullptr, nullptr});
    XFlush(display_);
    return true;
  }

  // An X11 window's size is in device pixels; a view's bounds are in points,
  // so that the module's drawable, scale x bounds, is exactly the window's
  // pixel size at any Xft.dpi and never rendered larger than it is shown.
  plat::ui::Size pointsForPixels(int width, int height) const {
    return {static_cast<double>(width) / scale_, static_cast<double>(height) / scale_};
  }

  // The frame-rate display goes over what the module draws, through its GPU
  // layer; a module with another kind of layer shows none.
  void attachOverlay(Screen& s) {
    if (s.overlay) return;
    auto layer = std::dynamic_pointer_cast<plat::gpu::MetalLayer>(s.view->layer());
    if (!layer) return;
    s.overlay = std::make_shared<plat::gpu::Overlay>();
    layer->setOverlay(s.overlay);
  }

  // The no-pictures notice, in German like the options window, at the top
  // left of every view (so that a long folder name is cut at its end, not
  // at its start); redrawn only when its text changes. Views get an overlay
  // for it when a notice first appears; without --fps the overlay goes again
  // once pictures are shown.
  void showPictureNotice() {
    std::optional<std::string> notice = reports_.pictureNotice();
    if (notice == shownNotice_) return;
    shownNotice_ = notice;
    std::vector<std::string> lines;
    if (notice) {
      // "Keine Bilder in /folder: Der Ordner ist leer" reads better in two
      // lines in a small window.
      const std::size_t colon = notice->rfind(": ");
      if (colon == std::string::npos) {
        lines.push_back(*notice);
      } else {
        lines.push_back(notice->substr(0, colon + 1));
        lines.push_back(notice->substr(colon + 2));
      }
    }
    // A long folder name wraps inside the narrowest view instead of running
    // off its edge.
    const int margin = static_cast<int>(kOverlayMarginPixels * scale_);
    double narrowest = 0;
    for (const auto& s : screens_) {
      const double pixels = s.view->bounds().size.width * scale_;
      if (narrowest == 0 || pixels < narrowest) narrowest = pixels;
    }
    const int maxWidth = std::max(1, static_cast<int>(narrowest) - 2 * margin);
    const plat::gpu::OverlayImage text =
        lines.empty() ? plat::gpu::OverlayImage{} : renderOverlayText(lines, scale_, maxWidth);
    for (auto& s : screens_) {
      if (notice) attachOverlay(s);
      if (!s.overlay) continue;
      s.overlay->setImage(plat::gpu::OverlayAnchor::TopLeft, text, margin);
      if (!notice && !o_.fps) {
        if (auto layer = std::dynamic_pointer_cast<plat::gpu::MetalLayer>(s.view->layer())) layer->setOverlay(nullptr);
        s.overlay.reset();
      }
    }
  }

  // After each tick with --fps: a new reading about once a second, drawn
  // once and shown by every view.
  void measureFrame(TickScheduler::Nanos now) {
    if (!fpsMeter_.frame(now, nanosOf(CLOCK_PROCESS_CPUTIME_ID))) return;
    const plat::gpu::OverlayImage text = renderOverlayText(fpsMeter_.lines(), scale_);
    const int margin = static_cast<int>(kOverlayMarginPixels * scale_);
    for (auto& s : screens_) {
      if (s.overlay) s.overlay->setImage(plat::gpu::OverlayAnchor::BottomLeft, text, margin);
    }
  }

  void handle(const XEvent& e) {
    switch (e.type) {
      case KeyPress: {
        KeySym sym = XLookupKeysym(const_cast<XKeyEvent*>(&e.xkey), 0);
        if (sym == XK_Escape || sym == XK_q || sym == XK_Q) quit_ = true;
        break;
      }
      case ClientMessage:
        if (static_cast<Atom>(e.xclient.data.l[0]) == deleteWindow_) quit_ = true;
        break;
      case DestroyNotify:
        for (auto& s : screens_) {
          if (s.xwindow == e.xdestroywindow.window) gWindowGone = true;
        }
        break;
      case ConfigureNotify:
        for (auto& s : screens_) {
          if (s.xwindow != e.xconfigure.window || !s.view) continue;
          const plat::ui::Size size = pointsForPixels(e.xconfigure.width, e.xconfigure.height);
          s.view->setFrameSize(size);
          s.host->setContentSize(size);
        }
        break;
      default:
        break;
    }
  }

  void loop() {
    for (auto& s : screens_) s.view->startAnimation();
    TickScheduler scheduler(kTickPeriod);
    scheduler.start(monotonicNow());
    if (o_.fps) fpsMeter_.start(monotonicNow(), nanosOf(CLOCK_PROCESS_CPUTIME_ID));
    const int xfd = ConnectionNumber(display_);
    while (true) {
      while (XPending(display_) > 0) {
        XEvent e;
        XNextEvent(display_, &e);
        handle(e);
      }
      // Checked on every pass, not only after a wait: when frames take longer
      // than a period the loop never waits.
      if (guard_->reason() == StopReason::ServerGone) SessionGuard::endForLostServer();
      if (quit_ || gWindowGone || guard_->reason() != StopReason::Nothing) break;
      auto now = monotonicNow();
      if (scheduler.isDue(now)) {
        for (auto& s : screens_) s.view->animateOneFrame();
        if (o_.fps) measureFrame(now);
        XFlush(display_);
        scheduler.ticked(now);
        if (cannotDraw()) break;
        reports_.sayPicturesIfChanged();
        showPictureNotice();
        continue;
      }
      auto wait = scheduler.waitFrom(now);
      timespec timeout{static_cast<time_t>(wait / 1'000'000'000), static_cast<long>(wait % 1'000'000'000)};
      pollfd fds[2] = {{xfd, POLLIN, 0}, {guard_->wakeFd(), POLLIN, 0}};
      int n = ::ppoll(fds, 2, &timeout, nullptr);
      if (n > 0 && (fds[0].revents & (POLLERR | POLLHUP))) SessionGuard::endForLostServer();
    }
    for (auto& s : screens_) s.view->stopAnimation();
  }

  int finish(int status) {
    for (auto& s : screens_) {
      if (s.view) s.view->setHostWindow(nullptr);
      s.view.reset();
      // Its GL names belong to the device's context, which ends with the display.
      s.overlay.reset();
      s.host.reset();
    }
    if (display_) {
      plat::gpu::setPreferredNativeDisplay(nullptr);
      for (auto& s : screens_) {
        if (s.own && !gWindowGone) XDestroyWindow(display_, s.xwindow);
      }
      XSync(display_, False);
      if (guard_) guard_->closingConnection();
      XCloseDisplay(display_);
      display_ = nullptr;
    }
    // Up to here a stuck clean-up was still ended by the guard.
    if (guard_) {
      endSignal_ = guard_->signal();
      guard_.reset();
    }
    return status;
  }

  const Options& o_;
  const plat::rt::ClassInfo& cls_;
  PlatformReports& reports_;
  std::ostream& err_;
  bool said_ = false;  // the line on a failure that leaves nothing to draw
  Display* display_ = nullptr;
  Atom deleteWindow_ = 0;
  double scale_ = 1.0;  // the backing scale factor of every window: Xft.dpi / 96
  FpsMeter fpsMeter_;
  std::optional<std::string> shownNotice_;  // the notice now over the views
  std::vector<Screen> screens_;
  bool quit_ = false;
  std::unique_ptr<SessionGuard> guard_;
  int endSignal_ = 0;
};

}  // namespace

int runX11Session(const Options& options, const plat::rt::ClassInfo& viewClass, PlatformReports& reports,
                  std::ostream& err) {
  int signal = 0;
  int status = 0;
  {
    Session session(options, viewClass, reports, err);
    status = session.run();
    signal = session.endSignal();
  }
  // Ended by the signal after the clean-up, so that the parent (a shell, a
  // service manager, xscreensaver's daemon) sees how the saver ended.
  if (signal != 0) SessionGuard::endBySignal(signal);
  return status;
}

}  // namespace quelltrine::engine
