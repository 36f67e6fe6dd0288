#include "main/desktop_entry.hpp"

#include "platform/utf8.hpp"

namespace korvex::main {

std::string quote_exec_argument(std::string_view argument) {
  std::string out = "\"";
  for (const char c : argument) {
    if (c == '"' || c == '`' || c == '$' || c == '\\') {
      out += '\\';
    } else if (c == '%') {
      out += '%';
    }
    out += c;
  }
  out += '"';
  return out;
}

Result<std::string> exec_value(std::string_view command_line) {
  if (!platform::is_valid_utf8(command_line)) {
    return fail("the command line is not valid UTF-8");
  }
  std::string out;
  out.reserve(command_line.size());
  for (const char c : command_line) {
    switch (c) {
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\r':
        out += "\\r";
        break;
      default:
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
          return fail("the command line holds a control character an autostart entry cannot");
        }
        out += c;
    }
  }
  return out;
}

std::string autostart_entry(std::string_view exec) {
  std::string entry =
      "[Desktop Entry]\n"
      "Type=Application\n"
      "Name=Korvex receiver\n"
      "Comment=The iPhone as webcam and microphone, started at logon\n"
      "Exec=";
  entry += exec;
  entry +=
      "\n"
      "Terminal=false\n";
  return entry;
}

}  // namespace korvex::main
