#pragma once

// The H.264 decoder: one coded access unit in, the pictures it completes out,
// each as a 4:2:0 picture of the visible area. On Windows it
// drives the system's decoder transform (Media Foundation); on Linux it runs
// libavcodec. Owned and used by one thread.

#include <cstdint>
#include <memory>
#include <span>

#include "common/payload.hpp"
#include "common/picture.hpp"
#include "common/result.hpp"

namespace korvex::decoder {

class H264Decoder {
 public:
  // A decoder for a stream announced as `width` x `height`; 0 for either
  // means 1280 x 720.
  static Result<std::unique_ptr<H264Decoder>> create(uint32_t width, uint32_t height);

  virtual ~H264Decoder() = default;

  // Decodes one access unit with presentation time `pts_us` (microseconds),
  // taking its bytes over: a decoder that keeps them past the call (libavcodec
  // reads them in place) frees them when it is done.
  // The pictures it completed stay where the decoder put them, valid until
  // the next call or the decoder's end, so the caller can copy each once, to
  // where it goes. Pictures that came out before an error are dropped with
  // it; a failed call leaves the decoder usable.
  virtual Result<std::span<const Picture>> decode(Payload data, uint64_t pts_us) = 0;

  // The picture size as negotiated so far.
  virtual uint32_t width() const = 0;
  virtual uint32_t height() const = 0;
};

// Prepares the calling thread for owning a decoder (COM's multithreaded
// apartment on Windows); nothing to do elsewhere.
void init_decoder_thread();

}  // namespace korvex::decoder
