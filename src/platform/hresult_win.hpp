#pragma once

// HRESULTs, handled one way everywhere: every call that can fail is a step
// with a name, and a failed step becomes the text "{step}: {cause}", the
// cause being the COM error information the call left on the thread, or else
// the system's message for the code, followed by the code itself, as in
// "Lock2D: Access is denied. (0x80070005)".
//
// Code whose errors are texts returns that text as its Result:
//
//     KORVEX_FAIL_IF_FAILED("MFCreateSample", MFCreateSample(&sample));
//
// Code that answers the system's COM calls returns the HRESULT itself, and
// the text goes to the debug trace, where a person can read it:
//
//     KORVEX_RETURN_IF_FAILED("MFCreateSample", MFCreateSample(&sample));
//
// The step is evaluated only when the call failed, so it may be built with
// fmt::format at no cost on the way that succeeds.

#include <windows.h>

#include <string>
#include <string_view>

#include "common/result.hpp"

namespace korvex::platform {

// "{description} (0x{code:08X})", or the code alone without any description.
std::string hresult_text(HRESULT hr);

// "{step}: {hresult_text(hr)}".
std::string step_text(std::string_view step, HRESULT hr);

inline Error step_failure(std::string_view step, HRESULT hr) {
  return fail(step_text(step, hr));
}

// Traces step_text(step, hr) and hands `hr` back.
HRESULT traced_failure(std::string_view step, HRESULT hr);

}  // namespace korvex::platform

#define KORVEX_FAIL_IF_FAILED(step, call)                         \
  do {                                                            \
    if (const HRESULT korvex_hr = (call); FAILED(korvex_hr)) {    \
      return ::korvex::platform::step_failure((step), korvex_hr); \
    }                                                             \
  } while (false)

#define KORVEX_RETURN_IF_FAILED(step, call)                         \
  do {                                                              \
    if (const HRESULT korvex_hr = (call); FAILED(korvex_hr)) {      \
      return ::korvex::platform::traced_failure((step), korvex_hr); \
    }                                                               \
  } while (false)
