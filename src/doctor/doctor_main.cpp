// korvex-doctor, the "Korvex check": looks at what the iPhone and the camera
// need on this computer and says, for each, what is missing and how to fix it.

#include "doctor/checks.hpp"
#include "doctor/report.hpp"
#include "platform/console.hpp"

namespace {

namespace doctor = korvex::doctor;
namespace platform = korvex::platform;

constexpr std::string_view kHelp =
    "korvex-doctor: checks what the iPhone and the camera need on this PC, one line each\n"
    "(ok, warning or problem, with the fix), and exits 0 when nothing is a problem.\n"
    "\n"
    "USAGE:\n"
    "  korvex-doctor\n";

}  // namespace

int main(int argc, char** argv) {
  const auto arguments = platform::command_line_arguments(argc, argv);
  if (!arguments.empty()) {
    const bool help = arguments.size() == 1 && (arguments[0] == "-h" || arguments[0] == "--help");
    (help ? platform::write_stdout : platform::write_stderr)(kHelp);
    return help ? 0 : 2;
  }
  platform::write_stdout("Korvex check: what the iPhone and the camera need on this PC\n");
  doctor::Report report(platform::write_stdout);
  doctor::check_this_system(report);
  platform::write_stdout(report.summary());
  platform::hold_own_console("Press Enter to close this window.");
  return report.exit_status();
}
