#include "filter_graph.hpp"

#include <gtest/gtest.h>
#include <tlhelp32.h>

#include <string>

namespace korvex::capture_filter::test {
namespace {

using GetClassObject = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);

GetClassObject dll_get_class_object() {
  static const HMODULE module = [] {
    std::string path = KORVEX_FILTER_DLL;
    if (path.front() == '/') {
      path = "Z:" + path;  // Wine shows the Unix file system as drive Z:
    }
    return LoadLibraryW(std::wstring(path.begin(), path.end()).c_str());
  }();
  return module == nullptr ? nullptr
                           : reinterpret_cast<GetClassObject>(reinterpret_cast<void*>(
                                 GetProcAddress(module, "DllGetClassObject")));
}

}  // namespace

ComPtr<IBaseFilter> create_filter() {
  CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  const GetClassObject get_class_object = dll_get_class_object();
  EXPECT_NE(get_class_object, nullptr) << "no DllGetClassObject in " << KORVEX_FILTER_DLL;
  if (get_class_object == nullptr) {
    return nullptr;
  }
  ComPtr<IClassFactory> factory;
  ComPtr<IBaseFilter> filter;
  HRESULT hr = get_class_object(kFilterClsid, IID_PPV_ARGS(&factory));
  if (SUCCEEDED(hr)) {
    hr = factory->CreateInstance(nullptr, IID_PPV_ARGS(&filter));
  }
  EXPECT_HRESULT_SUCCEEDED(hr);
  return filter;
}

ComPtr<IPin> capture_pin(IBaseFilter* filter) {
  ComPtr<IPin> pin;
  EXPECT_HRESULT_SUCCEEDED(filter->FindPin(L"Capture", &pin));
  return pin;
}

std::unique_ptr<directshow::GrabberGraph> grabber_graph(IBaseFilter* filter, bool direct) {
  auto built = directshow::GrabberGraph::build(filter, direct);
  EXPECT_TRUE(built) << built.error();
  return built ? std::move(built.value()) : nullptr;
}

AM_MEDIA_TYPE connection_type(IBaseFilter* filter) {
  AM_MEDIA_TYPE type{};
  if (FAILED(capture_pin(filter)->ConnectionMediaType(&type))) {
    type = AM_MEDIA_TYPE{};
  }
  return type;
}

size_t thread_count() {
  const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  size_t count = 0;
  THREADENTRY32 entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
    count += entry.th32OwnerProcessID == GetCurrentProcessId();
  }
  CloseHandle(snapshot);
  return count;
}

}  // namespace korvex::capture_filter::test
