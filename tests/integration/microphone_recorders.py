"""Programs recording the receiver's microphone on a desktop, the ways users' programs do:
through pipewire-pulse's PulseAudio interface (parec, as browsers and call programs record),
and as a PipeWire stream that WirePlumber links to the node it names (pw-record). Each writes
16-bit mono samples at 48 kHz into a file of its own; stop() returns them."""

import subprocess

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
    """pw-record into a WAV file, as users run it (into standard output some versions write
    a header and others do not)."""

    def __init__(self, session):
        super().__init__("korvex-pw-record-", 1, ".wav")
        self.record(["pw-record", "--target", NODE, "--rate", str(RATE), "--channels", "1",
                     "--format", "s16", self.file.name], session.client_env,
                     stdout=subprocess.DEVNULL)
        # The header comes first, then the samples.
        self.wait_for_samples("pw-record records nothing from the microphone", after=512)

    def payload(self, data):
        # Whatever the header says of the length (a recorder ended with a signal may not
        # have written it), the samples run from the data chunk to the end of the file.
        at = data.find(b"data")
        return data[at + 8:] if at >= 0 else b""
