// The GTK control panel on a display server of its own (Xvfb): the window, its menus and
// widgets, a dialog opened and closed through the menu, the show played from the panel,
// and a screenshot under the build folder.
#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "app/control_window.h"
#include "app/panel_gtk.h"
#include "platform/log.h"
#include "render/display.h"
#include "render/gl_caps.h"
#include "tools/lwob_writer.h"
#include "tools/lws_writer.h"
#include "support/object_fixtures.h"

namespace fs = std::filesystem;
using namespace orvl;
using namespace orvl::panel_id;

namespace {

// Starts Xvfb on a free display number and points DISPLAY at it for the whole program.
class XvfbEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    int fds[2];
    if (::pipe(fds) != 0) return;
    pid_ = ::fork();
    if (pid_ == 0) {
      ::close(fds[0]);
      // The server goes with the test, however the test ends, and keeps its chatter out of
      // the test's output.
      ::prctl(PR_SET_PDEATHSIG, SIGTERM);
      const int null_fd = ::open("/dev/null", O_RDWR);
      if (null_fd >= 0) {
        ::dup2(null_fd, 1);
        ::dup2(null_fd, 2);
      }
      const std::string fd = std::to_string(fds[1]);
      ::execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "1024x768x24", "-nolisten", "tcp",
               "+extension", "GLX", static_cast<char*>(nullptr));
      ::_exit(127);
    }
    ::close(fds[1]);
    std::string number;
    char c;
    while (::read(fds[0], &c, 1) == 1 && c != '\n') number += c;
    ::close(fds[0]);
    if (number.empty()) return;
    ::setenv("DISPLAY", (":" + number).c_str(), 1);
    ::unsetenv("WAYLAND_DISPLAY");
    ::setenv("SDL_AUDIODRIVER", "dummy", 1);
    ::setenv("GTK_A11Y", "none", 1);
    ::setenv("NO_AT_BRIDGE", "1", 1);
    started_ = true;
  }
  void TearDown() override {
    if (pid_ > 0) {
      ::kill(pid_, SIGTERM);
      ::waitpid(pid_, nullptr, 0);
    }
  }
  static bool started() { return started_; }

 private:
  pid_t pid_ = -1;
  static inline bool started_ = false;
};

const auto* const kXvfb = ::testing::AddGlobalTestEnvironment(new XvfbEnvironment);

void pump() {
  while (g_main_context_iteration(nullptr, FALSE)) {
  }
}

std::vector<GtkWidget*> children(GtkWidget* w) {
  std::vector<GtkWidget*> out;
  GList* list = gtk_container_get_children(GTK_CONTAINER(w));
  for (GList* l = list; l; l = l->next) out.push_back(GTK_WIDGET(l->data));
  g_list_free(list);
  return out;
}

GtkWidget* find_named(GtkWidget* root, const std::string& name) {
  if (name == gtk_widget_get_name(root)) return root;
  if (!GTK_IS_CONTAINER(root)) return nullptr;
  for (GtkWidget* c : children(root))
    if (GtkWidget* hit = find_named(c, name)) return hit;
  return nullptr;
}

// Answers the modal dialogs as they open: each step sees the dialog on top and says
// whether it has done its part.
struct DialogScript {
  GtkPanel* panel;
  std::vector<std::function<bool(GtkWidget*)>> steps;
  size_t next = 0;
  guint source = 0;
  void start() {
    source = g_timeout_add(
        30,
        +[](gpointer data) -> gboolean {
          auto* s = static_cast<DialogScript*>(data);
          GtkWidget* d = s->panel->open_dialog();
          if (d && gtk_widget_get_mapped(d) && s->next < s->steps.size() && s->steps[s->next](d)) ++s->next;
          return s->next < s->steps.size() ? G_SOURCE_CONTINUE : G_SOURCE_REMOVE;
        },
        this);
  }
};

bool save_screenshot(const std::string& path) {
  GdkWindow* root = gdk_get_default_root_window();
  GdkPixbuf* shot = gdk_pixbuf_get_from_window(root, 0, 0, gdk_window_get_width(root), gdk_window_get_height(root));
  if (!shot) return false;
  const bool ok = gdk_pixbuf_save(shot, path.c_str(), "png", nullptr, nullptr);
  g_object_unref(shot);
  return ok;
}

TEST(PanelGtk, WindowMenusDialogsAndTheShow) {
  ASSERT_TRUE(XvfbEnvironment::started()) << "Xvfb did not start";
  int argc = 0;
  ASSERT_TRUE(gtk_init_check(&argc, nullptr));
  log_set_echo(false);

  const fs::path dir = fs::temp_directory_path() / ("orvl_panel_gtk_" + std::to_string(::getpid()));
  fs::remove_all(dir);
  fs::create_directories(dir / "lw");
  const fs::path old_cwd = fs::current_path();
  const fs::path shot_dir = old_cwd;

  Options& opt = options();
  options_set_startup_flags(opt);
  (void)options_apply_defaults(opt);
  control_window_create();
  display_setup(DisplaySetup{DisplayBackend::automatic, 1, false});
  ASSERT_EQ(gl_probe(DisplayBackend::automatic), GlProbeResult::ok);
  control_fill_lists();

  GtkApplication* app = gtk_application_new("org.orvl.PanelTest", G_APPLICATION_NON_UNIQUE);
  ASSERT_TRUE(g_application_register(G_APPLICATION(app), nullptr, nullptr));
  {
    GtkPanel panel(app, opt, nullptr);
    panel.set_windowed(true);
    pump();

    // The window, its title and its menus.
    GtkWidget* win = panel.window();
    ASSERT_TRUE(GTK_IS_APPLICATION_WINDOW(win));
    EXPECT_STREQ(gtk_window_get_title(GTK_WINDOW(win)), "Orvalis v1.6");
    EXPECT_TRUE(gtk_widget_get_visible(win));
    std::vector<std::string> top;
    for (GtkWidget* item : children(panel.menu_bar())) top.push_back(gtk_menu_item_get_label(GTK_MENU_ITEM(item)));
    EXPECT_EQ(top, (std::vector<std::string>{"_File", "_Configuration", "_Help"}));
    for (const MenuEntry& e : panel_menu()) {
      if (e.id == 0) continue;
      GtkWidget* item = panel.menu_item(e.id);
      ASSERT_NE(item, nullptr) << e.label;
      EXPECT_EQ(GTK_IS_CHECK_MENU_ITEM(item), e.kind == MenuEntryKind::check) << e.label;
    }
    GtkWidget* help = gtk_menu_item_get_submenu(GTK_MENU_ITEM(children(panel.menu_bar())[2]));
    EXPECT_EQ(gtk_menu_item_get_label(GTK_MENU_ITEM(children(help)[0])), std::string("_View HTML Doc..."));
    EXPECT_TRUE(gtk_check_menu_item_get_active(GTK_CHECK_MENU_ITEM(panel.menu_item(kCmdZBuffer))));
    EXPECT_FALSE(gtk_check_menu_item_get_active(GTK_CHECK_MENU_ITEM(panel.menu_item(kCmdWaitVsync))));

    // Widgets, and the enables of an empty playlist.
    EXPECT_TRUE(GTK_IS_TREE_VIEW(panel.widget(kPlaylist)));
    EXPECT_STREQ(gtk_button_get_label(GTK_BUTTON(panel.widget(kInsertButton))), "Insert scene(s)");
    EXPECT_STREQ(gtk_button_get_label(GTK_BUTTON(panel.widget(kCommonRenderingButton))), "Common Rendering");
    EXPECT_FALSE(gtk_widget_get_sensitive(panel.widget(kRenderingButton)));
    EXPECT_FALSE(gtk_widget_get_sensitive(panel.menu_item(kCmdRemoveAll)));
    EXPECT_TRUE(gtk_widget_get_sensitive(panel.widget(kInsertButton)));
    // The display-mode list holds what SDL lists for this screen (Xvfb's one 1024x768 mode).
    GtkComboBox* modes = GTK_COMBO_BOX(panel.widget(kDisplayModes));
    GtkTreeModel* mode_model = gtk_combo_box_get_model(modes);
    ASSERT_GE(gtk_tree_model_iter_n_children(mode_model, nullptr), 1);
    GtkTreeIter first_iter;
    ASSERT_TRUE(gtk_tree_model_get_iter_first(mode_model, &first_iter));
    gchar* first_text = nullptr;
    gtk_tree_model_get(mode_model, &first_iter, 0, &first_text, -1);
    const std::string first_mode = first_text ? first_text : "";
    g_free(first_text);
    EXPECT_EQ(first_mode.rfind("1024x768 (", 0), 0u) << first_mode;
    GtkComboBox* steps = GTK_COMBO_BOX(panel.widget(kPrecalcSteps));
    EXPECT_EQ(gtk_combo_box_get_active(steps), 1);
    EXPECT_STREQ(gtk_combo_box_text_get_active_text(GTK_COMBO_BOX_TEXT(steps)), "preca. step 2");

    // A check item from the menu: the mark and the option follow the toggle rule.
    gtk_menu_item_activate(GTK_MENU_ITEM(panel.menu_item(kCmdZBuffer)));
    EXPECT_FALSE(opt.z_buffer);
    EXPECT_FALSE(gtk_check_menu_item_get_active(GTK_CHECK_MENU_ITEM(panel.menu_item(kCmdZBuffer))));
    gtk_menu_item_activate(GTK_MENU_ITEM(panel.menu_item(kCmdZBuffer)));
    EXPECT_TRUE(opt.z_buffer);
    EXPECT_TRUE(gtk_check_menu_item_get_active(GTK_CHECK_MENU_ITEM(panel.menu_item(kCmdZBuffer))));

    // The about dialog through its menu item: open, looked at, photographed, closed by EXIT.
    std::string about_title, build_line;
    bool shot_ok = false;
    int about_ticks = 0;
    DialogScript about{&panel,
                       {[&](GtkWidget* d) {
                         if (++about_ticks < 6) return false;  // let it paint before the picture
                         about_title = gtk_window_get_title(GTK_WINDOW(d));
                         if (GtkWidget* l = find_named(d, "1040")) build_line = gtk_label_get_text(GTK_LABEL(l));
                         shot_ok = save_screenshot((shot_dir / "panel_about.png").string());
                         gtk_dialog_response(GTK_DIALOG(d), kExit);
                         return true;
                       }}};
    about.start();
    gtk_menu_item_activate(GTK_MENU_ITEM(panel.menu_item(kCmdAbout)));
    EXPECT_EQ(about.next, 1u);
    EXPECT_EQ(about_title, "About Orvalis v1.6");
    EXPECT_EQ(build_line.rfind("Built on ", 0), 0u) << build_line;
    EXPECT_TRUE(shot_ok);
    EXPECT_EQ(panel.open_dialog(), nullptr);
    EXPECT_TRUE(gtk_widget_get_sensitive(win));

    // The configuration dialog: an empty path is refused with a message box over it, a
    // real one is taken and the dialog closes.
    std::string refusal;
    DialogScript config{&panel,
                        {[&](GtkWidget* d) {
                           gtk_entry_set_text(GTK_ENTRY(find_named(d, "1029")), "");
                           gtk_dialog_response(GTK_DIALOG(d), kExit);
                           return true;
                         },
                         [&](GtkWidget* d) {
                           if (!GTK_IS_MESSAGE_DIALOG(d)) return false;
                           refusal = gtk_window_get_title(GTK_WINDOW(d));
                           gtk_dialog_response(GTK_DIALOG(d), GTK_RESPONSE_OK);
                           return true;
                         },
                         [&](GtkWidget* d) {
                           if (GTK_IS_MESSAGE_DIALOG(d)) return false;
                           gtk_entry_set_text(GTK_ENTRY(find_named(d, "1029")), (dir / "lw").c_str());
                           gtk_dialog_response(GTK_DIALOG(d), kExit);
                           return true;
                         }}};
    config.start();
    gtk_menu_item_activate(GTK_MENU_ITEM(panel.menu_item(kCmdConfiguration)));
    EXPECT_EQ(config.next, 3u);
    EXPECT_EQ(refusal, "Information needed");
    EXPECT_EQ(opt.lightwave_root, (dir / "lw").string() + "/");
    fs::current_path(old_cwd);

    // The show from the panel: a one-second scene from the playlist, in a window; the panel
    // is insensitive while it plays and comes back afterwards.
    LwobWriter w;
    orvl::testing::triangle_object(w);
    ASSERT_TRUE(w.write((dir / "tri.lwo").string()));
    LwsScene lws;
    lws.last_frame = 30;
    LwsObject o;
    o.load_path = (dir / "tri.lwo").string();
    lws.objects.push_back(o);
    ASSERT_TRUE(write_lws_file((dir / "one.lws").string(), lws));
    panel.model().set_playlist({(dir / "one.lws").string()});
    panel.refresh();
    EXPECT_TRUE(gtk_widget_get_sensitive(panel.widget(kPlayPlaylistButton)));
    bool insensitive_while_playing = false;
    std::pair<GtkPanel*, bool*> probe_data{&panel, &insensitive_while_playing};
    guint probe = g_timeout_add(
        100,
        +[](gpointer data) -> gboolean {
          auto* p = static_cast<std::pair<GtkPanel*, bool*>*>(data);
          if (!gtk_widget_get_sensitive(p->first->window())) *p->second = true;
          return G_SOURCE_CONTINUE;
        },
        &probe_data);
    const auto t0 = std::chrono::steady_clock::now();
    gtk_button_clicked(GTK_BUTTON(panel.widget(kPlayPlaylistButton)));
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    g_source_remove(probe);
    EXPECT_EQ(panel.shows_played(), 1);
    EXPECT_TRUE(insensitive_while_playing);
    EXPECT_GE(seconds, 0.9);  // the scene's 30 frames at 30 per second were shown
    EXPECT_TRUE(gtk_widget_get_sensitive(panel.window()));
    EXPECT_TRUE(gtk_widget_get_visible(panel.window()));
    bool started = false;
    for (const std::string& l : log_lines()) started = started || l == "Start Rendering :";
    EXPECT_TRUE(started);

    // Building precalculation from the menu: the fixed show's eight scenes (tiny ones here)
    // are recorded, with the precalculation window naming the scene and showing progress.
    fs::create_directories(dir / "scene");
    for (int k = 1; k <= kShowScenes; ++k)
      ASSERT_TRUE(write_lws_file((dir / "scene" / (std::to_string(k) + "vex.lws")).string(), lws));
    fs::current_path(dir);
    struct PrecalcSeen {
      bool window = false;
      std::string scene;
    } seen;
    // The scene line is followed from the moment the window is shown: a timer sampling the
    // window can miss it altogether when tiny scenes are built between two of its ticks.
    const guint show_id = g_signal_lookup("show", GTK_TYPE_WIDGET);
    const gulong watch = g_signal_add_emission_hook(
        show_id, 0,
        +[](GSignalInvocationHint*, guint, const GValue* values, gpointer data) -> gboolean {
          auto* seen = static_cast<PrecalcSeen*>(data);
          GObject* w = static_cast<GObject*>(g_value_get_object(&values[0]));
          if (!GTK_IS_WINDOW(w)) return TRUE;
          GtkWidget* box = gtk_bin_get_child(GTK_BIN(w));
          if (!box || !GTK_IS_BOX(box)) return TRUE;
          std::vector<GtkWidget*> parts = children(box);
          if (parts.size() != 3 || !GTK_IS_PROGRESS_BAR(parts[2])) return TRUE;
          seen->window = std::string(gtk_label_get_text(GTK_LABEL(parts[0]))) ==
                         "Wait while building precalculation file ....";
          g_signal_connect(parts[1], "notify::label", G_CALLBACK(+[](GtkLabel* label, GParamSpec*, gpointer d) {
                             static_cast<PrecalcSeen*>(d)->scene = gtk_label_get_text(label);
                           }),
                           seen);
          return TRUE;
        },
        &seen, nullptr);
    gtk_menu_item_activate(GTK_MENU_ITEM(panel.menu_item(kCmdBuildPrecalc)));
    g_signal_remove_emission_hook(show_id, watch);
    fs::current_path(old_cwd);
    EXPECT_EQ(panel.shows_played(), 2);
    EXPECT_TRUE(seen.window);
    EXPECT_NE(seen.scene.find("vex.lws"), std::string::npos) << seen.scene;
    // The bar's value is not asserted: it is sampled every 20 ms while tiny scenes are
    // built, and under a sanitizer or on a loaded machine no sample may land mid-scene.
    EXPECT_TRUE(opt.precalc_build);
    EXPECT_TRUE(gtk_widget_get_sensitive(panel.window()));

    pump();
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    pump();
    EXPECT_TRUE(save_screenshot((shot_dir / "panel_screenshot.png").string()));
  }
  g_object_unref(app);
  control_window_destroy();
  fs::remove_all(dir);
}

}  // namespace
