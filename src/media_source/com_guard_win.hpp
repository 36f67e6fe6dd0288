#pragma once

// No exception may leave a COM method: the caller is the system, not C++.

#include <windows.h>

#include <new>

namespace korvex::media_source {

// Runs `body` (returning an HRESULT) and turns whatever it throws into one.
template <class Body>
HRESULT guarded(Body&& body) noexcept {
  try {
    return body();
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (...) {
    return E_UNEXPECTED;
  }
}

}  // namespace korvex::media_source
