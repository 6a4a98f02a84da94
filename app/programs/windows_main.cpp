// DividezUrirer.exe: program entry on the Win32 dialog host, optionally against a simulated
// module instead of hardware.
#include <cstdlib>

#include "app/programs/windows_target.h"
#include "app/startup.h"
#include "platform/net.h"
#include "platform/ui.h"
#include "platform/ui_win32.h"

int main() {
  using namespace dz;
  const ProgramArguments arguments =
      split_arguments(ui::win32::command_line_tail(), std::getenv("DZ_TARGET"));
  if (arguments.target.empty()) return program_main(arguments.rest);

  // A simulated Ethernet module needs the network up before it starts.
  net::startup();
  std::string error;
  std::unique_ptr<sim::Session> session = attach_target(arguments.target, error);
  int result = 2;
  if (session) {
    result = program_main(arguments.rest);
    session.reset();
  } else {
    ui::message_box(ui::no_window, error + "\r\n", "Error", ui::MB_OK | ui::MB_ICONERROR);
  }
  net::cleanup();
  return result;
}
