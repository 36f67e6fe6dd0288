#include "stream_file.hpp"

#include <fstream>
#include <iterator>

namespace korvex::test {
namespace {

template <class T>
void put(std::vector<uint8_t>& out, T value) {
  for (size_t i = 0; i < sizeof(T); ++i) {
    out.push_back(static_cast<uint8_t>(static_cast<uint64_t>(value) >> (8 * i)));
  }
}

template <class T>
bool get(const std::vector<uint8_t>& in, size_t& at, T& value) {
  if (in.size() - at < sizeof(T)) {
    return false;
  }
  uint64_t v = 0;
  for (size_t i = 0; i < sizeof(T); ++i) {
    v |= uint64_t{in[at + i]} << (8 * i);
  }
  value = static_cast<T>(v);
  at += sizeof(T);
  return true;
}

}  // namespace

uint64_t luma_hash(std::span<const uint8_t> luma) {
  uint64_t hash = 0xcbf29ce484222325ull;
  for (const uint8_t b : luma) {
    hash = (hash ^ b) * 0x100000001b3ull;
  }
  return hash;
}

bool write_stream_file(const std::string& path, const std::vector<StoredUnit>& units) {
  std::vector<uint8_t> out;
  for (const StoredUnit& unit : units) {
    put(out, static_cast<uint32_t>(unit.data.size()));
    put(out, unit.pts_us);
    put(out, static_cast<uint8_t>(unit.keyframe ? 1 : 0));
    put(out, unit.reference_width);
    put(out, unit.reference_height);
    put(out, unit.reference_luma_hash);
    out.insert(out.end(), unit.data.begin(), unit.data.end());
  }
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file.write(reinterpret_cast<const char*>(out.data()), static_cast<std::streamsize>(out.size()));
  return static_cast<bool>(file);
}

std::optional<std::vector<StoredUnit>> read_stream_file(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    return std::nullopt;
  }
  const std::vector<uint8_t> in((std::istreambuf_iterator<char>(file)),
                                std::istreambuf_iterator<char>());
  std::vector<StoredUnit> units;
  size_t at = 0;
  while (at < in.size()) {
    StoredUnit unit;
    uint32_t size = 0;
    uint8_t keyframe = 0;
    if (!get(in, at, size) || !get(in, at, unit.pts_us) || !get(in, at, keyframe) ||
        !get(in, at, unit.reference_width) || !get(in, at, unit.reference_height) ||
        !get(in, at, unit.reference_luma_hash) || in.size() - at < size) {
      return std::nullopt;
    }
    unit.keyframe = keyframe != 0;
    unit.data.assign(in.begin() + static_cast<ptrdiff_t>(at),
                     in.begin() + static_cast<ptrdiff_t>(at + size));
    at += size;
    units.push_back(std::move(unit));
  }
  return units;
}

}  // namespace korvex::test
