#pragma once

// The Media Foundation decoder on a transform the caller made: the system's
// H.264 decoder for H264Decoder::create, a stand-in in tests.

#include <windows.h>
// windows.h must come first.
#include <mftransform.h>
#include <wrl/client.h>

#include <cstdint>
#include <memory>

#include "common/result.hpp"
#include "decoder/h264_decoder.hpp"

namespace korvex::decoder {

// Asks `transform` for low latency, sets its H.264 input for `width` x
// `height` (0 for either: 1280 x 720), selects NV12 output and starts
// streaming.
Result<std::unique_ptr<H264Decoder>> create_on_transform(
    Microsoft::WRL::ComPtr<IMFTransform> transform, uint32_t width, uint32_t height);

}  // namespace korvex::decoder
