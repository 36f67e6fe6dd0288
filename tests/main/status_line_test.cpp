#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "main/status_line.hpp"

namespace korvex::main {
namespace {

TEST(LevelMeter, CellsFollowThePeak) {
  EXPECT_EQ(level_meter(0.0f), "[............]");
  EXPECT_EQ(level_meter(0.5f), "[######......]");
  EXPECT_EQ(level_meter(1.0f), "[############]");
  EXPECT_EQ(level_meter(1.5f), "[############]");
  EXPECT_EQ(level_meter(-0.3f), "[............]");
  EXPECT_EQ(level_meter(std::numeric_limits<float>::quiet_NaN()), "[............]");
  EXPECT_EQ(level_meter(std::numeric_limits<float>::infinity()), "[############]");
  // 0.125 * 12 = 1.5 exactly: halves round away from zero.
  EXPECT_EQ(level_meter(0.125f), "[##..........]");
  EXPECT_EQ(level_meter(0.04f), "[............]");
  for (float p = -1.0f; p < 2.0f; p += 0.01f) {
    EXPECT_EQ(level_meter(p).size(), 14u);
  }
}

TEST(PeakDecay, FollowsLouderAudioAndFallsWithout) {
  EXPECT_FLOAT_EQ(decay_peak(0.0f, 0.8f, true), 0.8f);
  EXPECT_FLOAT_EQ(decay_peak(1.0f, 0.2f, true), 0.6f);
  // No audio this second: 0.6 then halved, until 0.6 * peak falls below the
  // last level, after which the meter rests at half of that level.
  float peak = 1.0f;
  const float level = 0.1f;
  peak = decay_peak(peak, level, false);
  EXPECT_FLOAT_EQ(peak, 0.3f);
  peak = decay_peak(peak, level, false);
  EXPECT_FLOAT_EQ(peak, 0.09f);
  peak = decay_peak(peak, level, false);
  EXPECT_FLOAT_EQ(peak, 0.05f);
  peak = decay_peak(peak, level, false);
  EXPECT_FLOAT_EQ(peak, 0.05f);
  // With a silent level it falls towards zero.
  EXPECT_FLOAT_EQ(decay_peak(0.5f, 0.0f, false), 0.15f);
  // A NaN peak is replaced by the level.
  EXPECT_FLOAT_EQ(decay_peak(std::numeric_limits<float>::quiet_NaN(), 0.4f, true), 0.4f);
}

TEST(Rates, DeltasOverTheMeasuredInterval) {
  counters::CounterSnapshot a, b;
  a.frames_received = 100;
  b.frames_received = 160;
  a.frames_decoded = 10;
  b.frames_decoded = 40;
  a.bytes_received = 1'000;
  b.bytes_received = 251'000;
  const Rates r = compute_rates(a, b, 2.0);
  EXPECT_DOUBLE_EQ(r.rx_fps, 30.0);
  EXPECT_DOUBLE_EQ(r.dec_fps, 15.0);
  EXPECT_DOUBLE_EQ(r.kbps, 1000.0);
  // No forward progress of the clock: at least a millisecond is assumed.
  EXPECT_DOUBLE_EQ(compute_rates(a, b, 0.0).rx_fps, 60'000.0);
  EXPECT_DOUBLE_EQ(compute_rates(b, b, 1.0).kbps, 0.0);
}

StatusFields example_fields() {
  StatusFields f;
  f.vcam = "registered";
  f.shm = "mapped 1520 written";
  f.phone = "iPhone";
  f.rx_fps = 30.0;
  f.dec_fps = 29.94;
  f.kbps = 2534.4;
  f.width = 1280;
  f.height = 720;
  f.queue_length = 0;
  f.dropped = 3;
  f.decode_errors = 0;
  f.rtt_ms = 4.2;
  f.buffered_ms = 45.2;
  f.underruns = 0;
  f.peak = 0.41f;
  f.level = 0.41f;
  return f;
}

TEST(StatusLine, ExactText) {
  EXPECT_EQ(format_status_line(example_fields()),
            "cam registered | shm mapped 1520 written | iPhone | 30.0 fps rx 29.9 dec 2534 kbps "
            "1280x720 | q 0 drop 3 err 0 | rtt 4.2 ms | audio 45 ms under 0 [#####.......] 0.41");

  StatusFields idle;
  idle.vcam = "disabled";
  idle.shm = "waiting";
  idle.phone = "waiting for iPhone";
  EXPECT_EQ(format_status_line(idle),
            "cam disabled | shm waiting | waiting for iPhone | 0.0 fps rx 0.0 dec 0 kbps 0x0 | "
            "q 0 drop 0 err 0 | rtt 0.0 ms | audio 0 ms under 0 [............] 0.00");
}

TEST(StatusLineWriter, RedirectedOutputWritesWholeLinesWhateverTheWidth) {
  StatusLineWriter writer(false);
  EXPECT_EQ(writer.render("a long line", std::nullopt), "a long line\n");
  EXPECT_EQ(writer.render("short", 3), "short\n");
}

TEST(StatusLineWriter, TerminalPadsShorterLinesByCharacters) {
  StatusLineWriter writer(true);
  EXPECT_EQ(writer.render("0123456789", std::nullopt), "\r0123456789");
  EXPECT_EQ(writer.render("0123", std::nullopt), "\r0123      ");
  EXPECT_EQ(writer.render("0123456", std::nullopt), "\r0123456");
  // "Zoë's 📱" is 7 characters in 11 bytes; the next line pads to 7, not 11.
  EXPECT_EQ(writer.render("Zo\xC3\xAB's \xF0\x9F\x93\xB1", std::nullopt),
            "\rZo\xC3\xAB's \xF0\x9F\x93\xB1");
  EXPECT_EQ(writer.render("abc", std::nullopt), "\rabc    ");
}

TEST(StatusLineWriter, TerminalCutsToOneColumnLessThanTheConsoleAsItIsNow) {
  StatusLineWriter writer(true);
  EXPECT_EQ(writer.render("0123456789", 8), "\r0123456");
  EXPECT_EQ(writer.render("0123456789", 11), "\r0123456789");
  EXPECT_EQ(writer.render("0123456789", 10), "\r012345678");
  // Narrowed: the padding stops at the new width too.
  EXPECT_EQ(writer.render("01", 6), "\r01   ");
  EXPECT_EQ(writer.render("0123456789", 1), "\r");
  EXPECT_EQ(writer.render("0123", std::nullopt), "\r0123");

  // Cut by characters, never inside one: "Zoë's 📱!" in a 7- and an 8-column console.
  const std::string name = "Zo\xC3\xAB's \xF0\x9F\x93\xB1!";
  EXPECT_EQ(writer.render(name, 7), "\rZo\xC3\xAB's ");
  EXPECT_EQ(writer.render(name, 8), "\rZo\xC3\xAB's \xF0\x9F\x93\xB1");
}

TEST(StatusLine, CountsCharactersNotBytes) {
  EXPECT_EQ(count_chars(""), 0u);
  EXPECT_EQ(count_chars("iPhone"), 6u);
  EXPECT_EQ(count_chars("J\xC3\xBCrgen\xE2\x80\x99s iPhone"), 15u);
}

TEST(StatusLine, FirstCharsEndsBetweenCharacters) {
  const std::string_view text = "a\xC3\xBC\xE2\x80\x99\xF0\x9F\x93\xB1z";  // 5 characters, 11 bytes
  const size_t ends[] = {0, 1, 3, 6, 10, 11, 11};
  for (size_t count = 0; count <= 6; ++count) {
    const std::string_view start = first_chars(text, count);
    EXPECT_EQ(start.size(), ends[count]) << count;
    EXPECT_EQ(count_chars(start), std::min<size_t>(count, 5)) << count;
  }
  EXPECT_EQ(first_chars("", 3), "");
}

}  // namespace
}  // namespace korvex::main
