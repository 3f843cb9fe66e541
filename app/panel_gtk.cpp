#include "app/panel_gtk.h"

#include <glib-unix.h>
#include <gtk/gtk.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>

#include "app/control_window.h"
#include "app/message_box.h"
#include "app/sound_output.h"
#include "app/splash.h"
#include "platform/file.h"
#include "platform/log.h"
#include "platform/window.h"
#include "render/display.h"
#include "render/gl_caps.h"

namespace orvl {
namespace {

using namespace panel_id;

constexpr const char* kWindowTitle = "Orvalis v1.6";
constexpr const char* kIdKey = "orvl-id";

void pump_events() {
  while (g_main_context_iteration(nullptr, FALSE)) {
  }
}

// Windows matched "*.LWS" against "intro.lws"; GTK's patterns mind the case, so every
// letter becomes a bracket of both cases.
std::string any_case_pattern(const std::string& pattern) {
  std::string out;
  for (char c : pattern) {
    if (std::isalpha(static_cast<unsigned char>(c))) {
      out += '[';
      out += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      out += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
      out += ']';
    } else {
      out += c;
    }
  }
  return out;
}

std::string mnemonic_label(const char* label) {
  std::string out;
  for (const char* p = label; *p; ++p) out += *p == '&' ? '_' : *p;
  return out;
}

GtkMessageType message_type(MessageIcon icon) {
  switch (icon) {
    case MessageIcon::warning: return GTK_MESSAGE_WARNING;
    case MessageIcon::information: return GTK_MESSAGE_INFO;
    case MessageIcon::error: break;
  }
  return GTK_MESSAGE_ERROR;
}

GdkPixbuf* splash_pixbuf() {
  const std::vector<uint32_t> px = splash_picture();
  GdkPixbuf* pb = gdk_pixbuf_new(GDK_COLORSPACE_RGB, FALSE, 8, kSplashWidth, kSplashHeight);
  if (!pb) return nullptr;
  guchar* dst = gdk_pixbuf_get_pixels(pb);
  const int stride = gdk_pixbuf_get_rowstride(pb);
  for (int y = 0; y < kSplashHeight; ++y) {
    for (int x = 0; x < kSplashWidth; ++x) {
      const uint32_t c = px[size_t(y) * kSplashWidth + x];
      guchar* d = dst + y * stride + x * 3;
      d[0] = guchar(c >> 16);
      d[1] = guchar(c >> 8);
      d[2] = guchar(c);
    }
  }
  return pb;
}

GtkWidget* list_view(GtkListStore* store, const char* name, bool multiple) {
  GtkWidget* view = gtk_tree_view_new_with_model(GTK_TREE_MODEL(store));
  g_object_unref(store);
  gtk_widget_set_name(view, name);
  gtk_tree_view_set_headers_visible(GTK_TREE_VIEW(view), FALSE);
  GtkCellRenderer* text = gtk_cell_renderer_text_new();
  gtk_tree_view_insert_column_with_attributes(GTK_TREE_VIEW(view), -1, "", text, "text", 0, nullptr);
  gtk_tree_selection_set_mode(gtk_tree_view_get_selection(GTK_TREE_VIEW(view)),
                              multiple ? GTK_SELECTION_MULTIPLE : GTK_SELECTION_SINGLE);
  return view;
}

GtkWidget* scrolled(GtkWidget* child, int min_height) {
  GtkWidget* s = gtk_scrolled_window_new(nullptr, nullptr);
  gtk_scrolled_window_set_policy(GTK_SCROLLED_WINDOW(s), GTK_POLICY_AUTOMATIC, GTK_POLICY_AUTOMATIC);
  gtk_scrolled_window_set_min_content_height(GTK_SCROLLED_WINDOW(s), min_height);
  gtk_scrolled_window_set_shadow_type(GTK_SCROLLED_WINDOW(s), GTK_SHADOW_IN);
  gtk_container_add(GTK_CONTAINER(s), child);
  return s;
}

void fill_list(GtkWidget* view, const std::vector<std::string>& lines) {
  GtkListStore* store = GTK_LIST_STORE(gtk_tree_view_get_model(GTK_TREE_VIEW(view)));
  gtk_list_store_clear(store);
  for (const std::string& l : lines) gtk_list_store_insert_with_values(store, nullptr, -1, 0, l.c_str(), -1);
}

GtkWidget* dialog_new(GtkWidget* parent, const std::string& title) {
  GtkWidget* d = gtk_dialog_new();
  gtk_window_set_title(GTK_WINDOW(d), title.c_str());
  gtk_window_set_transient_for(GTK_WINDOW(d), GTK_WINDOW(parent));
  gtk_window_set_modal(GTK_WINDOW(d), TRUE);
  gtk_window_set_resizable(GTK_WINDOW(d), FALSE);
  gtk_window_set_icon_name(GTK_WINDOW(d), "orvl");
  GtkWidget* exit = gtk_dialog_add_button(GTK_DIALOG(d), "EXIT", kExit);
  gtk_widget_set_name(exit, "1");
  gtk_dialog_set_default_response(GTK_DIALOG(d), kExit);
  gtk_container_set_border_width(GTK_CONTAINER(gtk_dialog_get_content_area(GTK_DIALOG(d))), 10);
  gtk_box_set_spacing(GTK_BOX(gtk_dialog_get_content_area(GTK_DIALOG(d))), 6);
  return d;
}

GtkWidget* labelled_row(GtkWidget* grid, int row, const char* label, GtkWidget* w) {
  GtkWidget* l = gtk_label_new(label);
  gtk_widget_set_halign(l, GTK_ALIGN_START);
  gtk_grid_attach(GTK_GRID(grid), l, 0, row, 1, 1);
  gtk_grid_attach(GTK_GRID(grid), w, 1, row, 1, 1);
  return w;
}

}  // namespace

// Counts what runs a loop of its own over the window (dialogs, file choosers, the show).
struct GtkPanel::Busy {
  explicit Busy(int& n) : n_(n) { ++n_; }
  ~Busy() { --n_; }
  int& n_;
};

// The show's own windows, alive while it plays.
struct GtkPanel::Private {
  GtkWidget* loading = nullptr;
  GtkWidget* loading_line = nullptr;
  GtkWidget* precalc = nullptr;
  GtkWidget* precalc_scene = nullptr;
  GtkWidget* precalc_bar = nullptr;
  int precalc_scene_index = -1;

  void close_loading() {
    if (loading) gtk_widget_destroy(loading);
    loading = loading_line = nullptr;
  }
  void close_precalc() {
    if (precalc) gtk_widget_destroy(precalc);
    precalc = precalc_scene = precalc_bar = nullptr;
    precalc_scene_index = -1;
  }
};

namespace {

GtkWidget* show_window(GtkWidget* parent, const std::string& text, GtkWidget** line, GtkWidget** bar) {
  GtkWidget* w = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  gtk_window_set_title(GTK_WINDOW(w), kWindowTitle);
  gtk_window_set_transient_for(GTK_WINDOW(w), GTK_WINDOW(parent));
  gtk_window_set_deletable(GTK_WINDOW(w), FALSE);
  gtk_window_set_resizable(GTK_WINDOW(w), FALSE);
  gtk_window_set_position(GTK_WINDOW(w), GTK_WIN_POS_CENTER_ON_PARENT);
  GtkWidget* box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 6);
  gtk_container_set_border_width(GTK_CONTAINER(box), 12);
  gtk_container_add(GTK_CONTAINER(w), box);
  gtk_box_pack_start(GTK_BOX(box), gtk_label_new(text.c_str()), FALSE, FALSE, 0);
  *line = gtk_label_new("");
  gtk_label_set_ellipsize(GTK_LABEL(*line), PANGO_ELLIPSIZE_START);
  gtk_label_set_width_chars(GTK_LABEL(*line), 48);
  gtk_box_pack_start(GTK_BOX(box), *line, FALSE, FALSE, 0);
  if (bar) {
    *bar = gtk_progress_bar_new();
    gtk_progress_bar_set_show_text(GTK_PROGRESS_BAR(*bar), TRUE);
    gtk_box_pack_start(GTK_BOX(box), *bar, FALSE, FALSE, 0);
  }
  gtk_widget_show_all(w);
  pump_events();
  return w;
}

}  // namespace

GtkPanel::GtkPanel(GtkApplication* app, Options& options, const SoundApi* sound)
    : model_(std::make_unique<PanelModel>(options, *this, sound)), p_(std::make_unique<Private>()) {
  window_ = gtk_application_window_new(app);
  gtk_application_window_set_show_menubar(GTK_APPLICATION_WINDOW(window_), FALSE);
  gtk_window_set_title(GTK_WINDOW(window_), kWindowTitle);
  if (GdkPixbuf* icon = splash_pixbuf()) {
    gtk_window_set_icon(GTK_WINDOW(window_), icon);
    g_object_unref(icon);
  }
  gtk_window_set_position(GTK_WINDOW(window_), GTK_WIN_POS_CENTER);
  g_signal_connect(window_, "delete-event", G_CALLBACK(+[](GtkWidget*, GdkEvent*, gpointer self) -> gboolean {
                     auto* panel = static_cast<GtkPanel*>(self);
                     // A dialog, a file chooser or a show still runs on this window's behalf.
                     if (panel->busy()) return TRUE;
                     panel->model().request_quit();
                     return FALSE;  // let it close
                   }),
                   this);
  g_signal_connect(window_, "destroy", G_CALLBACK(+[](GtkWidget*, gpointer self) {
                     static_cast<GtkPanel*>(self)->window_ = nullptr;
                   }),
                   this);
  GtkWidget* box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
  gtk_container_add(GTK_CONTAINER(window_), box);
  menu_bar_ = gtk_menu_bar_new();
  gtk_box_pack_start(GTK_BOX(box), menu_bar_, FALSE, FALSE, 0);
  build_menu();
  build_body(box);
  refresh();
  gtk_widget_show_all(window_);
  gtk_widget_grab_focus(widget(kPlaylist));
  message_box_set_handler([this](const MessageBoxRequest& r) { message(r.text, r.title, r.icon); });
}

GtkPanel::~GtkPanel() {
  message_box_set_handler({});
  p_->close_loading();
  p_->close_precalc();
  if (window_) gtk_widget_destroy(window_);
}

GtkWidget* GtkPanel::widget(int id) const {
  auto it = widgets_.find(id);
  return it == widgets_.end() ? nullptr : it->second;
}

GtkWidget* GtkPanel::menu_item(int id) const {
  auto it = menu_items_.find(id);
  return it == menu_items_.end() ? nullptr : it->second;
}

void GtkPanel::build_menu() {
  std::vector<GtkWidget*> shells = {menu_bar_};
  for (const MenuEntry& e : panel_menu()) {
    shells.resize(size_t(e.depth) + 1);
    GtkWidget* shell = shells.back();
    GtkWidget* item = nullptr;
    switch (e.kind) {
      case MenuEntryKind::separator: item = gtk_separator_menu_item_new(); break;
      case MenuEntryKind::check: item = gtk_check_menu_item_new_with_mnemonic(mnemonic_label(e.label).c_str()); break;
      case MenuEntryKind::submenu:
      case MenuEntryKind::command: item = gtk_menu_item_new_with_mnemonic(mnemonic_label(e.label).c_str()); break;
    }
    gtk_menu_shell_append(GTK_MENU_SHELL(shell), item);
    if (e.kind == MenuEntryKind::submenu) {
      GtkWidget* sub = gtk_menu_new();
      gtk_menu_item_set_submenu(GTK_MENU_ITEM(item), sub);
      shells.push_back(sub);
    } else if (e.id != 0) {
      g_object_set_data(G_OBJECT(item), kIdKey, GINT_TO_POINTER(e.id));
      gtk_widget_set_name(item, std::to_string(e.id).c_str());
      menu_items_[e.id] = item;
      g_signal_connect(item, "activate", G_CALLBACK(+[](GtkMenuItem* it, gpointer self) {
                         auto* panel = static_cast<GtkPanel*>(self);
                         if (panel->refreshing_) return;  // a check mark being set, not a command
                         panel->activate(GPOINTER_TO_INT(g_object_get_data(G_OBJECT(it), kIdKey)));
                       }),
                       this);
    }
  }
}

void GtkPanel::build_body(GtkWidget* box) {
  GtkWidget* body = gtk_grid_new();
  gtk_container_set_border_width(GTK_CONTAINER(body), 8);
  gtk_grid_set_row_spacing(GTK_GRID(body), 6);
  gtk_grid_set_column_spacing(GTK_GRID(body), 8);
  gtk_box_pack_start(GTK_BOX(box), body, TRUE, TRUE, 0);

  GtkWidget* playlist = list_view(gtk_list_store_new(1, G_TYPE_STRING), "1000", true);
  widgets_[kPlaylist] = playlist;
  GtkWidget* frame = gtk_frame_new("Playlist");
  gtk_container_add(GTK_CONTAINER(frame), scrolled(playlist, 160));
  gtk_widget_set_hexpand(frame, TRUE);
  gtk_widget_set_size_request(frame, 420, -1);
  gtk_grid_attach(GTK_GRID(body), frame, 0, 0, 1, 1);

  GtkWidget* buttons = gtk_box_new(GTK_ORIENTATION_VERTICAL, 4);
  struct ButtonDef {
    int id;
    const char* label;
  };
  const ButtonDef defs[] = {{kInsertButton, "Insert scene(s)"},
                            {kRemoveButton, "Remove"},
                            {kRenderingButton, "Rendering"},
                            {kCommonRenderingButton, "Common Rendering"},
                            {kPlayPlaylistButton, "Play playlist"}};
  for (const ButtonDef& d : defs) {
    GtkWidget* b = gtk_button_new_with_label(d.label);
    gtk_widget_set_name(b, std::to_string(d.id).c_str());
    g_object_set_data(G_OBJECT(b), kIdKey, GINT_TO_POINTER(d.id));
    g_signal_connect(b, "clicked", G_CALLBACK(+[](GtkButton* button, gpointer self) {
                       static_cast<GtkPanel*>(self)->activate(
                           GPOINTER_TO_INT(g_object_get_data(G_OBJECT(button), kIdKey)));
                     }),
                     this);
    widgets_[d.id] = b;
    gtk_box_pack_start(GTK_BOX(buttons), b, FALSE, FALSE, 0);
  }
  gtk_grid_attach(GTK_GRID(body), buttons, 1, 0, 1, 1);

  ControlWindow& cw = control_window();
  GtkWidget* settings = gtk_grid_new();
  gtk_grid_set_row_spacing(GTK_GRID(settings), 4);
  gtk_grid_set_column_spacing(GTK_GRID(settings), 8);
  GtkWidget* modes = gtk_combo_box_text_new();
  gtk_widget_set_name(modes, "1059");
  for (const std::string& l : cw.mode_lines) gtk_combo_box_text_append_text(GTK_COMBO_BOX_TEXT(modes), l.c_str());
  gtk_combo_box_set_active(GTK_COMBO_BOX(modes), cw.mode_selection);
  g_signal_connect(modes, "changed", G_CALLBACK(+[](GtkComboBox* c, gpointer) {
                     control_window().mode_selection = gtk_combo_box_get_active(c);
                   }),
                   nullptr);
  widgets_[kDisplayModes] = labelled_row(settings, 0, "Display mode", modes);
  GtkWidget* steps = gtk_combo_box_text_new();
  gtk_widget_set_name(steps, "1060");
  for (const std::string& l : cw.precalc_lines) gtk_combo_box_text_append_text(GTK_COMBO_BOX_TEXT(steps), l.c_str());
  gtk_combo_box_set_active(GTK_COMBO_BOX(steps), cw.precalc_selection);
  g_signal_connect(steps, "changed", G_CALLBACK(+[](GtkComboBox* c, gpointer) {
                     control_window().precalc_selection = gtk_combo_box_get_active(c);
                   }),
                   nullptr);
  widgets_[kPrecalcSteps] = labelled_row(settings, 1, "Precalculation", steps);
  GtkWidget* track = gtk_scale_new_with_range(GTK_ORIENTATION_HORIZONTAL, 0, 4, 1);
  gtk_widget_set_name(track, "1058");
  gtk_scale_set_digits(GTK_SCALE(track), 0);
  gtk_range_set_value(GTK_RANGE(track), cw.track_bar);
  g_signal_connect(track, "value-changed", G_CALLBACK(+[](GtkRange* r, gpointer) {
                     control_window().track_bar = static_cast<int>(gtk_range_get_value(r) + 0.5);
                   }),
                   nullptr);
  widgets_[kTrackBar] = labelled_row(settings, 2, "Track bar", track);
  gtk_grid_attach(GTK_GRID(body), settings, 0, 1, 2, 1);

  GtkWidget* log = list_view(gtk_list_store_new(1, G_TYPE_STRING), "1063", false);
  widgets_[kLog] = log;
  GtkWidget* log_frame = gtk_frame_new("Log");
  gtk_container_add(GTK_CONTAINER(log_frame), scrolled(log, 140));
  gtk_widget_set_vexpand(log_frame, TRUE);
  gtk_grid_attach(GTK_GRID(body), log_frame, 0, 2, 2, 1);
}

void GtkPanel::activate(int id) {
  model_->command(id);
  if (model_->quit_requested() && window_) gtk_widget_destroy(window_);
}

void GtkPanel::refresh() {
  refreshing_ = true;
  fill_list(widget(kPlaylist), model_->playlist());
  for (auto& [id, w] : widgets_) gtk_widget_set_sensitive(w, model_->enabled(id));
  for (auto& [id, item] : menu_items_) {
    gtk_widget_set_sensitive(item, model_->enabled(id));
    if (GTK_IS_CHECK_MENU_ITEM(item)) gtk_check_menu_item_set_active(GTK_CHECK_MENU_ITEM(item), model_->checked(id));
  }
  GtkWidget* log = widget(kLog);
  fill_list(log, log_lines());
  // The log keeps its last line selected and in view, as lines are appended.
  const int n = static_cast<int>(log_lines().size());
  if (n > 0) {
    GtkTreePath* path = gtk_tree_path_new_from_indices(n - 1, -1);
    gtk_tree_selection_select_path(gtk_tree_view_get_selection(GTK_TREE_VIEW(log)), path);
    gtk_tree_view_scroll_to_cell(GTK_TREE_VIEW(log), path, nullptr, FALSE, 0, 0);
    gtk_tree_path_free(path);
  }
  refreshing_ = false;
}

void GtkPanel::set_window_enabled(bool enabled) {
  if (window_) gtk_widget_set_sensitive(window_, enabled);
  control_window().enabled = enabled;
}

void GtkPanel::set_window_visible(bool visible) {
  control_window().visible = visible;
  if (visible) {
    gtk_widget_show(window_);
    gtk_window_present(GTK_WINDOW(window_));
  } else {
    gtk_widget_hide(window_);
  }
  pump_events();
}

void GtkPanel::focus_window() { gtk_window_present(GTK_WINDOW(window_)); }

std::vector<std::string> GtkPanel::choose_files(const OpenFileRequest& r) {
  Busy busy(busy_);
  GtkFileChooserNative* chooser = gtk_file_chooser_native_new(r.title.c_str(), GTK_WINDOW(window_),
                                                             GTK_FILE_CHOOSER_ACTION_OPEN, "_Open", "_Cancel");
  GtkFileChooser* fc = GTK_FILE_CHOOSER(chooser);
  gtk_file_chooser_set_select_multiple(fc, r.multiple);
  gtk_file_chooser_set_local_only(fc, TRUE);
  for (const FileFilter& f : r.filters) {
    GtkFileFilter* filter = gtk_file_filter_new();
    gtk_file_filter_set_name(filter, f.name.c_str());
    size_t start = 0;
    while (start <= f.patterns.size()) {
      size_t end = f.patterns.find(';', start);
      if (end == std::string::npos) end = f.patterns.size();
      if (end > start) gtk_file_filter_add_pattern(filter, any_case_pattern(f.patterns.substr(start, end - start)).c_str());
      start = end + 1;
    }
    gtk_file_chooser_add_filter(fc, filter);
  }
  if (!r.initial_directory.empty()) gtk_file_chooser_set_current_folder(fc, r.initial_directory.c_str());
  std::vector<std::string> out;
  if (gtk_native_dialog_run(GTK_NATIVE_DIALOG(chooser)) == GTK_RESPONSE_ACCEPT) {
    GSList* names = gtk_file_chooser_get_filenames(fc);
    for (GSList* n = names; n; n = n->next) {
      out.emplace_back(static_cast<char*>(n->data));
      g_free(n->data);
    }
    g_slist_free(names);
  }
  g_object_unref(chooser);
  return out;
}

bool GtkPanel::choose_folder(const std::string& title, std::string* folder) {
  Busy busy(busy_);
  GtkFileChooserNative* chooser = gtk_file_chooser_native_new(
      title.c_str(), GTK_WINDOW(dialog_ ? dialog_ : window_), GTK_FILE_CHOOSER_ACTION_SELECT_FOLDER, "_Select", "_Cancel");
  gtk_file_chooser_set_local_only(GTK_FILE_CHOOSER(chooser), TRUE);
  bool chosen = false;
  if (gtk_native_dialog_run(GTK_NATIVE_DIALOG(chooser)) == GTK_RESPONSE_ACCEPT) {
    if (char* name = gtk_file_chooser_get_filename(GTK_FILE_CHOOSER(chooser))) {
      *folder = name;
      g_free(name);
      chosen = true;
    }
  }
  g_object_unref(chooser);
  return chosen;
}

int GtkPanel::run_dialog(GtkWidget* dialog) {
  Busy busy(busy_);
  GtkWidget* outer = dialog_;
  dialog_ = dialog;
  gtk_widget_show_all(dialog);
  const int response = gtk_dialog_run(GTK_DIALOG(dialog));
  dialog_ = outer;
  return response;
}

void GtkPanel::message(const std::string& text, const std::string& title, MessageIcon icon) {
  GtkWidget* parent = dialog_ ? dialog_ : window_;
  GtkWidget* box = gtk_message_dialog_new(GTK_WINDOW(parent), GTK_DIALOG_MODAL, message_type(icon), GTK_BUTTONS_OK,
                                          "%s", text.c_str());
  gtk_window_set_title(GTK_WINDOW(box), title.c_str());
  run_dialog(box);
  gtk_widget_destroy(box);
}

std::vector<int> GtkPanel::playlist_selection() {
  std::vector<int> out;
  GtkTreeSelection* sel = gtk_tree_view_get_selection(GTK_TREE_VIEW(widget(kPlaylist)));
  GList* rows = gtk_tree_selection_get_selected_rows(sel, nullptr);
  for (GList* r = rows; r; r = r->next) {
    GtkTreePath* path = static_cast<GtkTreePath*>(r->data);
    if (gtk_tree_path_get_depth(path) > 0) out.push_back(gtk_tree_path_get_indices(path)[0]);
  }
  g_list_free_full(rows, reinterpret_cast<GDestroyNotify>(gtk_tree_path_free));
  return out;
}

void GtkPanel::run_about(const AboutText& about) {
  GtkWidget* d = dialog_new(window_, about.title);
  GtkWidget* area = gtk_dialog_get_content_area(GTK_DIALOG(d));
  if (GdkPixbuf* pb = splash_pixbuf()) {
    gtk_box_pack_start(GTK_BOX(area), gtk_image_new_from_pixbuf(pb), FALSE, FALSE, 0);
    g_object_unref(pb);
  }
  GtkWidget* product = gtk_label_new(nullptr);
  gchar* markup = g_markup_printf_escaped("<b>%s</b>", about.product.c_str());
  gtk_label_set_markup(GTK_LABEL(product), markup);
  g_free(markup);
  gtk_box_pack_start(GTK_BOX(area), product, FALSE, FALSE, 0);
  gtk_box_pack_start(GTK_BOX(area), gtk_label_new(about.version.c_str()), FALSE, FALSE, 0);
  gtk_box_pack_start(GTK_BOX(area), gtk_label_new("A real-time player for LightWave 5.x scenes."), FALSE, FALSE, 0);
  GtkWidget* build = gtk_label_new(about.build_line.c_str());
  gtk_widget_set_name(build, "1040");
  gtk_box_pack_start(GTK_BOX(area), build, FALSE, FALSE, 0);
  (void)run_dialog(d);  // EXIT, Escape or the window's close button
  gtk_widget_destroy(d);
}

void GtkPanel::run_configuration(ConfigDialog& dialog) {
  GtkWidget* d = dialog_new(window_, dialog.title);
  GtkWidget* area = gtk_dialog_get_content_area(GTK_DIALOG(d));
  auto check = [&](int id, const char* label, bool on) {
    GtkWidget* c = gtk_check_button_new_with_label(label);
    gtk_widget_set_name(c, std::to_string(id).c_str());
    gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(c), on);
    gtk_box_pack_start(GTK_BOX(area), c, FALSE, FALSE, 0);
    return c;
  };
  GtkWidget* splash = check(kCfgSplash, "Show splash screen at startup", dialog.show_splash);
  GtkWidget* warn_res =
      check(kCfgWarnResolution, "Warn when current resolution differs from precalculated file", dialog.warn_resolution);
  GtkWidget* warnings =
      check(kCfgWarnings, "Show warning message boxes used while loading scene(s)", dialog.show_warnings);
  GtkWidget* row = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 6);
  gtk_box_pack_start(GTK_BOX(row), gtk_label_new("LightWave 5.X root directory"), FALSE, FALSE, 0);
  GtkWidget* entry = gtk_entry_new();
  gtk_widget_set_name(entry, "1029");
  gtk_entry_set_width_chars(GTK_ENTRY(entry), 40);
  gtk_entry_set_text(GTK_ENTRY(entry), dialog.root.c_str());
  gtk_box_pack_start(GTK_BOX(row), entry, TRUE, TRUE, 0);
  GtkWidget* search = gtk_button_new_with_label("Search...");
  gtk_widget_set_name(search, "1030");
  gtk_box_pack_start(GTK_BOX(row), search, FALSE, FALSE, 0);
  gtk_box_pack_start(GTK_BOX(area), row, FALSE, FALSE, 0);

  struct SearchContext {
    GtkPanel* panel;
    ConfigDialog* dialog;
    GtkWidget* entry;
  } ctx{this, &dialog, entry};
  g_signal_connect(search, "clicked", G_CALLBACK(+[](GtkButton*, gpointer data) {
                     auto* c = static_cast<SearchContext*>(data);
                     c->dialog->root = gtk_entry_get_text(GTK_ENTRY(c->entry));
                     c->panel->model().config_search(*c->dialog);
                     gtk_entry_set_text(GTK_ENTRY(c->entry), c->dialog->root.c_str());
                     gtk_widget_grab_focus(c->entry);
                   }),
                   &ctx);
  gtk_widget_grab_focus(entry);
  for (;;) {
    const int response = run_dialog(d);
    if (response != kExit) break;  // closed by the window manager: nothing is taken
    dialog.show_splash = gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(splash));
    dialog.warn_resolution = gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(warn_res));
    dialog.show_warnings = gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(warnings));
    dialog.root = gtk_entry_get_text(GTK_ENTRY(entry));
    if (model_->config_exit(dialog)) break;
    gtk_widget_grab_focus(entry);
  }
  gtk_widget_destroy(d);
}

void GtkPanel::run_sound_device(const SoundDeviceDialog& dialog) {
  GtkWidget* d = dialog_new(window_, dialog.title);
  GtkWidget* area = gtk_dialog_get_content_area(GTK_DIALOG(d));
  auto text = [&](int id) {
    auto it = dialog.texts.find(id);
    GtkWidget* e = gtk_entry_new();
    gtk_widget_set_name(e, std::to_string(id).c_str());
    gtk_entry_set_text(GTK_ENTRY(e), it == dialog.texts.end() ? "" : it->second.c_str());
    gtk_editable_set_editable(GTK_EDITABLE(e), FALSE);
    return e;
  };
  GtkWidget* grid = gtk_grid_new();
  gtk_grid_set_row_spacing(GTK_GRID(grid), 4);
  gtk_grid_set_column_spacing(GTK_GRID(grid), 8);
  labelled_row(grid, 0, "Device", text(kSndDescription));
  labelled_row(grid, 1, "Minimum sample rate", text(kSndMinRate));
  labelled_row(grid, 2, "Maximum sample rate", text(kSndMaxRate));
  labelled_row(grid, 3, "Total hardware memory", text(kSndMemTotal));
  labelled_row(grid, 4, "Free hardware memory", text(kSndMemFree));
  gtk_box_pack_start(GTK_BOX(area), grid, FALSE, FALSE, 0);
  const std::pair<int, const char*> checks[] = {{kSndCertified, "Microsoft certified device driver"},
                                                {kSndHardware, "Hardware DirectSound Support"},
                                                {kSndMono, "Mono hardware mixing"},
                                                {kSndStereo, "Stereo hardware mixing"},
                                                {kSnd8Bits, "8-bit hardware mixing"},
                                                {kSnd16Bits, "16-bit hardware mixing"}};
  for (const auto& [id, label] : checks) {
    GtkWidget* c = gtk_check_button_new_with_label(label);
    gtk_widget_set_name(c, std::to_string(id).c_str());
    auto it = dialog.checks.find(id);
    gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(c), it != dialog.checks.end() && it->second);
    gtk_widget_set_sensitive(c, FALSE);  // a report, not a setting
    gtk_box_pack_start(GTK_BOX(area), c, FALSE, FALSE, 0);
  }
  (void)run_dialog(d);
  gtk_widget_destroy(d);
}

bool GtkPanel::open_document(const std::string& path) {
  GFile* file = g_file_new_for_path(path.c_str());
  gchar* uri = g_file_get_uri(file);
  g_object_unref(file);
  GError* error = nullptr;
  const gboolean ok = g_app_info_launch_default_for_uri(uri, nullptr, &error);
  if (error) {
    log_line(std::string("Documentation : ") + error->message);
    g_error_free(error);
  }
  g_free(uri);
  return ok;
}

void GtkPanel::play(const ShowRequest& request) {
  Busy busy(busy_);
  Private& p = *p_;
  gtk_widget_set_sensitive(window_, FALSE);
  pump_events();
  ShowHost host;
  host.loading_open = [&](const std::string& text) {
    p.close_loading();
    p.loading = show_window(window_, text, &p.loading_line, nullptr);
  };
  host.loading_progress = [&](int k, int n, const std::string& path) {
    if (!p.loading_line) return;
    const std::string line = "Scene " + std::to_string(k) + " of " + std::to_string(n) + " : " + path;
    gtk_label_set_text(GTK_LABEL(p.loading_line), line.c_str());
    pump_events();
  };
  host.loading_close = [&] { p.close_loading(); };
  host.precalc_dialog_open = [&](const std::string& text) {
    p.close_precalc();
    p.precalc = show_window(window_, text, &p.precalc_scene, &p.precalc_bar);
  };
  host.precalc_dialog_scene = [&](const std::string& path) {
    if (p.precalc_scene) gtk_label_set_text(GTK_LABEL(p.precalc_scene), path.c_str());
    pump_events();
  };
  host.precalc_dialog_close = [&] { p.close_precalc(); };
  host.message_box = [this](const std::string& text, const std::string& title, MessageKind kind) {
    message(text, title, kind == MessageKind::warning ? MessageIcon::warning : MessageIcon::error);
  };
  host.control_window_focus = [this] { focus_window(); };
  host.precalc_progress = [&](int, float percent) {
    if (p.precalc_bar)
      gtk_progress_bar_set_fraction(GTK_PROGRESS_BAR(p.precalc_bar), std::clamp(double(percent) / 100.0, 0.0, 1.0));
  };
  host.precalc_result = [](int, const std::string& path, bool written) {
    log_line(path + (written ? " : precalculation file written." : " : no precalculation file written."));
  };
  host.after_frame = [&](int k, const Scene& s) {
    if (p.precalc_scene && k != p.precalc_scene_index) {
      p.precalc_scene_index = k;
      gtk_label_set_text(GTK_LABEL(p.precalc_scene), s.path.c_str());
      if (p.precalc_bar) gtk_progress_bar_set_fraction(GTK_PROGRESS_BAR(p.precalc_bar), 0.0);
    }
    pump_events();
  };
  const ShowResult result = panel_run_show(request, model_->sound_format(), windowed_, host);
  p.close_loading();
  p.close_precalc();
  log_line(std::string("Show ") + show_result_text(result) + ".");
  ++shows_played_;
  gtk_widget_set_sensitive(window_, TRUE);
  refresh();
  gtk_window_present(GTK_WINDOW(window_));
  pump_events();
}

// ---- orvl panel ----------------------------------------------------------------------

namespace {

struct PanelRun {
  Options* options = nullptr;
  bool windowed = false;
  std::unique_ptr<GtkPanel> panel;
  std::vector<std::string> playlist;
  PanelSettings saved;
};

// `--windowed` is the only argument; false with the message printed for anything else.
bool panel_arguments(const std::vector<std::string>& input, PanelRun& run) {
  std::vector<std::string> args = input;
  for (auto it = args.begin(); it != args.end();) {
    if (*it == "--windowed") {
      run.windowed = true;
      it = args.erase(it);
    } else {
      ++it;
    }
  }
  if (!args.empty()) {
    std::fprintf(stderr, "orvl panel: unexpected argument %s (try 'orvl help')\n", args.front().c_str());
    return false;
  }
  return true;
}

// GTK on the session's display; false with the message printed when there is none.
bool panel_open_display() {
  if (!window_display_available()) {
    std::fprintf(stderr, "orvl panel: no display (DISPLAY or WAYLAND_DISPLAY) to open the control window on\n");
    return false;
  }
  int argc = 0;
  if (!gtk_init_check(&argc, nullptr)) {
    std::fprintf(stderr, "orvl panel: cannot open the display\n");
    return false;
  }
  return true;
}

// The sound library and a GL context, under the splash. 0 when both are there, else the
// exit status, with everything opened so far released again.
int panel_load_engine(Splash& splash) {
  SoundLoadStatus sound = sound_library_load();
  if (sound != SoundLoadStatus::ok) {
    splash.close();
    control_window_destroy();
    return kSoundLoadFailureExitCode;
  }
  if (gl_probe(DisplayBackend::automatic) != GlProbeResult::ok) {
    sound_library_release();
    splash.close();
    message_box_show("GL context creation failed", "OpenGL initialization failure", MessageIcon::error);
    control_window_destroy();
    return -1;
  }
  return 0;
}

// The start-up playlist from the defaults, then the saved options over them.
void panel_restore(PanelRun& run) {
  Options& opt = *run.options;
  control_fill_lists();
  const PlaylistRestore restore = options_apply_defaults(opt);
  run.playlist = panel_playlist_paths(restore);
  if (run.saved.present) {
    const std::string root = opt.lightwave_root;
    opt = run.saved.options;
    // The saved root only counts when it still leads somewhere.
    if (!opt.lightwave_root.empty() && ::access(opt.lightwave_root.c_str(), X_OK) != 0) opt.lightwave_root = root;
  }
}

// The application whose activation builds the window and hands it the restored state.
GtkApplication* panel_application(PanelRun& run) {
  GtkApplication* app = gtk_application_new("org.orvl.Panel", G_APPLICATION_NON_UNIQUE);
  g_signal_connect(app, "activate", G_CALLBACK(+[](GtkApplication* a, gpointer data) {
                     auto* r = static_cast<PanelRun*>(data);
                     if (r->panel) return;
                     r->panel = std::make_unique<GtkPanel>(a, *r->options, &sound_api());
                     r->panel->set_windowed(r->windowed);
                     PanelModel& m = r->panel->model();
                     m.set_playlist(r->playlist);
                     if (r->saved.present) {
                       m.sync_checks_from_options();
                       m.set_music(r->saved.music);
                       m.insert_directory() = r->saved.scene_directory;
                       m.music_directory() = r->saved.music_directory;
                     }
                     r->panel->refresh();
                   }),
                   &run);
  return app;
}

// A session that ends (or Ctrl+C in a terminal) closes the window the ordinary way, so the
// configuration is still written.
void panel_close_on_signals(PanelRun& run) {
  for (int sig : {SIGTERM, SIGINT, SIGHUP}) {
    g_unix_signal_add(sig, +[](gpointer data) -> gboolean {
      auto* r = static_cast<PanelRun*>(data);
      if (!r->panel) return G_SOURCE_CONTINUE;
      // Whatever runs over the window (a dialog, a show) finishes first; then it closes.
      g_timeout_add(100, +[](gpointer d) -> gboolean {
        auto* run = static_cast<PanelRun*>(d);
        GtkPanel* panel = run->panel.get();
        if (!panel || !panel->window()) return G_SOURCE_REMOVE;
        if (GtkWidget* dialog = panel->open_dialog()) gtk_dialog_response(GTK_DIALOG(dialog), GTK_RESPONSE_DELETE_EVENT);
        if (panel->busy()) return G_SOURCE_CONTINUE;
        panel->activate(kCmdExit);
        return G_SOURCE_REMOVE;
      }, r);
      return G_SOURCE_CONTINUE;
    }, &run);
  }
}

// Orvl.ini after the window has closed: the playlist, options, music and folders it left.
void panel_save(const PanelRun& run, const std::string& config_read) {
  if (!run.panel) return;
  PanelModel& m = run.panel->model();
  const std::string path = panel_config_write_path(config_read);
  std::string error;
  if (path.empty()) {
    std::fprintf(stderr, "orvl panel: no place to write Orvl.ini (HOME is not set)\n");
  } else if (!panel_config_write(path,
                                 panel_config_text(m.playlist(), *run.options, m.music(), m.insert_directory(),
                                                   m.music_directory()),
                                 &error)) {
    std::fprintf(stderr, "orvl panel: %s\n", error.c_str());
  }
}

}  // namespace

int panel_main(const std::vector<std::string>& input) {
  PanelRun run;
  if (!panel_arguments(input, run) || !panel_open_display()) return 2;

  Options& opt = options();
  run.options = &opt;
  options_set_startup_flags(opt);
  control_window_create();
  display_setup(DisplaySetup{DisplayBackend::automatic, 1, false});

  // The saved options decide whether the splash shows, so they are read first.
  // Absolute: the configuration dialog may move the current directory before it is written.
  const std::string config_read = panel_absolute_path(options_config_path());
  Options defaults = opt;
  (void)options_apply_defaults(defaults);
  run.saved = panel_settings_read(config_read, defaults);

  Splash splash;
  if (run.saved.options.show_splash) splash.show();
  if (const int failed = panel_load_engine(splash); failed != 0) return failed;
  panel_restore(run);

  GtkApplication* app = panel_application(run);
  panel_close_on_signals(run);
  splash.close();
  const int status = g_application_run(G_APPLICATION(app), 0, nullptr);

  panel_save(run, config_read);
  run.panel.reset();
  g_object_unref(app);
  control_window_destroy();
  sound_library_release();
  return status;
}

}  // namespace orvl
