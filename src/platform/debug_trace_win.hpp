#pragma once

// Lines for a debug-output viewer (DebugView, a debugger's output window).
// The camera's DLLs run inside the camera service or a camera application,
// where nothing they print to a console is ever seen; this is how a person
// finds out what they did and why they failed. Each line reads
// "{module}: {text}", the module being the file the calling code is linked
// into (KorvexSource.dll, korvex-receiver.exe, ...).

#include <string_view>

namespace korvex::platform {

void trace(std::string_view text);

}  // namespace korvex::platform
