// The null window: no context, no pixels. Messages come from a queue that tests fill.
#include <deque>

#include "platform/window.h"

namespace orvl {

namespace {

std::deque<WindowMessage> g_queue;
int g_swaps = 0;
WindowStatus g_next_open = WindowStatus::ok;

class NullWindow final : public WindowBackend {
 public:
  WindowBackendKind kind() const override { return WindowBackendKind::null; }
  WindowStatus open(const WindowRequest& r) override {
    if (g_next_open != WindowStatus::ok) {
      const WindowStatus st = g_next_open;
      g_next_open = WindowStatus::ok;
      error_ = std::string("refused on request: ") + window_status_text(st);
      return st;
    }
    int scale = r.scale > 0 ? r.scale : 1;
    width_ = r.width * scale;
    height_ = r.height * scale;
    g_swaps = 0;
    return WindowStatus::ok;
  }
  void close() override {}
  void swap() override { g_swaps++; }
  bool has_swap_interval() const override { return false; }
  void set_swap_interval(int) override {}
  bool poll(WindowMessage& out) override {
    if (g_queue.empty()) return false;
    out = g_queue.front();
    g_queue.pop_front();
    return true;
  }
  void set_title(const std::string&) override {}
  void drawable_size(int& w, int& h) const override {
    w = width_;
    h = height_;
  }
  const std::string& error() const override { return error_; }

 private:
  int width_ = 0, height_ = 0;
  std::string error_;
};

}  // namespace

std::unique_ptr<WindowBackend> window_backend_create_null() { return std::make_unique<NullWindow>(); }

void null_window_push(const WindowMessage& m) { g_queue.push_back(m); }
void null_window_clear() { g_queue.clear(); }
int null_window_swaps() { return g_swaps; }
void null_window_fail_next_open(WindowStatus status) { g_next_open = status; }

}  // namespace orvl
