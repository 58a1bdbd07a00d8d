// Entry point of Ledgerly.exe: one window, one message loop.
#include "gui/main_window.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  MainWindow main_window(instance);
  if (!main_window.create_window()) return -1;
  // "Ledgerly.exe log.adi", as "Open with" and "Send to" start it.
  take_command_line_file();
  return main_window.run_message_loop();
}
