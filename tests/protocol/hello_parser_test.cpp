#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "protocol/hello.hpp"

namespace korvex::protocol {
namespace {

Result<Hello> parse(std::string_view text) {
  return parse_hello(std::span(reinterpret_cast<const uint8_t*>(text.data()), text.size()));
}

TEST(ParseHello, ObjectFormTakesEveryField) {
  const auto hello =
      parse(R"({"name":"Zo\u00eb's iPhone","app":"Korvex 1.2","width":1280,"height":720,"fps":30,)"
            R"("codec":"h264","audio":{"rate":48000,"channels":1,"format":"s16le"}})");
  ASSERT_TRUE(hello.ok()) << hello.error();
  EXPECT_EQ(hello->name, "Zo\xC3\xAB's iPhone");
  EXPECT_EQ(hello->app, "Korvex 1.2");
  EXPECT_EQ(hello->width, 1280u);
  EXPECT_EQ(hello->height, 720u);
  EXPECT_EQ(hello->fps, 30u);
  EXPECT_EQ(hello->codec, "h264");
  EXPECT_EQ(hello->audio.rate, 48000u);
  EXPECT_EQ(hello->audio.channels, 1u);
  EXPECT_EQ(hello->audio.format, "s16le");
}

TEST(ParseHello, ValidForms) {
  struct Case {
    const char* text;
    std::string name;
    uint32_t width;
    uint32_t rate;
    uint16_t channels;
  };
  const Case cases[] = {
      {"{}", "", 0, 0, 0},
      {" \t\r\n{\"name\":\"\"} \n", "", 0, 0, 0},
      // Array form: missing trailing fields keep their defaults.
      {R"(["Pixel","app",640,480,25])", "Pixel", 640, 0, 0},
      {R"(["a","b",1,2,3,"c",[44100,2,"f32"]])", "a", 1, 44100, 2},
      {R"([])", "", 0, 0, 0},
      // Unknown keys are skipped whatever their value, nested or null.
      {R"({"extra":[{"x":[1,2.5,null]},{"y":{}}],"name":"n","more":null,"f":1e9,"b":true})", "n", 0,
       0, 0},
      {R"({"audio":{"channels":1,"unknown":{"deep":[[]]}}})", "", 0, 0, 1},
      // Upper ends of the ranges; -0 is an integer zero.
      {R"({"width":4294967295,"audio":{"rate":-0,"channels":65535}})", "", 4294967295u, 0, 65535},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    const auto hello = parse(c.text);
    ASSERT_TRUE(hello.ok());
    EXPECT_EQ(hello->name, c.name);
    EXPECT_EQ(hello->width, c.width);
    EXPECT_EQ(hello->audio.rate, c.rate);
    EXPECT_EQ(hello->audio.channels, c.channels);
  }
}

TEST(ParseHello, EachInvalidFormIsRejected) {
  const char* cases[] = {
      "",
      "   ",
      "null",
      "\"iPhone\"",
      "42",
      // More elements than fields.
      R"(["a","b",1,2,3,"c",{},"extra"])",
      R"({"audio":[48000,1,"s16le",0]})",
      // Duplicate keys, known or not, at either level.
      R"({"name":"a","name":"b"})",
      R"({"x":1,"x":2})",
      R"({"audio":{"rate":1,"rate":1}})",
      // Integers only, within their range.
      R"({"width":1280.0})",
      R"({"width":1e3})",
      R"({"width":-1})",
      R"({"width":4294967296})",
      R"({"height":18446744073709551616})",
      R"({"audio":{"channels":70000}})",
      R"({"audio":{"rate":4294967296}})",
      // Wrong types, null included.
      R"({"name":null})",
      R"({"name":5})",
      R"({"width":"1280"})",
      R"({"audio":null})",
      R"({"audio":48000})",
      R"({"codec":["h264"]})",
      R"([1280])",
      R"({"width":true})",
      // Anything after the document but whitespace.
      "{} x",
      "{}{}",
      // Not JSON at all, or not quite.
      "{",
      R"({"name":"a",})",
      "{'name':'a'}",
      "\xEF\xBB\xBF{}",
      "{\"name\":\"\xC3\x28\"}",
      "{\"name\":\"\xED\xA0\x80\"}",
      R"({"name":"\ud800"})",
      "{\"name\":\"a\nb\"}",
      "{} // comment",
  };
  for (const char* text : cases) {
    SCOPED_TRACE(testing::PrintToString(std::string(text)));
    EXPECT_FALSE(parse(text).ok());
  }
}

// Long runs of whitespace between tokens are read as one byte, never inside
// a string, whatever quotes and backslashes the string holds.
TEST(ParseHello, WhitespaceBetweenTokensAndInsideStrings) {
  const std::string pad(100000, ' ');
  const auto hello =
      parse(pad + "{" + pad + R"("name")" + pad + ":\t\r\n " + R"("a  \"  b\\  c ")" + pad + "," +
            R"("app":"x \\\"  ")" + ",\n" + pad + R"("width" :  640  )" + pad + "}" + pad);
  ASSERT_TRUE(hello.ok()) << hello.error();
  EXPECT_EQ(hello->name, "a  \"  b\\  c ");
  EXPECT_EQ(hello->app, "x \\\"  ");
  EXPECT_EQ(hello->width, 640u);
  // Whitespace still separates what it separates.
  EXPECT_FALSE(parse("[\"n\", \"a\", 6 40]").ok());
  EXPECT_FALSE(parse("{\"width\":1 \n\n 2}").ok());
}

TEST(ParseHello, NulBytesAreNotTheEndOfTheDocument) {
  EXPECT_FALSE(parse(std::string_view("{}\0", 3)).ok());
  EXPECT_FALSE(parse(std::string_view("{\"name\":\"a\"}\0{\"x\":1}", 18)).ok());
  EXPECT_FALSE(parse(std::string_view("{\"name\":\"a\0b\"}", 14)).ok());
}

}  // namespace
}  // namespace korvex::protocol
