#include <algorithm>
#include <cstddef>
#include <iterator>
#include <limits>
#include <optional>
#include <span>
#include <string>
#include <unordered_set>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "protocol/hello.hpp"

namespace korvex::protocol {
namespace {

using Json = nlohmann::json;

enum class Field { unknown, name, app, width, height, fps, codec, audio, rate, channels, format };

// The array forms: values in this order, at most this many.
constexpr Field kHelloOrder[] = {Field::name, Field::app,   Field::width, Field::height,
                                 Field::fps,  Field::codec, Field::audio};
constexpr Field kAudioOrder[] = {Field::rate, Field::channels, Field::format};

Field hello_key(const std::string& key) {
  if (key == "name")
    return Field::name;
  if (key == "app")
    return Field::app;
  if (key == "width")
    return Field::width;
  if (key == "height")
    return Field::height;
  if (key == "fps")
    return Field::fps;
  if (key == "codec")
    return Field::codec;
  if (key == "audio")
    return Field::audio;
  return Field::unknown;
}

Field audio_key(const std::string& key) {
  if (key == "rate")
    return Field::rate;
  if (key == "channels")
    return Field::channels;
  if (key == "format")
    return Field::format;
  return Field::unknown;
}

// One open object or array of the hello itself or of its audio record.
struct Level {
  bool audio = false;
  bool array = false;
  size_t next_index = 0;                 // array form: position of the next value
  Field pending = Field::unknown;        // object form: what the next value fills
  std::unordered_set<std::string> keys;  // object form: keys seen so far
};

Level new_level(bool audio, bool array) {
  Level level;
  level.audio = audio;
  level.array = array;
  return level;
}

// Receives the parser's events and fills a Hello; any event that breaks the
// hello's rules returns false, which stops the parse.
class HelloReader {
 public:
  Hello& hello() { return hello_; }

  bool null() { return other_scalar(); }
  bool boolean(bool) { return other_scalar(); }
  bool number_float(Json::number_float_t, const Json::string_t&) { return other_scalar(); }
  bool binary(Json::binary_t&) { return false; }

  bool number_integer(Json::number_integer_t value) {
    if (skipping_ > 0) {
      return true;
    }
    const std::optional<Field> field = take_field();
    if (!field || *field == Field::unknown) {
      return field.has_value();
    }
    return value >= 0 && set_integer(*field, static_cast<uint64_t>(value));
  }

  bool number_unsigned(Json::number_unsigned_t value) {
    if (skipping_ > 0) {
      return true;
    }
    const std::optional<Field> field = take_field();
    if (!field || *field == Field::unknown) {
      return field.has_value();
    }
    return set_integer(*field, value);
  }

  bool string(Json::string_t& value) {
    if (skipping_ > 0) {
      return true;
    }
    const std::optional<Field> field = take_field();
    if (!field || *field == Field::unknown) {
      return field.has_value();
    }
    std::string* target = text_field(*field);
    if (target == nullptr) {
      return false;
    }
    *target = std::move(value);
    return true;
  }

  bool start_object(std::size_t) { return open(false); }
  bool start_array(std::size_t) { return open(true); }
  bool end_object() { return close(); }
  bool end_array() { return close(); }

  bool key(Json::string_t& key) {
    if (skipping_ > 0) {
      return true;
    }
    Level& level = levels_.back();
    level.pending = level.audio ? audio_key(key) : hello_key(key);
    return level.keys.insert(std::move(key)).second;
  }

  bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) {
    return false;
  }

 private:
  // null, true, false and numbers with a fraction or exponent belong to no
  // field of the hello; they may only be values of unknown keys.
  bool other_scalar() {
    if (skipping_ > 0) {
      return true;
    }
    const std::optional<Field> field = take_field();
    return field == Field::unknown;
  }

  // The field the value starting now fills (unknown: skip it), or nothing
  // when no value may start here: at the top, or past the array's end.
  std::optional<Field> take_field() {
    if (levels_.empty()) {
      return std::nullopt;
    }
    Level& level = levels_.back();
    if (!level.array) {
      return level.pending;
    }
    const std::span<const Field> order =
        level.audio ? std::span<const Field>(kAudioOrder) : std::span<const Field>(kHelloOrder);
    if (level.next_index >= order.size()) {
      return std::nullopt;
    }
    return order[level.next_index++];
  }

  bool open(bool array) {
    if (skipping_ > 0) {
      ++skipping_;
      return true;
    }
    if (levels_.empty()) {
      levels_.push_back(new_level(false, array));
      return true;
    }
    const std::optional<Field> field = take_field();
    if (field == Field::unknown) {
      skipping_ = 1;
      return true;
    }
    if (field != Field::audio) {
      return false;
    }
    levels_.push_back(new_level(true, array));
    return true;
  }

  bool close() {
    if (skipping_ > 0) {
      --skipping_;
      return true;
    }
    levels_.pop_back();
    return true;
  }

  bool set_integer(Field field, uint64_t value) {
    constexpr uint64_t u32_max = std::numeric_limits<uint32_t>::max();
    constexpr uint64_t u16_max = std::numeric_limits<uint16_t>::max();
    switch (field) {
      case Field::width:
        return store(hello_.width, value, u32_max);
      case Field::height:
        return store(hello_.height, value, u32_max);
      case Field::fps:
        return store(hello_.fps, value, u32_max);
      case Field::rate:
        return store(hello_.audio.rate, value, u32_max);
      case Field::channels:
        return store(hello_.audio.channels, value, u16_max);
      default:
        return false;
    }
  }

  template <class T>
  static bool store(T& target, uint64_t value, uint64_t max) {
    if (value > max) {
      return false;
    }
    target = static_cast<T>(value);
    return true;
  }

  std::string* text_field(Field field) {
    switch (field) {
      case Field::name:
        return &hello_.name;
      case Field::app:
        return &hello_.app;
      case Field::codec:
        return &hello_.codec;
      case Field::format:
        return &hello_.audio.format;
      default:
        return nullptr;
    }
  }

  Hello hello_;
  std::vector<Level> levels_;  // at most two: the hello and its audio record
  size_t skipping_ = 0;        // depth inside the value of an unknown key
};

// Bytes that the JSON library would let through although the hello may not
// hold them: it skips a leading byte order mark (only whitespace may precede
// the document) and takes a NUL byte for the end of the input, which would
// hide whatever follows it. A NUL is never valid anywhere in JSON text.
bool library_would_misread(std::span<const uint8_t> payload) {
  const bool byte_order_mark =
      payload.size() >= 3 && payload[0] == 0xEF && payload[1] == 0xBB && payload[2] == 0xBF;
  return byte_order_mark || std::find(payload.begin(), payload.end(), 0) != payload.end();
}

// The hello's bytes as the JSON library is to read them: each run of
// whitespace outside strings down to its first byte. The library keeps every
// byte it skips before a structural character until the next string or
// number, so a hello padded with megabytes of spaces would cost as much again;
// between tokens one byte of whitespace means what many do.
class CompactWhitespace {
 public:
  using iterator_category = std::forward_iterator_tag;
  using value_type = char;
  using difference_type = std::ptrdiff_t;
  using pointer = const char*;
  using reference = const char&;

  CompactWhitespace() = default;
  CompactWhitespace(const uint8_t* at, const uint8_t* end) : at_(at), end_(end) {}

  reference operator*() const { return *reinterpret_cast<const char*>(at_); }
  CompactWhitespace& operator++() {
    const uint8_t c = *at_++;
    if (in_string_) {
      in_string_ = escaped_ || c != '"';
      escaped_ = !escaped_ && c == '\\';
    } else if (c == '"') {
      in_string_ = true;
    } else if (is_space(c)) {
      while (at_ != end_ && is_space(*at_)) {
        ++at_;
      }
    }
    return *this;
  }
  CompactWhitespace operator++(int) {
    CompactWhitespace before = *this;
    ++*this;
    return before;
  }
  bool operator==(const CompactWhitespace& other) const { return at_ == other.at_; }

 private:
  static bool is_space(uint8_t c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

  const uint8_t* at_ = nullptr;
  const uint8_t* end_ = nullptr;
  bool in_string_ = false;
  bool escaped_ = false;
};

}  // namespace

Result<Hello> parse_hello(std::span<const uint8_t> payload) {
  if (library_would_misread(payload)) {
    return fail("hello: not a valid hello document");
  }
  HelloReader reader;
  // Strict: anything but whitespace after the document is an error.
  const uint8_t* end = payload.data() + payload.size();
  const bool valid =
      Json::sax_parse(CompactWhitespace(payload.data(), end), CompactWhitespace(end, end), &reader,
                      Json::input_format_t::json, true, false);
  if (!valid) {
    return fail("hello: not a valid hello document");
  }
  return std::move(reader.hello());
}

}  // namespace korvex::protocol
