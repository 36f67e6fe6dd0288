#pragma once

// What the Korvex check found: one line a check, "ok", "warning" or
// "problem", then what it found and, for the last two, the fix in words.

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

namespace korvex::doctor {

enum class Verdict { ok, warning, problem };

struct Finding {
  Verdict verdict = Verdict::ok;
  std::string subject;  // what was checked: "firewall", "port", ...
  std::string text;
};

inline Finding ok(std::string subject, std::string text) {
  return {Verdict::ok, std::move(subject), std::move(text)};
}
inline Finding warning(std::string subject, std::string text) {
  return {Verdict::warning, std::move(subject), std::move(text)};
}
inline Finding problem(std::string subject, std::string text) {
  return {Verdict::problem, std::move(subject), std::move(text)};
}

// "problem  port: TCP 45334 is held by ...", with its line break.
std::string finding_line(const Finding& finding);

// Prints each finding as it comes and counts them.
class Report {
 public:
  explicit Report(std::function<void(std::string_view line)> print) : print_(std::move(print)) {}

  void add(const Finding& finding);

  // "2 problems, 1 warning", with its line break.
  std::string summary() const;
  // 0 when nothing is a problem, else 1.
  int exit_status() const { return problems_ == 0 ? 0 : 1; }

 private:
  std::function<void(std::string_view)> print_;
  size_t problems_ = 0;
  size_t warnings_ = 0;
};

}  // namespace korvex::doctor
