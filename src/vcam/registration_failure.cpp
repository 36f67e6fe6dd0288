#include "vcam/registration_failure.hpp"

#include <algorithm>
#include <array>

namespace korvex::vcam {
namespace {

// The class is not registered, or its DLL is missing, broken or of another
// architecture: what the camera service meets without KorvexSource.dll.
constexpr std::array<uint32_t, 7> kSourceMissing = {
    0x80040154,  // REGDB_E_CLASSNOTREG
    0x80040111,  // CLASS_E_CLASSNOTAVAILABLE
    0x800401F8,  // CO_E_DLLNOTFOUND
    0x800401F9,  // CO_E_ERRORINDLL
    0x80070002,  // ERROR_FILE_NOT_FOUND
    0x8007007E,  // ERROR_MOD_NOT_FOUND
    0x800700C1,  // ERROR_BAD_EXE_FORMAT
};
constexpr uint32_t kAccessDenied = 0x80070005;  // E_ACCESSDENIED

}  // namespace

std::string registration_failure(std::string_view step, uint32_t hresult, std::string_view cause) {
  std::string text = std::string(step) + ": " + std::string(cause);
  if (std::find(kSourceMissing.begin(), kSourceMissing.end(), hresult) != kSourceMissing.end()) {
    text += " (is KorvexSource.dll registered?)";
  } else if (hresult == kAccessDenied) {
    text +=
        " (is camera access on in Settings > Privacy & security > Camera, for desktop apps too, "
        "and may the camera service read KorvexSource.dll?)";
  }
  return text;
}

}  // namespace korvex::vcam
