#include "picture/placeholder.hpp"

#include <algorithm>
#include <array>
#include <cstring>
#include <string_view>

namespace korvex::picture {
namespace {

constexpr uint8_t kBottomLuma = 34;
constexpr uint8_t kBlueish = 136;  // Cb
constexpr uint8_t kReddish = 122;  // Cr
constexpr uint8_t kTitleLuma = 210;
constexpr uint8_t kTextLuma = 165;

constexpr std::string_view kTitle = "KORVEX";
constexpr std::string_view kLines[] = {"NO PHONE IS STREAMING", "START KORVEX ON YOUR IPHONE"};

// 5 x 7 capitals, one row a byte, the leftmost pixel in bit 4.
using Glyph = std::array<uint8_t, 7>;
constexpr Glyph kLetters[26] = {
    {0x0E, 0x11, 0x11, 0x1F, 0x11, 0x11, 0x11},  // A
    {0x1E, 0x11, 0x11, 0x1E, 0x11, 0x11, 0x1E},  // B
    {0x0E, 0x11, 0x10, 0x10, 0x10, 0x11, 0x0E},  // C
    {0x1C, 0x12, 0x11, 0x11, 0x11, 0x12, 0x1C},  // D
    {0x1F, 0x10, 0x10, 0x1E, 0x10, 0x10, 0x1F},  // E
    {0x1F, 0x10, 0x10, 0x1E, 0x10, 0x10, 0x10},  // F
    {0x0E, 0x11, 0x10, 0x17, 0x11, 0x11, 0x0F},  // G
    {0x11, 0x11, 0x11, 0x1F, 0x11, 0x11, 0x11},  // H
    {0x0E, 0x04, 0x04, 0x04, 0x04, 0x04, 0x0E},  // I
    {0x07, 0x02, 0x02, 0x02, 0x02, 0x12, 0x0C},  // J
    {0x11, 0x12, 0x14, 0x18, 0x14, 0x12, 0x11},  // K
    {0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x1F},  // L
    {0x11, 0x1B, 0x15, 0x15, 0x11, 0x11, 0x11},  // M
    {0x11, 0x11, 0x19, 0x15, 0x13, 0x11, 0x11},  // N
    {0x0E, 0x11, 0x11, 0x11, 0x11, 0x11, 0x0E},  // O
    {0x1E, 0x11, 0x11, 0x1E, 0x10, 0x10, 0x10},  // P
    {0x0E, 0x11, 0x11, 0x11, 0x15, 0x12, 0x0D},  // Q
    {0x1E, 0x11, 0x11, 0x1E, 0x14, 0x12, 0x11},  // R
    {0x0F, 0x10, 0x10, 0x0E, 0x01, 0x01, 0x1E},  // S
    {0x1F, 0x04, 0x04, 0x04, 0x04, 0x04, 0x04},  // T
    {0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x0E},  // U
    {0x11, 0x11, 0x11, 0x11, 0x11, 0x0A, 0x04},  // V
    {0x11, 0x11, 0x11, 0x15, 0x15, 0x15, 0x0A},  // W
    {0x11, 0x11, 0x0A, 0x04, 0x0A, 0x11, 0x11},  // X
    {0x11, 0x11, 0x11, 0x0A, 0x04, 0x04, 0x04},  // Y
    {0x1F, 0x01, 0x02, 0x04, 0x08, 0x10, 0x1F},  // Z
};

constexpr uint32_t kAdvance = 6;  // glyph columns plus one of space
constexpr uint32_t kRows = 7;

uint32_t text_width(std::string_view text, uint32_t scale) {
  return text.empty() ? 0 : (static_cast<uint32_t>(text.size()) * kAdvance - 1) * scale;
}

// Draws `text` centred on the row `top`, each font pixel `scale` pixels square.
void draw_text(const Nv12View& target, std::string_view text, uint32_t top, uint32_t scale,
               uint8_t luma) {
  const uint32_t width = text_width(text, scale);
  if (width > target.width || top + kRows * scale > target.height) {
    return;
  }
  uint32_t left = (target.width - width) / 2;
  for (const char c : text) {
    if (c >= 'A' && c <= 'Z') {
      const Glyph& glyph = kLetters[c - 'A'];
      for (uint32_t gy = 0; gy < kRows; ++gy) {
        for (uint32_t gx = 0; gx < 5; ++gx) {
          if ((glyph[gy] >> (4 - gx) & 1) == 0) {
            continue;
          }
          for (uint32_t dy = 0; dy < scale; ++dy) {
            uint8_t* row = target.y + uint64_t{top + gy * scale + dy} * target.pitch;
            std::memset(row + left + gx * scale, luma, scale);
          }
        }
      }
    }
    left += kAdvance * scale;
  }
}

}  // namespace

void draw_placeholder(const Nv12View& target) {
  for (uint32_t row = 0; row < target.height; ++row) {
    const uint32_t fall = (kPlaceholderTopLuma - kBottomLuma) * row / std::max(target.height, 1u);
    std::memset(target.y + uint64_t{row} * target.pitch,
                static_cast<uint8_t>(kPlaceholderTopLuma - fall), target.width);
  }
  for (uint32_t row = 0; row < target.height / 2; ++row) {
    uint8_t* uv = target.uv + uint64_t{row} * target.pitch;
    for (uint32_t x = 0; x + 1 < target.width; x += 2) {
      uv[x] = kBlueish;
      uv[x + 1] = kReddish;
    }
  }

  // The title twice the size of the lines below it; everything shrinks to fit.
  uint32_t scale = std::max(target.height / 180, 1u);
  while (scale > 1 && text_width(kLines[1], scale) > target.width * 9 / 10) {
    --scale;
  }
  const uint32_t title = 2 * scale;
  const uint32_t block = kRows * title + 4 * scale + kRows * scale + 2 * scale + kRows * scale;
  uint32_t top = target.height > block ? (target.height - block) / 2 : 0;
  draw_text(target, kTitle, top, title, kTitleLuma);
  top += kRows * title + 4 * scale;
  for (const std::string_view line : kLines) {
    draw_text(target, line, top, scale, kTextLuma);
    top += kRows * scale + 2 * scale;
  }
}

}  // namespace korvex::picture
