#pragma once

// The XDG autostart entry that starts the receiver at logon on Linux.

#include <string>
#include <string_view>

#include "common/result.hpp"

namespace korvex::main {

// One argument of an Exec command line, in double quotes with ", `, $ and a
// backslash escaped by a backslash, and every % doubled so that it is no field
// code.
std::string quote_exec_argument(std::string_view argument);

// The Exec value as it stands in the file: a command line (quoted as above)
// with the escapes of a string value applied on top, \\ for a backslash and
// \n, \t, \r for those characters. Fails when the line cannot be held by a
// string value: not UTF-8, or another control character.
Result<std::string> exec_value(std::string_view command_line);

// The whole file for an `exec` value made by exec_value.
std::string autostart_entry(std::string_view exec);

}  // namespace korvex::main
