// korvex-hostile-peer: attacks a running receiver on loopback while the phone
// simulator streams beside it, and checks after every attack that the
// receiver is still there, that the simulator's next connection streams again
// within 2 s with every stamp readable, that its threads and descriptors are
// back to where they were, and that its peak memory stayed within 8 MiB of
// the legitimate stream's.

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <charconv>
#include <chrono>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include <fmt/format.h>

#include "attacks.hpp"
#include "process.hpp"

namespace {

using namespace korvex::hostile;
using namespace std::chrono_literals;

constexpr char kUsage[] =
    "usage: korvex-hostile-peer --sim PATH [--pid PID [--judge-memory]] [--port PORT] [--quick]\n"
    "                           [--only NAME] [--list] -- FRAMES_COMMAND...\n"
    "  --sim PATH    the phone simulator (korvex-phone-sim)\n"
    "  --pid PID     the receiver's process, for its threads, descriptors and memory;\n"
    "                without it only recovery and stamps are checked\n"
    "  --judge-memory  fail an attack whose peak memory passes the stream's by 8 MiB\n"
    "                (a release build's figure; a sanitizer's allocator holds on to memory)\n"
    "  --port PORT   the receiver's port [default: 45334]\n"
    "  --quick       every attack scaled down to seconds\n"
    "  --only NAME   run one attack (repeatable)\n"
    "  FRAMES_COMMAND  starts korvex-frames (or korvex-frames.exe under Wine); the driver\n"
    "                  adds --follow SECONDS\n";

constexpr int kRecoveryLimitMs = 2000;
constexpr uint64_t kPeakAllowanceKib = 8 * 1024;
constexpr auto kSettleLimit = 15s;

struct Options {
  std::string sim;
  pid_t pid = 0;
  uint16_t port = 45334;
  bool quick = false;
  bool list = false;
  bool judge_memory = false;
  std::vector<std::string> only;
  std::vector<std::string> frames;
};

template <class T>
bool parse_number(std::string_view text, T& out) {
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), out);
  return error == std::errc() && end == text.data() + text.size();
}

bool parse(int argc, char** argv, Options& o) {
  for (int i = 1; i < argc; ++i) {
    const std::string_view a = argv[i];
    const bool has_value = i + 1 < argc;
    if (a == "--") {
      o.frames.assign(argv + i + 1, argv + argc);
      break;
    } else if (a == "--quick") {
      o.quick = true;
    } else if (a == "--judge-memory") {
      o.judge_memory = true;
    } else if (a == "--list") {
      o.list = true;
    } else if (a == "--sim" && has_value) {
      o.sim = argv[++i];
    } else if (a == "--only" && has_value) {
      o.only.emplace_back(argv[++i]);
    } else if (a == "--pid" && has_value) {
      if (!parse_number(argv[++i], o.pid)) {
        return false;
      }
    } else if (a == "--port" && has_value) {
      if (!parse_number(argv[++i], o.port)) {
        return false;
      }
    } else {
      return false;
    }
  }
  return o.list || (!o.sim.empty() && !o.frames.empty());
}

std::vector<std::string> sim_command(const Options& o, int seconds) {
  return {o.sim,
          "--port",
          std::to_string(o.port),
          "--size",
          "1280x720",
          "--fps",
          "30",
          "--gop",
          "30",
          "--audio",
          "tone",
          "--duration",
          std::to_string(seconds),
          "--name",
          "Legit"};
}

// The simulator's next connection, from the moment it is connected (its
// "-> connected" line) to its first picture in the section with a readable
// stamp; -1 when none came within 10 s.
int recovery_ms(const Options& o, const SectionFollower& follower) {
  int out[2];
  if (::pipe2(out, O_CLOEXEC) != 0) {
    return -1;
  }
  const uint64_t start_us = wall_clock_us();
  auto sim = Child::start(sim_command(o, 10), out[1]);
  ::close(out[1]);
  if (!sim) {
    ::close(out[0]);
    return -1;
  }
  // The simulator's start (encoder and all) is not the receiver's to answer for.
  std::string said;
  char buffer[256];
  ssize_t n = 0;
  while (said.find("-> connected") == std::string::npos &&
         (n = ::read(out[0], buffer, sizeof buffer)) > 0) {
    said.append(buffer, static_cast<size_t>(n));
  }
  ::close(out[0]);
  const uint64_t connected_us = wall_clock_us();
  const auto picture = follower.first_sent_since(start_us, 10'000);
  // A second more of pictures for the stamp check, then Bye.
  std::this_thread::sleep_for(1s);
  sim->stop(3000);
  if (!picture || picture->seen_us < connected_us) {
    return picture ? 0 : -1;
  }
  return static_cast<int>((picture->seen_us - connected_us) / 1000);
}

// Waits until the receiver's threads and descriptors are back to `base`.
ProcessFigures settle(pid_t pid, const ProcessFigures& base, int& settle_ms) {
  const auto start = std::chrono::steady_clock::now();
  ProcessFigures now = read_process(pid);
  while ((now.threads != base.threads || now.fds != base.fds) &&
         std::chrono::steady_clock::now() - start < kSettleLimit) {
    std::this_thread::sleep_for(100ms);
    now = read_process(pid);
  }
  settle_ms = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                   std::chrono::steady_clock::now() - start)
                                   .count());
  return now;
}

// The most threads and descriptors seen while an attack ran.
class PeakSampler {
 public:
  explicit PeakSampler(pid_t pid) : pid_(pid) {
    if (pid_ > 0) {
      thread_ = std::thread([this] {
        while (!done_.load()) {
          const ProcessFigures f = read_process(pid_);
          threads_ = std::max<uint64_t>(threads_, f.threads);
          fds_ = std::max<uint64_t>(fds_, f.fds);
          std::this_thread::sleep_for(20ms);
        }
      });
    }
  }
  ~PeakSampler() { finish(); }
  void finish() {
    done_ = true;
    if (thread_.joinable()) {
      thread_.join();
    }
  }
  uint64_t threads() const { return threads_.load(); }
  uint64_t fds() const { return fds_.load(); }

 private:
  pid_t pid_;
  std::atomic<bool> done_{false};
  std::atomic<uint64_t> threads_{0};
  std::atomic<uint64_t> fds_{0};
  std::thread thread_;
};

double mib_between(uint64_t from_kib, uint64_t to_kib) {
  return (static_cast<double>(to_kib) - static_cast<double>(from_kib)) / 1024.0;
}

void say(const std::string& line) {
  std::fputs(line.c_str(), stdout);
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  ::signal(SIGPIPE, SIG_IGN);
  Options o;
  if (!parse(argc, argv, o)) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  if (o.list) {
    for (const Attack& a : attacks()) {
      say(fmt::format("{:18} {}\n", a.name, a.what));
    }
    return 0;
  }
  std::vector<const Attack*> plan;
  for (const Attack& a : attacks()) {
    if (o.only.empty() || std::find(o.only.begin(), o.only.end(), a.name) != o.only.end()) {
      plan.push_back(&a);
    }
  }
  if (plan.empty()) {
    std::fputs("korvex-hostile-peer: no such attack\n", stderr);
    return 2;
  }

  SectionFollower follower;
  std::vector<std::string> frames = o.frames;
  frames.insert(frames.end(), {"--follow", "36000"});
  if (!follower.start(frames)) {
    std::fputs("korvex-hostile-peer: cannot start the section follower\n", stderr);
    return 1;
  }
  bool all_ok = true;
  auto check = [&all_ok](bool ok, std::vector<std::string>& failures, std::string what) {
    if (!ok) {
      failures.push_back(std::move(what));
      all_ok = false;
    }
  };

  // The legitimate stream alone first: what the receiver looks like serving
  // it, and at rest after it.
  std::this_thread::sleep_for(2s);  // the follower has the section open
  if (o.pid > 0) {
    reset_peak(o.pid);
  }
  const int warm_up_ms = recovery_ms(o, follower);
  say(fmt::format("warm-up: the simulator's first picture after {} ms\n", warm_up_ms));
  ProcessFigures base;
  if (o.pid > 0) {
    const uint64_t stream_peak = read_process(o.pid).peak_rss_kib;
    std::this_thread::sleep_for(3s);  // its ping thread ends too
    base = read_process(o.pid);
    base.peak_rss_kib = stream_peak;
    say(fmt::format("baseline: threads {} fds {} rss {:.1f} MiB, peak while streaming {:.1f} MiB\n",
                    base.threads, base.fds, base.rss_kib / 1024.0, stream_peak / 1024.0));
  }
  if (warm_up_ms < 0) {
    std::fputs("korvex-hostile-peer: the simulator's stream never reached the section\n", stderr);
    return 1;
  }

  for (const Attack* attack : plan) {
    std::vector<std::string> failures;
    // What the attack found: memory an earlier one left behind is the
    // allocator's to give back, not this attack's cost.
    uint64_t start_rss_kib = 0;
    if (o.pid > 0) {
      reset_peak(o.pid);
      start_rss_kib = read_process(o.pid).rss_kib;
    }
    PeakSampler peaks(o.pid);
    LegitPhone legit(sim_command(o, 120));
    legit.start();
    std::this_thread::sleep_for(500ms);
    const auto started = std::chrono::steady_clock::now();
    const AttackResult result = attack->run(o.port, o.quick);
    const double took =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    legit.stop();
    check(result.failure.empty(), failures, result.failure);

    const int recovered = recovery_ms(o, follower);
    check(recovered >= 0 && recovered <= kRecoveryLimitMs, failures,
          fmt::format("recovery {} ms", recovered));
    std::string line = fmt::format(
        "attack {}: {} connections, {:.1f} MiB in {:.1f} s, simulator connections {}; "
        "recovery {} ms",
        attack->name, result.connections, result.bytes / 1048576.0, took, legit.connections(),
        recovered);
    if (o.pid > 0) {
      peaks.finish();
      int settle_ms = 0;
      const ProcessFigures after = settle(o.pid, base, settle_ms);
      check(after.alive, failures, "the receiver is gone");
      check(after.threads == base.threads && after.fds == base.fds, failures,
            "threads or descriptors not back to baseline");
      const uint64_t peak = std::max(after.peak_rss_kib, base.peak_rss_kib);
      check(!o.judge_memory || peak <= base.peak_rss_kib + kPeakAllowanceKib, failures,
            "peak memory");
      line += fmt::format(
          "; threads {}/{}/{} fds {}/{}/{} (base/peak/after, settled in {} ms); "
          "peak rss {:.1f} MiB ({:+.1f}; {:+.1f} over the {:.1f} it started from)",
          base.threads, peaks.threads(), after.threads, base.fds, peaks.fds(), after.fds, settle_ms,
          after.peak_rss_kib / 1024.0, mib_between(base.peak_rss_kib, after.peak_rss_kib),
          mib_between(start_rss_kib, after.peak_rss_kib), start_rss_kib / 1024.0);
    }
    const uint64_t unreadable = follower.unreadable();
    check(unreadable == 0, failures, fmt::format("{} unreadable stamps so far", unreadable));
    line += fmt::format("; unreadable {}", unreadable);
    for (const std::string& f : failures) {
      line += "; FAILED: " + f;
    }
    say(line + "\n");
  }

  follower.stop();
  say(fmt::format("pictures seen {}, unreadable {}; {}\n", follower.pictures(),
                  follower.unreadable(), all_ok ? "all attacks withstood" : "FAILED"));
  return all_ok ? 0 : 1;
}
