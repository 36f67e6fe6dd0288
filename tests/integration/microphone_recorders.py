"""Programs recording the receiver's microphone on a desktop, the ways users' programs do:
through pipewire-pulse's PulseAudio interface (parec, as browsers and call programs record),
and as a PipeWire stream that WirePlumber links to the node it names (pw-record). Each writes
16-bit mono samples at 48 kHz into a file of its own; stop() returns them."""

from audio_recording import RATE, SampleFile

NODE = "korvex-microphone"


class PulseRecorder(SampleFile):
    def __init__(self, session, latency_ms=20):
        super().__init__("korvex-parec-", 1)
        self.record(["parec", "-d", NODE, "--raw", "--format=s16le", f"--rate={RATE}",
                     "--channels=1", f"--latency-msec={latency_ms}"],
                    session.client_env, stdout=self.file)
        # The node runs for its recorder with or without a phone: silence comes first.
        self.wait_for_samples("parec records nothing from the microphone")


class PipeWireRecorder(SampleFile):
    def __init__(self, session):
        super().__init__("korvex-pw-record-", 1)
        self.record(["pw-record", "--target", NODE, "--rate", str(RATE), "--channels", "1",
                     "--format", "s16", "-"], session.client_env, stdout=self.file)
        self.wait_for_samples("pw-record records nothing from the microphone")
