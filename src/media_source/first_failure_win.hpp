#pragma once

// Collects the outcome of a run of calls that rarely fail (attribute stores,
// which fail only when memory runs out): the first failure, or S_OK. Calls
// after a failure still run and are harmless.

#include <windows.h>

namespace korvex::media_source {

class FirstFailure {
 public:
  void operator<<(HRESULT next) {
    if (SUCCEEDED(hr_)) {
      hr_ = next;
    }
  }
  HRESULT result() const { return hr_; }

 private:
  HRESULT hr_ = S_OK;
};

}  // namespace korvex::media_source
