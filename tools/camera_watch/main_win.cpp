// korvex-camera-watch: reads the "Korvex" camera's pictures the way a camera
// application does, through Media Foundation's source reader on the media
// source that KorvexSource.dll makes, and summarises them like
// `korvex-frames --watch`: new frames, repeats, placeholder pictures, the
// phone simulator's stamps and the delay from the phone's send to the camera.
//
//   korvex-camera-watch DLL WIDTHxHEIGHT SECONDS

#include <windows.h>
// windows.h must come first.
#include <mfapi.h>
#include <mfidl.h>
#include <mfreadwrite.h>
#include <wrl/client.h>

#include <charconv>
#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include <fmt/format.h>

#include "frame_stamp.hpp"
#include "picture/placeholder.hpp"
#include "platform/console.hpp"
#include "platform/hresult_win.hpp"
#include "platform/system_text_win.hpp"
#include "watch_summary.hpp"

namespace {

using Microsoft::WRL::ComPtr;
using namespace korvex;

constexpr CLSID kSourceClass = {
    0xF4467B1E, 0xEB18, 0x459B, {0x87, 0xC2, 0x42, 0xD4, 0x22, 0x66, 0xFD, 0xEB}};
constexpr char kUsage[] = "usage: korvex-camera-watch DLL WIDTHxHEIGHT SECONDS\n";

int failure(const std::string& step, HRESULT hr) {
  platform::write_stderr(platform::step_text(step, hr) + "\n");
  return 1;
}

uint64_t wall_clock_us() {
  return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::microseconds>(
                                   std::chrono::system_clock::now().time_since_epoch())
                                   .count());
}

bool parse_size(const std::string& text, uint32_t& width, uint32_t& height) {
  const size_t x = text.find('x');
  if (x == std::string::npos) {
    return false;
  }
  const char* end = text.data() + text.size();
  const auto w = std::from_chars(text.data(), text.data() + x, width);
  const auto h = std::from_chars(text.data() + x + 1, end, height);
  return w.ec == std::errc() && w.ptr == text.data() + x && h.ec == std::errc() && h.ptr == end;
}

// The source as the system makes it: class factory, activation object, source.
HRESULT create_source(const std::wstring& dll, ComPtr<IMFMediaSource>& source) {
  const HMODULE module = LoadLibraryW(dll.c_str());  // stays loaded for the run
  if (module == nullptr) {
    return HRESULT_FROM_WIN32(GetLastError());
  }
  using GetClassObject = HRESULT(WINAPI*)(REFCLSID, REFIID, void**);
  const auto get_class_object = reinterpret_cast<GetClassObject>(
      reinterpret_cast<void (*)()>(GetProcAddress(module, "DllGetClassObject")));
  if (get_class_object == nullptr) {
    return HRESULT_FROM_WIN32(GetLastError());
  }
  ComPtr<IClassFactory> factory;
  HRESULT hr = get_class_object(kSourceClass, IID_PPV_ARGS(&factory));
  if (FAILED(hr)) {
    return hr;
  }
  ComPtr<IMFActivate> activate;
  hr = factory->CreateInstance(nullptr, IID_PPV_ARGS(&activate));
  if (FAILED(hr)) {
    return hr;
  }
  return activate->ActivateObject(IID_PPV_ARGS(&source));
}

// Picks the camera's NV12 type of the asked size.
HRESULT select_size(IMFSourceReader& reader, uint32_t width, uint32_t height) {
  for (DWORD i = 0;; ++i) {
    ComPtr<IMFMediaType> type;
    const HRESULT hr = reader.GetNativeMediaType(0, i, &type);
    if (FAILED(hr)) {
      return hr;  // MF_E_NO_MORE_TYPES: the camera does not offer that size
    }
    GUID subtype{};
    UINT32 w = 0;
    UINT32 h = 0;
    if (SUCCEEDED(type->GetGUID(MF_MT_SUBTYPE, &subtype)) && subtype == MFVideoFormat_NV12 &&
        SUCCEEDED(MFGetAttributeSize(type.Get(), MF_MT_FRAME_SIZE, &w, &h)) && w == width &&
        h == height) {
      return reader.SetCurrentMediaType(0, nullptr, type.Get());
    }
  }
}

int watch(const std::wstring& dll, uint32_t width, uint32_t height, uint64_t seconds) {
  HRESULT hr = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  if (FAILED(hr)) {
    return failure("CoInitializeEx", hr);
  }
  hr = MFStartup(MF_VERSION, MFSTARTUP_LITE);
  if (FAILED(hr)) {
    return failure("MFStartup", hr);
  }
  ComPtr<IMFMediaSource> source;
  hr = create_source(dll, source);
  if (FAILED(hr)) {
    return failure("creating the camera's media source", hr);
  }
  ComPtr<IMFSourceReader> reader;
  hr = MFCreateSourceReaderFromMediaSource(source.Get(), nullptr, &reader);
  if (FAILED(hr)) {
    return failure("MFCreateSourceReaderFromMediaSource", hr);
  }
  hr = select_size(*reader.Get(), width, height);
  if (FAILED(hr)) {
    return failure(fmt::format("NV12 {}x{}", width, height), hr);
  }

  tools::WatchSummary summary;
  uint64_t pictures = 0;
  uint64_t repeats = 0;
  uint64_t placeholders = 0;
  std::optional<uint32_t> last_index;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  while (std::chrono::steady_clock::now() < deadline) {
    DWORD flags = 0;
    LONGLONG time = 0;
    ComPtr<IMFSample> sample;
    hr =
        reader->ReadSample(MF_SOURCE_READER_FIRST_VIDEO_STREAM, 0, nullptr, &flags, &time, &sample);
    if (FAILED(hr)) {
      return failure("IMFSourceReader::ReadSample", hr);
    }
    if (!sample) {
      continue;  // a stream tick or a format change: nothing to look at
    }
    const uint64_t seen = wall_clock_us();
    ComPtr<IMFMediaBuffer> buffer;
    hr = sample->ConvertToContiguousBuffer(&buffer);
    if (FAILED(hr)) {
      return failure("IMFSample::ConvertToContiguousBuffer", hr);
    }
    BYTE* data = nullptr;
    DWORD length = 0;
    hr = buffer->Lock(&data, nullptr, &length);
    if (FAILED(hr)) {
      return failure("IMFMediaBuffer::Lock", hr);
    }
    ++pictures;
    if (length >= uint64_t{width} * height * 3 / 2) {
      const std::optional<tools::Stamp> stamp = tools::read_stamp(data, width, height, width);
      if (!stamp && data[0] == picture::kPlaceholderTopLuma) {
        ++placeholders;
      } else if (stamp && last_index == stamp->index) {
        ++repeats;  // the camera keeps its pace when the phone is slower
      } else {
        summary.add_frame(width, height, stamp, seen);
        if (stamp) {
          last_index = stamp->index;
        }
      }
    }
    buffer->Unlock();
  }
  source->Shutdown();
  platform::write_stdout(fmt::format("camera pictures: {} (repeats {}, placeholder {})\n", pictures,
                                     repeats, placeholders));
  platform::write_stdout(summary.report());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args = platform::command_line_arguments(argc, argv);
  uint32_t width = 0;
  uint32_t height = 0;
  uint64_t seconds = 0;
  if (args.size() != 3 || !parse_size(args[1], width, height) ||
      std::from_chars(args[2].data(), args[2].data() + args[2].size(), seconds).ec != std::errc() ||
      seconds == 0) {
    platform::write_stderr(kUsage);
    return 2;
  }
  return watch(platform::utf8_to_utf16(args[0]), width, height, seconds);
}
