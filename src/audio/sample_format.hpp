#pragma once

// The sample formats the system's sound service reports for an endpoint. The
// render callback writes F32 and I16; the others are named in the
// "unsupported sample format" message.

#include <cstddef>
#include <string_view>

namespace korvex::audio {

enum class SampleFormat { U8, I16, I32, F32, F64 };

// "I16", "F32", ...: the names the messages show.
std::string_view sample_format_name(SampleFormat format);

// Bytes one sample of `format` takes.
size_t sample_size(SampleFormat format);

}  // namespace korvex::audio
