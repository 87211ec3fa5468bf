// GTK presenter of model windows and the folder chooser.
#include "engine/gtk_presenter.h"

#include <gtk/gtk.h>

#include <string>
#include <vector>

#include "platform/ui/controls.h"
#include "platform/ui/open_panel.h"

namespace quelltrine::engine {
namespace {

using plat::ui::Button;
using plat::ui::Slider;
using plat::ui::TextField;
using plat::ui::View;

GtkWindow* gCurrentDialog = nullptr;

constexpr double kSliderKeyStep = 1.0;
constexpr double kSliderPageStep = 5.0;

struct Presentation {
  GtkWidget* window = nullptr;
  GMainLoop* loop = nullptr;
  GtkWidget* defaultButton = nullptr;
  std::vector<std::shared_ptr<View>> controls;  // to detach observers at the end
};

// Button and slider callbacks keep the model weakly: the module may rebuild
// its window while ours is still up.
struct WeakButton {
  std::weak_ptr<Button> button;
};
struct WeakSlider {
  std::weak_ptr<Slider> slider;
};

void onClicked(GtkButton*, gpointer data) {
  if (auto b = static_cast<WeakButton*>(data)->button.lock()) b->performClick();
}

void onValueChanged(GtkRange* range, gpointer data) {
  if (auto s = static_cast<WeakSlider*>(data)->slider.lock()) s->setDoubleValue(gtk_range_get_value(range));
}

// GTK 3 moves a horizontal scale towards its minimum on Up and Page Up.
// For a person choosing seconds, as on the platform's own sliders, up means
// more: Up and Page Up raise the value, Down and Page Down lower it.
gboolean onSliderKeyPress(GtkWidget* widget, GdkEventKey* event, gpointer) {
  constexpr auto kModifiers = GDK_SHIFT_MASK | GDK_CONTROL_MASK | GDK_MOD1_MASK | GDK_SUPER_MASK;
  if ((event->state & kModifiers) != 0) return FALSE;
  GtkScrollType scroll;
  switch (event->keyval) {
    case GDK_KEY_Up: case GDK_KEY_KP_Up: scroll = GTK_SCROLL_STEP_FORWARD; break;
    case GDK_KEY_Down: case GDK_KEY_KP_Down: scroll = GTK_SCROLL_STEP_BACKWARD; break;
    case GDK_KEY_Page_Up: case GDK_KEY_KP_Page_Up: scroll = GTK_SCROLL_PAGE_FORWARD; break;
    case GDK_KEY_Page_Down: case GDK_KEY_KP_Page_Down: scroll = GTK_SCROLL_PAGE_BACKWARD; break;
    default: return FALSE;
  }
  g_signal_emit_by_name(widget, "move-slider", scroll);
  return TRUE;
}

template <class T>
void deleteData(gpointer data, GClosure*) {
  delete static_cast<T*>(data);
}

gboolean onKeyPress(GtkWidget*, GdkEventKey* event, gpointer data) {
  // The model's key equivalent works wherever the focus is, as on the
  // platform; GTK's own default-widget rule would let a focused button eat it.
  auto* p = static_cast<Presentation*>(data);
  if ((event->keyval == GDK_KEY_Return || event->keyval == GDK_KEY_KP_Enter) && p->defaultButton) {
    gtk_widget_activate(p->defaultButton);
    return TRUE;
  }
  return FALSE;
}

// No close control: the window is left only through its own buttons.
gboolean onDelete(GtkWidget*, GdkEvent*, gpointer) { return TRUE; }

PangoEllipsizeMode ellipsizeFor(plat::ui::LineBreakMode mode) {
  switch (mode) {
    case plat::ui::LineBreakMode::TruncatingHead: return PANGO_ELLIPSIZE_START;
    case plat::ui::LineBreakMode::TruncatingMiddle: return PANGO_ELLIPSIZE_MIDDLE;
    case plat::ui::LineBreakMode::TruncatingTail: return PANGO_ELLIPSIZE_END;
    default: return PANGO_ELLIPSIZE_NONE;
  }
}

GtkWidget* makeWidget(Presentation& p, const std::shared_ptr<View>& view) {
  if (auto label = std::dynamic_pointer_cast<TextField>(view)) {
    GtkWidget* w = gtk_label_new(label->stringValue().c_str());
    gtk_label_set_xalign(GTK_LABEL(w), 0.0f);
    gtk_label_set_yalign(GTK_LABEL(w), 0.5f);
    gtk_label_set_selectable(GTK_LABEL(w), label->isSelectable());
    gtk_label_set_ellipsize(GTK_LABEL(w), ellipsizeFor(label->lineBreakMode()));
    if (label->lineBreakMode() != plat::ui::LineBreakMode::WordWrapping &&
        label->lineBreakMode() != plat::ui::LineBreakMode::CharWrapping) {
      gtk_label_set_single_line_mode(GTK_LABEL(w), TRUE);
    }
    if (label->textColor() == "secondaryLabelColor" || label->textColor() == "tertiaryLabelColor") {
      gtk_style_context_add_class(gtk_widget_get_style_context(w), "dim-label");
    }
    label->setObserver([w](TextField& f) { gtk_label_set_text(GTK_LABEL(w), f.stringValue().c_str()); });
    p.controls.push_back(view);
    return w;
  }
  if (auto button = std::dynamic_pointer_cast<Button>(view)) {
    GtkWidget* w = gtk_button_new_with_label(button->title().c_str());
    g_signal_connect_data(w, "clicked", G_CALLBACK(onClicked), new WeakButton{button}, deleteData<WeakButton>,
                          GConnectFlags{});
    if (button->keyEquivalent() == "\r") {
      gtk_widget_set_can_default(w, TRUE);
      p.defaultButton = w;
    }
    return w;
  }
  if (auto slider = std::dynamic_pointer_cast<Slider>(view)) {
    double lo = slider->minValue(), hi = slider->maxValue();
    GtkWidget* w = gtk_scale_new_with_range(GTK_ORIENTATION_HORIZONTAL, lo, hi > lo ? hi : lo + 1.0, kSliderKeyStep);
    gtk_scale_set_draw_value(GTK_SCALE(w), FALSE);
    gtk_scale_clear_marks(GTK_SCALE(w));
    // The arrow keys move by one unit (a second in the options window), Page
    // Up and Page Down by five; Home and End go to the ends.
    gtk_range_set_increments(GTK_RANGE(w), kSliderKeyStep, kSliderPageStep);
    g_signal_connect(w, "key-press-event", G_CALLBACK(onSliderKeyPress), nullptr);
    // gtk_scale_new_with_range rounds the value to the digits of its step
    // (whole numbers here), on every drag too; keep the full fractional
    // value, as the model's slider reports it.
    gtk_range_set_round_digits(GTK_RANGE(w), -1);
    gtk_range_set_value(GTK_RANGE(w), slider->doubleValue());
    g_signal_connect_data(w, "value-changed", G_CALLBACK(onValueChanged), new WeakSlider{slider},
                          deleteData<WeakSlider>, GConnectFlags{});
    slider->setObserver([w](Slider& s) {
      if (gtk_range_get_value(GTK_RANGE(w)) != s.doubleValue()) gtk_range_set_value(GTK_RANGE(w), s.doubleValue());
    });
    p.controls.push_back(view);
    return w;
  }
  // A plain view: a fixed container holding its subviews.
  GtkWidget* fixed = gtk_fixed_new();
  double height = view->frame().size.height;
  for (const auto& sub : view->subviews()) {
    GtkWidget* child = makeWidget(p, sub);
    plat::ui::Rect f = sub->frame();
    gtk_widget_set_size_request(child, static_cast<int>(f.size.width), static_cast<int>(f.size.height));
    // Bottom-left model origin to GTK's top-left.
    gtk_fixed_put(GTK_FIXED(fixed), child, static_cast<int>(f.origin.x),
                  static_cast<int>(height - (f.origin.y + f.size.height)));
  }
  return fixed;
}

}  // namespace

void presentModally(const std::shared_ptr<plat::ui::Window>& model) {
  if (!model) return;
  Presentation p;
  p.window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  GtkWindow* win = GTK_WINDOW(p.window);
  gtk_window_set_title(win, model->title().c_str());
  gtk_window_set_resizable(win, FALSE);
  gtk_window_set_deletable(win, FALSE);
  gtk_window_set_type_hint(win, GDK_WINDOW_TYPE_HINT_DIALOG);
  gtk_window_set_modal(win, TRUE);
  gtk_window_set_position(win, GTK_WIN_POS_CENTER);
  plat::ui::Size size = model->contentRect().size;
  GtkWidget* content = model->contentView() ? makeWidget(p, model->contentView()) : gtk_fixed_new();
  gtk_widget_set_size_request(content, static_cast<int>(size.width), static_cast<int>(size.height));
  gtk_container_add(GTK_CONTAINER(p.window), content);
  g_signal_connect(p.window, "key-press-event", G_CALLBACK(onKeyPress), &p);
  g_signal_connect(p.window, "delete-event", G_CALLBACK(onDelete), nullptr);
  if (p.defaultButton) {
    gtk_window_set_default(win, p.defaultButton);
    gtk_widget_grab_focus(p.defaultButton);
  }

  p.loop = g_main_loop_new(nullptr, FALSE);
  GMainLoop* loop = p.loop;
  model->setOrderOutHandler([loop](plat::ui::Window&) { g_main_loop_quit(loop); });
  model->orderFront();
  gtk_widget_show_all(p.window);
  GtkWindow* previous = gCurrentDialog;
  gCurrentDialog = win;
  // The module may order the window out before we get here (never, today),
  // or during any callback the loop runs.
  if (model->isVisible()) g_main_loop_run(p.loop);
  gCurrentDialog = previous;

  model->setOrderOutHandler({});
  for (const auto& v : p.controls) {
    if (auto t = std::dynamic_pointer_cast<TextField>(v)) t->setObserver({});
    if (auto s = std::dynamic_pointer_cast<Slider>(v)) s->setObserver({});
  }
  gtk_widget_destroy(p.window);
  g_main_loop_unref(p.loop);
  while (gtk_events_pending()) gtk_main_iteration();
}

void installGtkOpenPanelRunner() {
  plat::ui::OpenPanel::setRunner([](plat::ui::OpenPanel& panel) -> long {
    bool folders = panel.canChooseDirectories() || !panel.canChooseFiles();
    GtkWidget* chooser = gtk_file_chooser_dialog_new(
        folders ? "Ordner w\u00e4hlen" : "Datei w\u00e4hlen", gCurrentDialog,
        folders ? GTK_FILE_CHOOSER_ACTION_SELECT_FOLDER : GTK_FILE_CHOOSER_ACTION_OPEN, "_Abbrechen",
        GTK_RESPONSE_CANCEL, "_Ausw\u00e4hlen", GTK_RESPONSE_ACCEPT, nullptr);
    gtk_window_set_modal(GTK_WINDOW(chooser), TRUE);
    gtk_file_chooser_set_select_multiple(GTK_FILE_CHOOSER(chooser), panel.allowsMultipleSelection());
    gtk_file_chooser_set_local_only(GTK_FILE_CHOOSER(chooser), TRUE);
    if (!panel.directoryURL().empty()) {
      gtk_file_chooser_set_current_folder(GTK_FILE_CHOOSER(chooser), panel.directoryURL().c_str());
    }
    long response = plat::ui::kModalResponseCancel;
    if (gtk_dialog_run(GTK_DIALOG(chooser)) == GTK_RESPONSE_ACCEPT) {
      std::vector<std::string> paths;
      GSList* files = gtk_file_chooser_get_filenames(GTK_FILE_CHOOSER(chooser));
      for (GSList* f = files; f; f = f->next) {
        paths.emplace_back(static_cast<char*>(f->data));
        g_free(f->data);
      }
      g_slist_free(files);
      if (!paths.empty()) {
        panel.setURLs(std::move(paths));
        response = plat::ui::kModalResponseOK;
      }
    }
    gtk_widget_destroy(chooser);
    while (gtk_events_pending()) gtk_main_iteration();
    return response;
  });
}

}  // namespace quelltrine::engine
