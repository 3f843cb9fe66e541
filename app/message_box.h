// Message boxes: the one way the program tells the user about a problem it cannot log away.
//
// With a display, a modal SDL message box owned by no window; with none (neither DISPLAY nor
// WAYLAND_DISPLAY set, or ORVL_MESSAGE_BOX=stderr, or SDL fails to show the box), the title
// and the text go to standard error as "title: text". Tests install a handler that records
// the requests instead: a real box blocks until someone clicks it. While the control panel
// (`orvl panel`) runs, it installs its GTK backend as the handler: every box is then a modal
// GtkMessageDialog over the panel (see app/panel_gtk.h).
#pragma once

#include <functional>
#include <string>

namespace orvl {

enum class MessageIcon : int { error = 0x10, warning = 0x30, information = 0x40 };

struct MessageBoxRequest {
  std::string text;
  std::string title;
  MessageIcon icon = MessageIcon::error;
};

void message_box_show(const std::string& text, const std::string& title, MessageIcon icon);

// Replaces the output of message_box_show; an empty function restores the default.
void message_box_set_handler(std::function<void(const MessageBoxRequest&)> handler);

}  // namespace orvl
