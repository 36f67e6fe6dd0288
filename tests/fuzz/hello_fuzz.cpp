// libFuzzer harness for the hello parser. Besides running clean under
// AddressSanitizer and UndefinedBehaviorSanitizer, every input must satisfy:
//
// - The parser agrees with a plain reading of the same bytes: the library's
//   document model, the field table checked value by value, and a key count
//   for the two levels where a repeated key is an error. It accepts exactly
//   what that reading accepts, with the same field values; so nothing it
//   accepts is out of range or of the wrong type.
// - An accepted hello written out again parses to the same value, in the
//   object form and in the array form alike, with the audio record in either
//   form, with or without its default fields, compact or indented.

#include <cstdint>
#include <limits>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "fuzz/invariant.hpp"
#include "protocol/hello.hpp"

namespace {

using korvex::protocol::Hello;
using korvex::protocol::HelloAudio;
using korvex::protocol::parse_hello;
using Json = nlohmann::json;

bool same(const Hello& a, const Hello& b) {
  return a.name == b.name && a.app == b.app && a.width == b.width && a.height == b.height &&
         a.fps == b.fps && a.codec == b.codec && a.audio.rate == b.audio.rate &&
         a.audio.channels == b.audio.channels && a.audio.format == b.audio.format;
}

// Finds a key repeated in the hello's object or in its audio object; repeats
// inside the values of unknown keys are allowed.
class RepeatedKeys : public nlohmann::json_sax<Json> {
 public:
  bool found = false;

  bool null() override { return value(); }
  bool boolean(bool) override { return value(); }
  bool number_integer(number_integer_t) override { return value(); }
  bool number_unsigned(number_unsigned_t) override { return value(); }
  bool number_float(number_float_t, const string_t&) override { return value(); }
  bool string(string_t&) override { return value(); }
  bool binary(binary_t&) override { return value(); }
  bool start_object(std::size_t) override { return open(true); }
  bool start_array(std::size_t) override { return open(false); }
  bool end_object() override { return close(); }
  bool end_array() override { return close(); }
  bool key(string_t& key) override {
    Level& level = levels_.back();
    level.last_key = key;
    if (level.counted && !level.keys.insert(key).second) {
      found = true;
    }
    return true;
  }
  bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) override {
    return false;
  }

 private:
  struct Level {
    bool object = false;
    bool counted = false;
    size_t elements = 0;
    std::string last_key;
    std::set<std::string> keys;
  };

  bool value() {
    if (!levels_.empty()) {
      ++levels_.back().elements;
    }
    return true;
  }

  bool open(bool object) {
    bool counted = levels_.empty();
    if (levels_.size() == 1) {
      const Level& hello = levels_.front();
      // The audio record: the key audio, or the seventh element.
      counted = hello.object ? hello.last_key == "audio" : hello.elements == 6;
    }
    value();
    levels_.push_back(Level{object, counted, 0, {}, {}});
    return true;
  }

  bool close() {
    levels_.pop_back();
    return true;
  }

  std::vector<Level> levels_;
};

bool read_text(const Json& value, std::string& out) {
  if (!value.is_string()) {
    return false;
  }
  out = value.get<std::string>();
  return true;
}

template <class T>
bool read_integer(const Json& value, T& out) {
  uint64_t n = 0;
  if (value.is_number_unsigned()) {
    n = value.get<uint64_t>();
  } else if (value.is_number_integer() && value.get<int64_t>() >= 0) {
    n = static_cast<uint64_t>(value.get<int64_t>());
  } else {
    return false;
  }
  if (n > std::numeric_limits<T>::max()) {
    return false;
  }
  out = static_cast<T>(n);
  return true;
}

constexpr const char* kHelloKeys[] = {"name", "app", "width", "height", "fps", "codec", "audio"};
constexpr const char* kAudioKeys[] = {"rate", "channels", "format"};

bool read_audio_field(size_t index, const Json& value, HelloAudio& audio) {
  switch (index) {
    case 0:
      return read_integer(value, audio.rate);
    case 1:
      return read_integer(value, audio.channels);
    default:
      return read_text(value, audio.format);
  }
}

bool read_audio(const Json& value, HelloAudio& audio) {
  if (value.is_array()) {
    if (value.size() > 3) {
      return false;
    }
    for (size_t i = 0; i < value.size(); ++i) {
      if (!read_audio_field(i, value[i], audio)) {
        return false;
      }
    }
    return true;
  }
  if (!value.is_object()) {
    return false;
  }
  for (size_t i = 0; i < 3; ++i) {
    if (value.contains(kAudioKeys[i]) && !read_audio_field(i, value[kAudioKeys[i]], audio)) {
      return false;
    }
  }
  return true;
}

bool read_hello_field(size_t index, const Json& value, Hello& hello) {
  switch (index) {
    case 0:
      return read_text(value, hello.name);
    case 1:
      return read_text(value, hello.app);
    case 2:
      return read_integer(value, hello.width);
    case 3:
      return read_integer(value, hello.height);
    case 4:
      return read_integer(value, hello.fps);
    case 5:
      return read_text(value, hello.codec);
    default:
      return read_audio(value, hello.audio);
  }
}

// The plain reading the parser must agree with.
std::optional<Hello> reference(std::span<const uint8_t> bytes) {
  // Only whitespace may precede the document (no byte order mark), and a NUL
  // byte is never valid JSON text; the library would pass over both.
  if (bytes.size() >= 3 && bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF) {
    return std::nullopt;
  }
  for (uint8_t b : bytes) {
    if (b == 0) {
      return std::nullopt;
    }
  }
  const Json doc = Json::parse(bytes.begin(), bytes.end(), nullptr, false);
  if (doc.is_discarded()) {
    return std::nullopt;
  }
  RepeatedKeys repeats;
  Json::sax_parse(bytes.begin(), bytes.end(), &repeats);
  if (repeats.found) {
    return std::nullopt;
  }
  Hello hello;
  if (doc.is_array()) {
    if (doc.size() > 7) {
      return std::nullopt;
    }
    for (size_t i = 0; i < doc.size(); ++i) {
      if (!read_hello_field(i, doc[i], hello)) {
        return std::nullopt;
      }
    }
    return hello;
  }
  if (!doc.is_object()) {
    return std::nullopt;
  }
  for (size_t i = 0; i < 7; ++i) {
    if (doc.contains(kHelloKeys[i]) && !read_hello_field(i, doc[kHelloKeys[i]], hello)) {
      return std::nullopt;
    }
  }
  return hello;
}

// How to write a hello out; every combination must parse to the same value.
struct Form {
  bool array = false;
  bool audio_array = false;
  bool keep_defaults = false;  // write fields that hold their default value
  bool indent = false;
};

Json audio_json(const HelloAudio& a, const Form& form) {
  if (form.audio_array) {
    Json out = Json::array({a.rate, a.channels, a.format});
    if (!form.keep_defaults) {
      while (!out.empty() && out.back() == (out.size() == 3 ? Json("") : Json(0))) {
        out.erase(out.size() - 1);
      }
    }
    return out;
  }
  Json out = Json::object();
  if (form.keep_defaults || a.rate != 0)
    out["rate"] = a.rate;
  if (form.keep_defaults || a.channels != 0)
    out["channels"] = a.channels;
  if (form.keep_defaults || !a.format.empty())
    out["format"] = a.format;
  return out;
}

std::string write(const Hello& h, const Form& form) {
  const bool audio_default = h.audio.rate == 0 && h.audio.channels == 0 && h.audio.format.empty();
  Json doc;
  if (form.array) {
    doc =
        Json::array({h.name, h.app, h.width, h.height, h.fps, h.codec, audio_json(h.audio, form)});
    if (!form.keep_defaults) {
      if (audio_default) {
        doc.erase(6);
      }
      while (!doc.empty() && (doc.back() == Json("") || doc.back() == Json(0))) {
        doc.erase(doc.size() - 1);
      }
    }
  } else {
    doc = Json::object();
    const Json values[] = {h.name, h.app, h.width, h.height, h.fps, h.codec};
    for (size_t i = 0; i < 6; ++i) {
      if (form.keep_defaults || (values[i] != Json("") && values[i] != Json(0))) {
        doc[kHelloKeys[i]] = values[i];
      }
    }
    if (form.keep_defaults || !audio_default) {
      doc["audio"] = audio_json(h.audio, form);
    }
  }
  std::string text = doc.dump(form.indent ? 1 : -1);
  if (form.indent) {
    text += "\n";
  }
  return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::span<const uint8_t> input(data, size);
  const auto parsed = parse_hello(input);
  const std::optional<Hello> expected = reference(input);
  CHECK(parsed.ok() == expected.has_value());
  if (!parsed.ok()) {
    return 0;
  }
  CHECK(same(parsed.value(), *expected));

  for (int variant = 0; variant < 16; ++variant) {
    const Form form{(variant & 1) != 0, (variant & 2) != 0, (variant & 4) != 0, (variant & 8) != 0};
    const std::string text = write(parsed.value(), form);
    const auto again = parse_hello({reinterpret_cast<const uint8_t*>(text.data()), text.size()});
    CHECK(again.ok());
    CHECK(same(again.value(), parsed.value()));
  }
  return 0;
}
