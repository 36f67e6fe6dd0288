#include <windows.h>
// windows.h must come first; initguid.h makes netfw.h define its identifiers here.
#include <initguid.h>
#include <netfw.h>
#include <oleauto.h>
#include <wrl/client.h>


#include "doctor/windows_probes_win.hpp"
#include "platform/hresult_win.hpp"
#include "platform/system_text_win.hpp"

namespace korvex::doctor {
namespace {

using Microsoft::WRL::ComPtr;

constexpr uint32_t kAllProfiles = kDomainProfile | kPrivateProfile | kPublicProfile;

// A BSTR property, or empty when it cannot be read.
template <class Get>
std::string text_of(Get get) {
  BSTR text = nullptr;
  if (FAILED(get(&text)) || text == nullptr) {
    return {};
  }
  std::string out = platform::utf16_to_utf8(text, static_cast<int>(SysStringLen(text)));
  SysFreeString(text);
  return out;
}

FirewallRule rule_of(INetFwRule* rule) {
  FirewallRule out;
  out.name = text_of([rule](BSTR* text) { return rule->get_Name(text); });
  out.local_ports = text_of([rule](BSTR* text) { return rule->get_LocalPorts(text); });
  out.application = text_of([rule](BSTR* text) { return rule->get_ApplicationName(text); });
  NET_FW_RULE_DIRECTION direction = NET_FW_RULE_DIR_OUT;
  out.inbound = SUCCEEDED(rule->get_Direction(&direction)) && direction == NET_FW_RULE_DIR_IN;
  VARIANT_BOOL enabled = VARIANT_FALSE;
  out.enabled = SUCCEEDED(rule->get_Enabled(&enabled)) && enabled != VARIANT_FALSE;
  NET_FW_ACTION action = NET_FW_ACTION_BLOCK;
  out.allow = SUCCEEDED(rule->get_Action(&action)) && action == NET_FW_ACTION_ALLOW;
  LONG protocol = 0;
  out.protocol = SUCCEEDED(rule->get_Protocol(&protocol)) ? protocol : 0;
  LONG profiles = 0;
  out.profiles = SUCCEEDED(rule->get_Profiles(&profiles)) ? static_cast<uint32_t>(profiles) : 0;
  return out;
}

Result<std::vector<FirewallRule>> rules_of(INetFwPolicy2* policy) {
  ComPtr<INetFwRules> rules;
  HRESULT hr = policy->get_Rules(&rules);
  if (FAILED(hr)) {
    return platform::step_failure("INetFwPolicy2::get_Rules", hr);
  }
  ComPtr<IUnknown> each;
  hr = rules->get__NewEnum(&each);
  ComPtr<IEnumVARIANT> enumerator;
  if (SUCCEEDED(hr)) {
    hr = each.As(&enumerator);
  }
  if (FAILED(hr)) {
    return platform::step_failure("INetFwRules::get__NewEnum", hr);
  }
  std::vector<FirewallRule> found;
  VARIANT item;
  VariantInit(&item);
  ULONG fetched = 0;
  while (enumerator->Next(1, &item, &fetched) == S_OK && fetched == 1) {
    ComPtr<INetFwRule> rule;
    if (item.vt == VT_DISPATCH && item.pdispVal != nullptr) {
      item.pdispVal->QueryInterface(IID_PPV_ARGS(&rule));
    }
    VariantClear(&item);
    if (rule) {
      found.push_back(rule_of(rule.Get()));
    }
  }
  return found;
}

}  // namespace

FirewallState read_firewall() {
  FirewallState state;
  CoInitializeEx(nullptr, COINIT_MULTITHREADED);  // the result does not matter
  ComPtr<INetFwPolicy2> policy;
  HRESULT hr =
      CoCreateInstance(CLSID_NetFwPolicy2, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&policy));
  if (FAILED(hr)) {
    const Error error = platform::step_failure("CoCreateInstance(NetFwPolicy2)", hr);
    state.current_profiles = error;
    state.enabled = error;
    state.rules = error;
    return state;
  }
  LONG current = 0;
  hr = policy->get_CurrentProfileTypes(&current);
  state.current_profiles =
      SUCCEEDED(hr) ? Result<uint32_t>(static_cast<uint32_t>(current))
                    : Result<uint32_t>(platform::step_failure("get_CurrentProfileTypes", hr));
  const uint32_t judged = state.current_profiles ? state.current_profiles.value() : kAllProfiles;

  bool enabled = false;
  std::optional<Error> unknown;
  for (uint32_t profile : {kDomainProfile, kPrivateProfile, kPublicProfile}) {
    if ((judged & profile) == 0) {
      continue;
    }
    const auto type = static_cast<NET_FW_PROFILE_TYPE2>(profile);
    VARIANT_BOOL on = VARIANT_FALSE;
    hr = policy->get_FirewallEnabled(type, &on);
    if (FAILED(hr)) {
      unknown = platform::step_failure("get_FirewallEnabled", hr);
      continue;
    }
    VARIANT_BOOL blocks = VARIANT_FALSE;
    if (on != VARIANT_FALSE) {
      enabled = true;
      state.blocks_all_inbound |=
          SUCCEEDED(policy->get_BlockAllInboundTraffic(type, &blocks)) && blocks != VARIANT_FALSE;
    }
  }
  // On for one network is on; off is known only when every profile answered.
  state.enabled = enabled || !unknown ? Result<bool>(enabled) : Result<bool>(*unknown);
  state.rules = rules_of(policy.Get());
  return state;
}

}  // namespace korvex::doctor
