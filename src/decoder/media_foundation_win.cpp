#include <windows.h>
// windows.h must come first.
#include <mfapi.h>

#include "decoder/media_foundation_win.hpp"
#include "platform/hresult_win.hpp"

namespace korvex::decoder {
namespace {

Result<void> start_media_foundation() {
  KORVEX_FAIL_IF_FAILED("MFStartup", MFStartup(0x00020070, MFSTARTUP_LITE));
  return {};
}

}  // namespace

Result<void> ensure_media_foundation() {
  // A function-local static is initialised once; concurrent callers wait.
  static const Result<void> outcome = start_media_foundation();
  return outcome;
}

}  // namespace korvex::decoder
