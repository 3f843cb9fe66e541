// The control panel on GTK 3: the control window as a visible desktop window with its menu.
//
// `GtkPanel` is the PanelUi of the command model: a GtkApplicationWindow with a menu bar
// built from panel_menu(), the playlist (multiple selection), the buttons, the display-mode
// and precalculation-step lists, the track bar and the log. File choices use
// GtkFileChooserNative (the filters match in any letter case, as the scene files' own
// Windows names did), the about, configuration and sound-device dialogs are modal
// GtkDialogs, message boxes are GtkMessageDialogs, the documentation opens with the
// desktop's default handler. While a show plays the window is insensitive; the loading and
// precalculation dialogs are small windows of their own, pumped from the show's frames.
//
// `panel_main` is `orvl panel`: the start-up pass (sound library, OpenGL check, lists,
// defaults, the saved playlist and options), the window until it is closed, then the
// configuration file written back. Single-threaded (GTK's main thread).
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "app/panel_model.h"

typedef struct _GtkWidget GtkWidget;
typedef struct _GtkApplication GtkApplication;

namespace orvl {

class GtkPanel final : public PanelUi {
 public:
  // Builds and shows the control window on `app` (registered or running).
  GtkPanel(GtkApplication* app, Options& options, const SoundApi* sound);
  ~GtkPanel() override;
  GtkPanel(const GtkPanel&) = delete;
  GtkPanel& operator=(const GtkPanel&) = delete;

  GtkWidget* window() const { return window_; }
  GtkWidget* menu_bar() const { return menu_bar_; }
  // Controls by identifier (buttons, playlist, lists, track bar, log) and menu items by
  // command identifier; null for an unknown one.
  GtkWidget* widget(int id) const;
  GtkWidget* menu_item(int id) const;
  PanelModel& model() { return *model_; }
  // The modal dialog open right now (about, configuration, sound device, message box), or
  // null; tests answer it from a timeout.
  GtkWidget* open_dialog() const { return dialog_; }
  // Plays the show in a window even when the full-screen option is on.
  void set_windowed(bool windowed) { windowed_ = windowed; }
  // The show played and the panel came back this many times.
  int shows_played() const { return shows_played_; }

  // PanelUi.
  void set_window_enabled(bool enabled) override;
  void set_window_visible(bool visible) override;
  std::vector<std::string> choose_files(const OpenFileRequest& request) override;
  bool choose_folder(const std::string& title, std::string* folder) override;
  void message(const std::string& text, const std::string& title, MessageIcon icon) override;
  std::vector<int> playlist_selection() override;
  void refresh() override;
  void run_about(const AboutText& about) override;
  void run_configuration(ConfigDialog& dialog) override;
  void run_sound_device(const SoundDeviceDialog& dialog) override;
  bool open_document(const std::string& path) override;
  void play(const ShowRequest& request) override;
  void focus_window() override;

  // Runs the command `id` as its button or menu item would.
  void activate(int id);
  // True while a dialog, a file chooser or a show runs its own loop over the window.
  bool busy() const { return busy_ > 0; }

 private:
  struct Private;
  struct Busy;
  void build_menu();
  void build_body(GtkWidget* box);
  int run_dialog(GtkWidget* dialog);

  std::unique_ptr<PanelModel> model_;
  std::unique_ptr<Private> p_;
  GtkWidget* window_ = nullptr;
  GtkWidget* menu_bar_ = nullptr;
  GtkWidget* dialog_ = nullptr;
  std::map<int, GtkWidget*> widgets_;
  std::map<int, GtkWidget*> menu_items_;
  bool refreshing_ = false;
  int busy_ = 0;
  bool windowed_ = false;
  int shows_played_ = 0;
};

// `orvl panel [--windowed]`. Returns the process exit code.
int panel_main(const std::vector<std::string>& args);

}  // namespace orvl
