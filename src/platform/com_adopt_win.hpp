#pragma once

// Taking over a reference someone else counted for us (an out-parameter
// filled by a COM call, a new object whose count starts at 1). MinGW's
// ComPtr::Attach adds a reference of its own, unlike the Windows SDK's, which
// would leak one; this works with both.

#include <wrl/client.h>

namespace korvex::platform {

template <class T>
Microsoft::WRL::ComPtr<T> adopt(T* counted) {
  Microsoft::WRL::ComPtr<T> owner;
  *owner.GetAddressOf() = counted;
  return owner;
}

}  // namespace korvex::platform
