#include <gtest/gtest.h>

#include <future>

#include "platform/environment.hpp"
#include "platform/interface_addresses.hpp"
#include "platform/os_error.hpp"
#include "platform/own_path.hpp"
#include "platform/thread.hpp"
#include "platform/utf8.hpp"

#ifdef _WIN32
#include <windows.h>

#include "platform/hresult_win.hpp"
#include "platform/system_text_win.hpp"
#else
#include <pthread.h>

#include <cstdlib>
#endif

namespace korvex::platform {
namespace {

TEST(OsError, MessageThenCode) {
#ifdef _WIN32
  // The wording comes from the system's message tables (Wine's differ from
  // Windows'); the form is ours: the message without its line break, the code.
  const std::string message = system_message(ERROR_FILE_NOT_FOUND);
  ASSERT_FALSE(message.empty());
  EXPECT_NE(message.back(), '\n');
  EXPECT_NE(message.back(), ' ');
  EXPECT_EQ(os_error_text(ERROR_FILE_NOT_FOUND), message + " (os error 2)");
  // Wine has no text for some Winsock codes; the code still shows.
  const std::string socket_error = os_error_text(WSAEADDRINUSE);
  EXPECT_EQ(socket_error.substr(socket_error.size() - 17), " (os error 10048)");
#else
  EXPECT_EQ(os_error_text(2), "No such file or directory (os error 2)");
  EXPECT_EQ(os_error_text(98), "Address already in use (os error 98)");
#endif
}

#ifdef _WIN32
TEST(HresultText, DescriptionThenEightUpperCaseHexDigits) {
  ASSERT_FALSE(system_message(E_ACCESSDENIED).empty());
  EXPECT_EQ(hresult_text(E_ACCESSDENIED), system_message(E_ACCESSDENIED) + " (0x80070005)");
  // A code the system has no message for is shown alone.
  EXPECT_EQ(hresult_text(static_cast<HRESULT>(0xA0001234)), "0xA0001234");
}

TEST(TextConversion, Utf8RoundTrip) {
  const std::string text = "Zo\xC3\xAB \xE5\xB0\x8F \xF0\x9F\x93\xB1";
  EXPECT_EQ(utf16_to_utf8(utf8_to_utf16(text).c_str()), text);
}
#endif

TEST(Threads, SpawnedThreadCarriesItsName) {
  std::promise<std::string> seen;
  auto result = spawn_thread("phone-12", [&seen] {
#ifdef _WIN32
    wchar_t* description = nullptr;
    using GetDescription = HRESULT(WINAPI*)(HANDLE, PWSTR*);
    const auto get = reinterpret_cast<GetDescription>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "GetThreadDescription")));
    std::string name = "<no GetThreadDescription>";
    if (get != nullptr && SUCCEEDED(get(GetCurrentThread(), &description))) {
      name = utf16_to_utf8(description);
      LocalFree(description);
    }
    seen.set_value(name);
#else
    char name[16] = {};
    pthread_getname_np(pthread_self(), name, sizeof name);
    seen.set_value(name);
#endif
  });
  ASSERT_TRUE(result.ok()) << result.error();
  auto name = seen.get_future();
  ASSERT_EQ(name.wait_for(std::chrono::seconds(10)), std::future_status::ready);
  EXPECT_EQ(name.get(), "phone-12");
}

TEST(Utf8, AcceptsWellFormedTextOnly) {
  EXPECT_TRUE(is_valid_utf8(""));
  EXPECT_TRUE(is_valid_utf8("caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80"));
  EXPECT_FALSE(is_valid_utf8("\x80"));              // stray continuation byte
  EXPECT_FALSE(is_valid_utf8("\xC3"));              // cut short
  EXPECT_FALSE(is_valid_utf8("\xC0\xAF"));          // overlong "/"
  EXPECT_FALSE(is_valid_utf8("\xED\xA0\x80"));      // a surrogate
  EXPECT_FALSE(is_valid_utf8("\xF4\x90\x80\x80"));  // above U+10FFFF
  EXPECT_FALSE(is_valid_utf8("\xFF"));
}

TEST(Utf8, InvalidBytesAreReplacedOneByOne) {
  EXPECT_EQ(replace_invalid_utf8("caf\xC3\xA9 \xF0\x9F\x98\x80"), "caf\xC3\xA9 \xF0\x9F\x98\x80");
  EXPECT_EQ(replace_invalid_utf8("a\xFF"
                                 "b"),
            "a\uFFFD"
            "b");
  EXPECT_EQ(replace_invalid_utf8("\xC0\xAF"), "\uFFFD\uFFFD");              // overlong "/"
  EXPECT_EQ(replace_invalid_utf8("x\xE2\x82"), "x\uFFFD\uFFFD");            // cut short
  EXPECT_EQ(replace_invalid_utf8("\xED\xA0\x80!"), "\uFFFD\uFFFD\uFFFD!");  // a surrogate
}

TEST(Utf8, EncodesEveryLengthAndReplacesWhatIsNoCharacter) {
  EXPECT_EQ(encode_utf8(U"a\u00e9\u20ac\U0001F600"), "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80");
  EXPECT_EQ(encode_utf8(std::u32string{0xD800, 0x110000}), "\uFFFD\uFFFD");
}

TEST(OwnPath, NamesThisTestProgramInFull) {
  const auto path = own_program_path();
  ASSERT_TRUE(path.ok()) << path.error();
#ifdef _WIN32
  EXPECT_EQ(path->substr(1, 2), ":\\") << path.value();
  EXPECT_TRUE(path->ends_with("\\platform_tests.exe")) << path.value();
#else
  EXPECT_EQ(path->front(), '/');
  EXPECT_TRUE(path->ends_with("/platform_tests")) << path.value();
#endif
}

TEST(Environment, UnsetInvalidEmptyAndSetValues) {
#ifdef _WIN32
  SetEnvironmentVariableW(L"KORVEX_TEST_VALUE", L"caf\u00e9");
  SetEnvironmentVariableW(L"KORVEX_TEST_EMPTY", L"");
  const wchar_t lone_surrogate[] = {L'a', 0xD800, L'b', 0};
  SetEnvironmentVariableW(L"KORVEX_TEST_INVALID", lone_surrogate);
  SetEnvironmentVariableW(L"KORVEX_TEST_UNSET", nullptr);
#else
  setenv("KORVEX_TEST_VALUE", "caf\xC3\xA9", 1);
  setenv("KORVEX_TEST_EMPTY", "", 1);
  setenv("KORVEX_TEST_INVALID",
         "a\xFF"
         "b",
         1);
  unsetenv("KORVEX_TEST_UNSET");
#endif
  EXPECT_EQ(environment_variable("KORVEX_TEST_VALUE"), "caf\xC3\xA9");
  EXPECT_EQ(environment_variable("KORVEX_TEST_EMPTY"), "");
  EXPECT_EQ(environment_variable("KORVEX_TEST_INVALID"), std::nullopt);
  EXPECT_EQ(environment_variable("KORVEX_TEST_UNSET"), std::nullopt);
}

TEST(InterfaceAddresses, ListsTheLoopbackAddress) {
  // Wherever the test runs, even in a network namespace of its own, 127.0.0.1
  // is on the list (on Linux once lo is up, which every test setup does).
  const auto listed = list_interface_addresses();
  ASSERT_TRUE(listed.ok()) << listed.error();
  bool loopback = false;
  for (const InterfaceAddress& address : listed.value()) {
    loopback = loopback || (address.ipv4 && address.v4 == std::array<uint8_t, 4>{127, 0, 0, 1});
  }
  EXPECT_TRUE(loopback);
}

}  // namespace
}  // namespace korvex::platform
