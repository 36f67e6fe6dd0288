#include "audio/audio_host.hpp"

namespace korvex::audio {

std::string_view sample_format_name(SampleFormat format) {
  switch (format) {
    case SampleFormat::I8:
      return "I8";
    case SampleFormat::I16:
      return "I16";
    case SampleFormat::I32:
      return "I32";
    case SampleFormat::I64:
      return "I64";
    case SampleFormat::U8:
      return "U8";
    case SampleFormat::U16:
      return "U16";
    case SampleFormat::U32:
      return "U32";
    case SampleFormat::U64:
      return "U64";
    case SampleFormat::F32:
      return "F32";
    case SampleFormat::F64:
      return "F64";
  }
  return "?";
}

size_t sample_size(SampleFormat format) {
  switch (format) {
    case SampleFormat::I8:
    case SampleFormat::U8:
      return 1;
    case SampleFormat::I16:
    case SampleFormat::U16:
      return 2;
    case SampleFormat::I32:
    case SampleFormat::U32:
    case SampleFormat::F32:
      return 4;
    case SampleFormat::I64:
    case SampleFormat::U64:
    case SampleFormat::F64:
      return 8;
  }
  return 1;
}

}  // namespace korvex::audio
