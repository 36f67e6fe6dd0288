#include "main/receiver.hpp"

#include <chrono>
#include <memory>
#include <optional>
#include <thread>

#include <fmt/format.h>

#include "audio/audio_output.hpp"
#include "audio/find_output_device.hpp"
#include "audio/microphone.hpp"
#include "audio/missing_output.hpp"
#include "audio/output_choice.hpp"
#include "counters/counters.hpp"
#include "discovery/advertisement.hpp"
#include "discovery/discovery_causes.hpp"
#include "frames/decode_queue.hpp"
#include "frames/decode_thread.hpp"
#include "jitter/jitter_buffer.hpp"
#include "main/snapshot.hpp"
#include "main/startup_causes.hpp"
#include "main/status_line.hpp"
#include "platform/console.hpp"
#include "platform/listening_processes.hpp"
#include "platform/memory.hpp"
#include "platform/thread.hpp"
#include "section/frame_writer.hpp"
#include "section/section_mapping.hpp"
#include "server/keyframe_request.hpp"
#include "server/listener.hpp"
#include "server/phone_link.hpp"
#include "server/server_context.hpp"
#include "vcam/directshow_camera.hpp"
#include "vcam/loopback_output.hpp"
#include "vcam/virtual_camera.hpp"

namespace korvex::main {
namespace {

constexpr uint64_t kDecodeQueueFrames = 8;
// Far above what eight frames of a real phone stream hold (a 4K stream at
// 50 Mbit/s with a 2 MB keyframe: about 3.5 MB), so only a peer sending
// frames of megabytes each meets it; a largest frame (4 MiB) still fits alone.
constexpr uint64_t kDecodeQueueBytes = 6 * 1024 * 1024;
static_assert(discovery::kServicePort == server::kPhonePort);

void on_console_event() {
  vcam::shutdown_virtual_camera();
  // A node left behind would be listed as an input until the server noticed
  // the receiver's connection is gone.
  audio::withdraw_microphone();
  // Under Wine the sound system's thread of a playing stream, ended with the
  // process, crashed the exit now and then (a segfault instead of status 0).
  audio::StreamKeeper::stop_all();
  // Phones would otherwise keep listing a receiver that is gone until the
  // records expire (75 minutes for the service's pointer record).
  discovery::withdraw_advertisement();
  platform::exit_process(0);
}

// Everything the status line reads, held by the main thread for the run.
struct StatusSources {
  std::string vcam_status;  // "disabled" or "unavailable"; the kept camera's own otherwise
  bool vcam_kept = false;
  std::shared_ptr<counters::Counters> counters;
  std::shared_ptr<frames::DecodeQueue> queue;
  std::shared_ptr<jitter::JitterBuffer> jitter;
  std::shared_ptr<section::FrameWriter> frames;
  const audio::AudioOutput* audio = nullptr;  // null without an output
};

[[noreturn]] void status_loop(const StatusSources& sources) {
  using Clock = std::chrono::steady_clock;
  counters::CounterSnapshot previous = take_snapshot(*sources.counters, *sources.queue);
  Clock::time_point previous_time = Clock::now();
  float peak = 0.0f;
  uint64_t discarded = 0;
  StatusLineWriter writer(platform::stdout_is_terminal());

  for (;;) {
    std::this_thread::sleep_for(std::chrono::seconds(1));
    const Clock::time_point now = Clock::now();
    const double dt =
        now > previous_time ? std::chrono::duration<double>(now - previous_time).count() : 0.0;
    const counters::CounterSnapshot current = take_snapshot(*sources.counters, *sources.queue);
    const Rates rates = compute_rates(previous, current, dt);
    const float level = sources.counters->audio_level();
    peak = decay_peak(peak, level, current.audio_packets != previous.audio_packets);

    StatusFields fields;
    fields.vcam = sources.vcam_status;
    if (sources.vcam_kept) {
      if (auto camera = vcam::tend_virtual_camera()) {
        fields.vcam = camera->state;
        if (camera->news) {
          platform::write_stderr(*camera->news + "\n");
        }
      }
    }
    fields.shm = sources.frames->mapped()
                     ? fmt::format("mapped {} written", sources.frames->written())
                     : "waiting";
    if (current.connected) {
      fields.phone = sources.counters->phone_name();
      if (fields.phone.empty()) {
        fields.phone = "iPhone";
      }
    } else {
      fields.phone = "waiting for iPhone";
    }
    fields.rx_fps = rates.rx_fps;
    fields.dec_fps = rates.dec_fps;
    fields.kbps = rates.kbps;
    fields.width = current.width;
    fields.height = current.height;
    fields.queue_length = current.queue_length;
    fields.dropped = current.dropped;
    fields.decode_errors = current.decode_errors;
    fields.rtt_ms = static_cast<double>(current.rtt_us) / 1000.0;
    fields.buffered_ms = sources.jitter->buffered_ms();
    fields.underruns = sources.jitter->underruns();
    fields.peak = peak;
    fields.level = level;

    platform::write_stdout(writer.render(format_status_line(fields), platform::console_columns()));

    // Audio thrown away is never silent; while the output is lost, its error
    // has already said why nothing plays.
    const uint64_t discarded_now = sources.jitter->discarded();
    if (discarded_now > discarded && sources.audio != nullptr && sources.audio->keeper->playing()) {
      platform::write_stderr(fmt::format(
          "audio: {:.0f} ms of the phone's audio discarded over the jitter buffer's ceiling; "
          "{} samples so far\n",
          static_cast<double>(discarded_now - discarded) / 48.0, discarded_now));
    }
    discarded = discarded_now;

    previous = current;
    previous_time = now;
  }
}

}  // namespace

void run_receiver(const Settings& settings) {
  if (settings.background) {
    platform::hide_console();
  }
  platform::install_console_event_handler(on_console_event);
  platform::return_large_blocks_to_system();

  platform::write_stdout(fmt::format(
      "Korvex receiver: iPhone -> {} webcam + mic  (Ctrl-C to quit)\n", platform::system_name()));

  StatusSources sources;
  sources.jitter = std::make_shared<jitter::JitterBuffer>(settings.prefill_ms);

  // Held for the whole run: releasing it would stop playback.
  std::optional<audio::AudioOutput> audio_output;
  if (!settings.no_audio) {
    auto opened =
        audio::open_receiver_audio(settings.device, settings.device_given, sources.jitter);
    if (opened) {
      audio_output = std::move(opened.value());
      sources.audio = &*audio_output;
      platform::write_stdout(fmt::format("-> audio into \"{}\" ({} Hz, {} ch, gain {:.1f}x)\n",
                                         audio_output->endpoint_name, audio_output->sample_rate,
                                         audio_output->channels, settings.gain));
    } else {
      platform::write_stderr(
          fmt::format("audio: {}\n   continuing without the mic\n", opened.error()));
      if (opened.error() == audio::no_match_text(settings.device)) {
        auto host = audio::make_audio_host();
        platform::write_stderr(cause_lines(audio::missing_output_causes(*host, settings.device)));
      }
    }
  }

  Result<std::shared_ptr<section::FrameWriter>> frames = section::FrameWriter::start();
  if (!frames) {
    platform::write_stderr(fmt::format("spawn shm thread: {}\n", frames.error()));
    platform::exit_process(1);
  }
  sources.frames = frames.value();
  platform::write_stdout(fmt::format(
      "-> frames go to {} ({}+ slots; camera shows its placeholder after {} ms without frames)\n",
      section::frame_section_name(), 3, 2000));

  if (settings.no_vcam) {
    sources.vcam_status = "disabled";
  } else if (vcam::offered_to_directshow()) {
    platform::write_stdout(
        fmt::format("-> camera \"{}\" offered to DirectShow programs\n", vcam::kCameraName));
    sources.vcam_status = "directshow";
  } else if (auto camera = vcam::register_virtual_camera(); camera) {
    vcam::keep_virtual_camera(std::move(camera.value()));
    platform::write_stdout(fmt::format("-> virtual camera \"{}\" registered (source {})\n",
                                       vcam::kCameraName, vcam::kSourceId));
    sources.vcam_status = "registered";
    sources.vcam_kept = true;
  } else {
    platform::write_stderr(fmt::format("virtual camera: {}\n", camera.error()));
    sources.vcam_status = "unavailable";
  }
  if (!settings.no_vcam) {
    if (auto loopback = vcam::start_loopback_output(); !loopback) {
      platform::write_stderr(fmt::format("virtual camera: v4l2loopback: {}\n", loopback.error()));
    } else if (loopback.value()) {
      platform::write_stdout(fmt::format(
          "-> virtual camera also on {} (v4l2loopback \"{}\", NV12 {}x{})\n", *loopback.value(),
          vcam::kLoopbackCard, vcam::kLoopbackWidth, vcam::kLoopbackHeight));
    }
  }

  if (!settings.no_mdns) {
    if (auto advertised = discovery::advertise_service(); advertised) {
      platform::write_stdout(fmt::format("-> advertised {} as \"{}\" on {}\n",
                                         discovery::kServiceType, advertised->label,
                                         discovery::join_addresses(advertised->addresses, ", ")));
      discovery::keep_advertisement(std::move(advertised.value()));
    } else {
      platform::write_stderr(
          fmt::format("mDNS: {}; the phone needs the IP typed in\n", advertised.error()));
      platform::write_stderr(cause_lines(discovery::discovery_causes()));
    }
  }

  auto link = std::make_shared<server::PhoneLink>();
  sources.counters = link->counters();
  sources.queue = std::make_shared<frames::DecodeQueue>(kDecodeQueueFrames, kDecodeQueueBytes);

  frames::DecodeContext decode;
  decode.queue = sources.queue;
  decode.counters = sources.counters;
  decode.dump_dir = settings.dump_frames;
  decode.write_frame = [writer = sources.frames](const Picture& picture) {
    (void)writer->write_frame(picture);  // a frame that cannot be written is lost silently
  };
  decode.request_keyframe = [link] { server::request_keyframe(*link); };
  if (auto started = frames::start_decode_thread(std::move(decode)); !started) {
    platform::write_stderr(fmt::format("spawn decode thread: {}\n", started.error()));
    platform::exit_process(1);
  }

  auto listener = server::bind_listener();
  if (!listener) {
    platform::write_stderr(
        fmt::format("could not listen on TCP {}: {}\n", server::kPhonePort, listener.error()));
    if (auto holders = platform::tcp_listeners(server::kPhonePort)) {
      platform::write_stderr(port_holder_lines(server::kPhonePort, holders.value()));
    }
    vcam::shutdown_virtual_camera();
    platform::exit_process(1);
  }
  platform::write_stdout(fmt::format("-> listening on TCP {}\n", server::kPhonePort));

  auto context = std::make_shared<server::ServerContext>(link, sources.queue, sources.jitter,
                                                         sources.frames, settings.gain);
  auto accept = platform::spawn_thread(
      "accept",
      [context, listener = std::make_shared<platform::Socket>(std::move(listener.value()))] {
        server::accept_loop(context, std::move(*listener));
      });
  if (!accept) {
    platform::write_stderr(fmt::format("spawn accept thread: {}\n", accept.error()));
    platform::exit_process(1);
  }

  platform::write_stdout("\n");
  status_loop(sources);
}

}  // namespace korvex::main
