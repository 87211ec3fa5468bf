// The module's entry into the object runtime: registers QuelltrineSaverView
// under its plain name with its selectors in order, while the bundle's
// shared object is loaded. Only the bundle's module links this file.
#include "host/quelltrine_saver_view.h"
#include "platform/runtime/class_registry.h"
#include "platform/ui/window.h"

namespace quelltrine {
namespace {

using plat::rt::Args;
using plat::rt::Value;

plat::rt::ClassDefinition<QuelltrineSaverView> viewClass() {
  return plat::rt::ClassDefinition<QuelltrineSaverView>("QuelltrineSaverView")
      .initWithFrame([](const plat::ui::Rect& frame, bool isPreview) {
        return QuelltrineSaverView::initWithFrame(frame, isPreview);
      })
      .initWithCoder([](const plat::ui::Coder& coder) { return QuelltrineSaverView::initWithCoder(coder); })
      .method("makeBackingLayer",
              [](QuelltrineSaverView& v, Args) {
                // The layer itself is no runtime value; the call makes one
                // and reports that it did.
                return Value{v.makeBackingLayer() != nullptr};
              })
      .method("startAnimation", [](QuelltrineSaverView& v, Args) { v.startAnimation(); return Value{}; })
      .method("stopAnimation", [](QuelltrineSaverView& v, Args) { v.stopAnimation(); return Value{}; })
      .method("animateOneFrame", [](QuelltrineSaverView& v, Args) { v.animateOneFrame(); return Value{}; })
      .method("drawRect:",
              [](QuelltrineSaverView& v, Args args) {
                auto rect = plat::rt::valueAs<plat::ui::Rect>(args[0]);
                v.drawRect(rect.value_or(plat::ui::Rect{}));
                return Value{};
              })
      .method("debugRenderPNGToPath:frames:",
              [](QuelltrineSaverView& v, Args args) -> Value {
                auto path = plat::rt::valueAs<std::string>(args[0]);
                auto frames = plat::rt::valueAs<std::int64_t>(args[1]);
                if (!path || !frames) {
                  return plat::rt::runtimeError("debugRenderPNGToPath:frames: takes a string and an integer");
                }
                return Value{v.debugRenderPNG(*path, *frames)};
              })
      .method("hasConfigureSheet", [](QuelltrineSaverView& v, Args) { return Value{v.hasConfigureSheet()}; })
      .method("configureSheet",
              [](QuelltrineSaverView& v, Args) {
                return Value{std::static_pointer_cast<plat::ui::Object>(v.configureSheet())};
              })
      .method("chooseFolder", [](QuelltrineSaverView& v, Args) { v.chooseFolder(); return Value{}; })
      .method("closeSheet", [](QuelltrineSaverView& v, Args) { v.closeSheet(); return Value{}; });
}

PLAT_RT_REGISTER_CLASS(kQuelltrineSaverViewClass, viewClass());

}  // namespace
}  // namespace quelltrine
