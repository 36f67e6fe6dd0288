#pragma once

// The built KorvexFilter.dll loaded as COM loads it, and its filter in the
// grabber graphs capture programs build.

#include <windows.h>
// windows.h must come first.
#include <dshow.h>
#include <wrl/client.h>

#include <chrono>
#include <memory>

#include "directshow/grabber_graph_win.hpp"

namespace korvex::capture_filter::test {

using Microsoft::WRL::ComPtr;
using namespace std::chrono_literals;

// Written out here rather than taken from the DLL's sources, so that a DLL
// answering to another class fails.
inline constexpr CLSID kFilterClsid = {
    0xDF38157C, 0xC0F1, 0x4D8F, {0x9A, 0x5A, 0xA1, 0x71, 0xD4, 0xE6, 0xAA, 0x5C}};

// DllGetClassObject, then CreateInstance(IBaseFilter); null (and a test
// failure) when any step fails.
ComPtr<IBaseFilter> create_filter();

// The filter's capture pin, and its interfaces.
ComPtr<IPin> capture_pin(IBaseFilter* filter);
template <class Interface>
ComPtr<Interface> pin_as(IBaseFilter* filter) {
  ComPtr<Interface> out;
  capture_pin(filter).As(&out);
  return out;
}

// The filter in a grabber graph; null (and a test failure) when it cannot be built.
std::unique_ptr<directshow::GrabberGraph> grabber_graph(IBaseFilter* filter, bool direct = false);

// The connection's media type; majortype GUID_NULL when not connected.
AM_MEDIA_TYPE connection_type(IBaseFilter* filter);

// The threads of this process, for "no thread while stopped".
size_t thread_count();

}  // namespace korvex::capture_filter::test
