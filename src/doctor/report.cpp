#include "doctor/report.hpp"

#include <fmt/format.h>

namespace korvex::doctor {
namespace {

std::string_view verdict_name(Verdict verdict) {
  switch (verdict) {
    case Verdict::ok:
      return "ok";
    case Verdict::warning:
      return "warning";
    case Verdict::problem:
      return "problem";
  }
  return "?";
}

std::string counted(size_t count, std::string_view noun) {
  return fmt::format("{} {}{}", count, noun, count == 1 ? "" : "s");
}

}  // namespace

std::string finding_line(const Finding& finding) {
  return fmt::format("{:<8} {}: {}\n", verdict_name(finding.verdict), finding.subject,
                     finding.text);
}

void Report::add(const Finding& finding) {
  problems_ += finding.verdict == Verdict::problem ? 1 : 0;
  warnings_ += finding.verdict == Verdict::warning ? 1 : 0;
  print_(finding_line(finding));
}

std::string Report::summary() const {
  return fmt::format("{}, {}\n", counted(problems_, "problem"), counted(warnings_, "warning"));
}

}  // namespace korvex::doctor
