// Windows offers a program no way to add a capture endpoint of its own
// without a driver: the phone reaches other programs through VB-CABLE.

#include "audio/microphone.hpp"

namespace korvex::audio {

std::unique_ptr<MicrophoneHost> make_microphone_host() {
  return nullptr;
}

void withdraw_microphone() {}

}  // namespace korvex::audio
