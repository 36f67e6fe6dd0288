#include "audio/sample_format.hpp"

namespace korvex::audio {

std::string_view sample_format_name(SampleFormat format) {
  switch (format) {
    case SampleFormat::U8:
      return "U8";
    case SampleFormat::I16:
      return "I16";
    case SampleFormat::I32:
      return "I32";
    case SampleFormat::F32:
      return "F32";
    case SampleFormat::F64:
      return "F64";
  }
  return "?";
}

size_t sample_size(SampleFormat format) {
  switch (format) {
    case SampleFormat::U8:
      return 1;
    case SampleFormat::I16:
      return 2;
    case SampleFormat::I32:
    case SampleFormat::F32:
      return 4;
    case SampleFormat::F64:
      return 8;
  }
  return 1;
}

}  // namespace korvex::audio
