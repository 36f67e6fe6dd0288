#pragma once

// The text of a failed camera registration: the step and the system's
// cause, then what usually lies behind that cause, so that a user knows
// where to look.

#include <cstdint>
#include <string>
#include <string_view>

namespace korvex::vcam {

// "{step}: {cause}", followed by " (is KorvexSource.dll registered?)" when
// `hresult` says the source's class or its DLL cannot be found or loaded,
// and by the camera privacy setting and the DLL's permissions for
// E_ACCESSDENIED.
std::string registration_failure(std::string_view step, uint32_t hresult, std::string_view cause);

}  // namespace korvex::vcam
