// The responder over dnsapi.dll's DNS-SD functions, against a fake dnsapi.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "discovery/dnssd_responder_win.hpp"
#include "platform/system_text_win.hpp"

namespace korvex::discovery {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::StartsWith;

// How the fake answers a register or deregister call.
enum class Answer { kAtOnce, kFromAnotherThread, kNever, kRefuse };

// The fake dnsapi's state: one test at a time.
struct FakeDnsApi {
  std::vector<std::string> log;  // "lookup X", then the calls in order
  Answer register_answer = Answer::kAtOnce;
  DWORD register_status = ERROR_SUCCESS;
  Answer deregister_answer = Answer::kAtOnce;
  DNS_SERVICE_INSTANCE instance{};
  bool instance_freed = false;
  int copies_freed = 0;
  // What DnsServiceConstructInstance was given.
  std::wstring name, host;
  IP4_ADDRESS ip4 = 0;
  bool ip6_given = false;
  WORD port = 0, priority = 1, weight = 1;
  std::map<std::wstring, std::wstring> properties;
  DNS_SERVICE_REGISTER_REQUEST request{};  // as DnsServiceRegister saw it
};
FakeDnsApi* g_fake = nullptr;

// The system hands the callback a copy of the instance for the caller to free.
DNS_SERVICE_INSTANCE g_copy{};

void answer(Answer how, const DNS_SERVICE_REGISTER_REQUEST* request, DWORD status) {
  const auto call = [callback = request->pRegisterCompletionCallback,
                     context = request->pQueryContext,
                     status] { callback(status, context, &g_copy); };
  if (how == Answer::kAtOnce) {
    call();
  } else if (how == Answer::kFromAnotherThread) {
    std::thread(call).detach();
  }
}

PDNS_SERVICE_INSTANCE WINAPI fake_construct(PCWSTR name, PCWSTR host, PIP4_ADDRESS ip4,
                                            PIP6_ADDRESS ip6, WORD port, WORD priority, WORD weight,
                                            DWORD count, PCWSTR* keys, PCWSTR* values) {
  g_fake->log.push_back("DnsServiceConstructInstance");
  g_fake->name = name;
  g_fake->host = host;
  g_fake->ip4 = ip4 != nullptr ? *ip4 : 0;
  g_fake->ip6_given = ip6 != nullptr;
  g_fake->port = port;
  g_fake->priority = priority;
  g_fake->weight = weight;
  for (DWORD i = 0; i < count; ++i) {
    g_fake->properties[keys[i]] = values[i];
  }
  return &g_fake->instance;
}

DWORD WINAPI fake_register(PDNS_SERVICE_REGISTER_REQUEST request, PDNS_SERVICE_CANCEL) {
  g_fake->log.push_back("DnsServiceRegister");
  g_fake->request = *request;
  if (g_fake->register_answer == Answer::kRefuse) {
    return ERROR_INVALID_PARAMETER;
  }
  answer(g_fake->register_answer, request, g_fake->register_status);
  return kDnsRequestPending;
}

DWORD WINAPI fake_deregister(PDNS_SERVICE_REGISTER_REQUEST request, PDNS_SERVICE_CANCEL) {
  g_fake->log.push_back("DnsServiceDeRegister");
  EXPECT_EQ(request->pServiceInstance, &g_fake->instance);
  answer(g_fake->deregister_answer, request, ERROR_SUCCESS);
  return kDnsRequestPending;
}

VOID WINAPI fake_free(PDNS_SERVICE_INSTANCE instance) {
  if (instance == &g_copy) {
    ++g_fake->copies_freed;
    return;
  }
  g_fake->log.push_back("DnsServiceFreeInstance");
  EXPECT_EQ(instance, &g_fake->instance);
  g_fake->instance_freed = true;
}

// Through void (*)(), which converts to any function pointer without a warning.
template <class F>
FARPROC as_export(F* function) {
  return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(function));
}

class DnsSdResponderTest : public ::testing::Test {
 protected:
  void SetUp() override { g_fake = &fake_; }
  void TearDown() override { g_fake = nullptr; }

  // Looks names up in the fake, leaving out `missing`.
  FunctionLookup lookup(const std::string& missing = "") {
    return [missing](const char* name) -> FARPROC {
      g_fake->log.push_back(std::string("lookup ") + name);
      static const std::map<std::string, FARPROC> exports = {
          {"DnsServiceConstructInstance", as_export(&fake_construct)},
          {"DnsServiceRegister", as_export(&fake_register)},
          {"DnsServiceDeRegister", as_export(&fake_deregister)},
          {"DnsServiceFreeInstance", as_export(&fake_free)},
      };
      return name == missing ? nullptr : exports.at(name);
    };
  }

  std::unique_ptr<Responder> responder() {
    auto functions = resolve_dnssd_functions(lookup());
    EXPECT_TRUE(functions.ok());
    return make_dnssd_responder(functions.value());
  }

  static ServiceDescription service() {
    return {"DESKTOP-7Q2K", "DESKTOP-7Q2K.local", {{192, 168, 1, 20}, {10, 0, 0, 5}}};
  }

  FakeDnsApi fake_;
};

TEST_F(DnsSdResponderTest, AllFourFunctionsAreFoundBeforeAnyIsCalled) {
  auto r = responder();
  ASSERT_TRUE(r->publish(service()).ok());
  EXPECT_THAT(fake_.log,
              ElementsAre("lookup DnsServiceConstructInstance", "lookup DnsServiceRegister",
                          "lookup DnsServiceDeRegister", "lookup DnsServiceFreeInstance",
                          "DnsServiceConstructInstance", "DnsServiceRegister"));
}

TEST_F(DnsSdResponderTest, AnyMissingFunctionMeansNoResponderAndNothingIsCalled) {
  for (const char* missing : {"DnsServiceConstructInstance", "DnsServiceRegister",
                              "DnsServiceDeRegister", "DnsServiceFreeInstance"}) {
    fake_.log.clear();
    const auto functions = resolve_dnssd_functions(lookup(missing));
    ASSERT_FALSE(functions.ok()) << missing;
    EXPECT_THAT(functions.error(), StartsWith("mDNS daemon: this system has no DNS-SD responder"));
    EXPECT_EQ(fake_.log.size(), 4u) << "every name is looked up, none called";
  }
}

TEST_F(DnsSdResponderTest, RegistersTheInstanceWithItsValues) {
  auto r = responder();
  ASSERT_TRUE(r->publish(service()).ok());
  EXPECT_EQ(fake_.name, L"DESKTOP-7Q2K._korvex._tcp.local");
  EXPECT_EQ(fake_.host, L"DESKTOP-7Q2K.local");
  // The first address only, in network order.
  uint8_t ip4[4];
  std::memcpy(ip4, &fake_.ip4, 4);
  EXPECT_THAT(ip4, ElementsAre(192, 168, 1, 20));
  EXPECT_FALSE(fake_.ip6_given);
  EXPECT_EQ(fake_.port, 45334);
  EXPECT_EQ(fake_.priority, 0);
  EXPECT_EQ(fake_.weight, 0);
  EXPECT_THAT(fake_.properties,
              ElementsAre(std::pair<const std::wstring, std::wstring>(L"v", L"1")));
  EXPECT_EQ(fake_.request.Version, static_cast<ULONG>(DNS_QUERY_REQUEST_VERSION1));
  EXPECT_EQ(fake_.request.InterfaceIndex, 0u);
  EXPECT_EQ(fake_.request.pServiceInstance, &fake_.instance);
  EXPECT_EQ(fake_.request.hCredentials, nullptr);
  EXPECT_FALSE(fake_.request.unicastEnabled);
  EXPECT_EQ(fake_.copies_freed, 1) << "the callback's instance is the caller's to free";
}

TEST_F(DnsSdResponderTest, WaitsForACompletionFromTheSystemsThread) {
  fake_.register_answer = Answer::kFromAnotherThread;
  fake_.deregister_answer = Answer::kFromAnotherThread;
  auto r = responder();
  ASSERT_TRUE(r->publish(service()).ok());
  r->withdraw();
  r.reset();
  EXPECT_THAT(fake_.log, ElementsAre(::testing::_, ::testing::_, ::testing::_, ::testing::_,
                                     "DnsServiceConstructInstance", "DnsServiceRegister",
                                     "DnsServiceDeRegister", "DnsServiceFreeInstance"));
}

TEST_F(DnsSdResponderTest, RegistrationFailuresAreReported) {
  fake_.register_status = ERROR_ACCESS_DENIED;
  auto r = responder();
  auto published = r->publish(service());
  ASSERT_FALSE(published.ok());
  EXPECT_EQ(published.error(),
            "mDNS register: " + platform::system_message(ERROR_ACCESS_DENIED) + " (status 5)");

  fake_.register_answer = Answer::kRefuse;
  published = responder()->publish(service());
  ASSERT_FALSE(published.ok());
  EXPECT_THAT(published.error(), StartsWith("mDNS register: "));
  EXPECT_THAT(published.error(), HasSubstr("(status 87)"));
}

TEST_F(DnsSdResponderTest, NoAnswerInTimeIsAFailureAndLeavesTheInstanceAlone) {
  fake_.register_answer = Answer::kNever;
  auto r = responder();
  const auto published = r->publish(service());
  ASSERT_FALSE(published.ok());
  EXPECT_EQ(published.error(), "mDNS register: no answer from the DNS-SD responder within 2000 ms");
  r->withdraw();
  // The system could still call back into the request: nothing of it is freed.
  r.reset();
  EXPECT_FALSE(fake_.instance_freed);
  EXPECT_EQ(std::count(fake_.log.begin(), fake_.log.end(), "DnsServiceDeRegister"), 0);
}

TEST_F(DnsSdResponderTest, WithdrawalGivesUpAfterItsWait) {
  fake_.deregister_answer = Answer::kNever;
  auto r = responder();
  ASSERT_TRUE(r->publish(service()).ok());
  r->withdraw();
  r.reset();
  EXPECT_EQ(fake_.log.back(), "DnsServiceDeRegister");
  EXPECT_FALSE(fake_.instance_freed);
}

}  // namespace
}  // namespace korvex::discovery
