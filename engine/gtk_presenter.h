// Shows the module's retained window model with GTK 3: a modal, fixed-size
// dialog with every control at its model frame, kept in step with the model
// in both directions (label texts and slider values), until the model
// orders the window out. Also the open-panel runner: GTK's folder chooser.
// The caller initialises GTK.
#pragma once

#include <memory>

#include "platform/ui/window.h"

namespace quelltrine::engine {

// Returns when the window has been ordered out.
void presentModally(const std::shared_ptr<plat::ui::Window>& window);

// Installs the GTK chooser as plat::ui::OpenPanel's runner.
void installGtkOpenPanelRunner();

}  // namespace quelltrine::engine
