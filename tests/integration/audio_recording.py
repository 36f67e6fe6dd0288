"""Recording what the receiver plays (a sink's monitor, or any program that records into a
file) and measuring the tone in it, for the audio tests."""

import array
import os
import subprocess
import tempfile
import time

RATE = 48000
LOUD = 200   # a 1 kHz tone at half scale is louder than this but at its zero crossings
QUIET = 100  # and never this quiet for two samples running


class SampleFile:
    """What a recording program writes: raw 16-bit samples in a file of its own, read when the
    program is stopped."""

    def __init__(self, prefix, channels, suffix=".raw"):
        self.channels = channels
        self.file = tempfile.NamedTemporaryFile(prefix=prefix, suffix=suffix)
        self.proc = None

    def record(self, command, env, stdout):
        self.proc = subprocess.Popen(command, env=env, stdout=stdout, stderr=subprocess.DEVNULL)

    def wait_for_samples(self, failure, after=0):
        """Until the first samples are in the file (past its first `after` bytes); raises
        `failure` after 20 s or when the program ends first."""
        deadline = time.monotonic() + 20
        while os.path.getsize(self.file.name) <= after:
            if time.monotonic() > deadline or self.proc.poll() is not None:
                raise AssertionError(failure)
            time.sleep(0.02)

    def payload(self, data):
        """The samples in what the program wrote: all of it, unless it writes a header."""
        return data

    def stop(self):
        """The first channel's samples."""
        self.proc.terminate()
        self.proc.wait()
        with open(self.file.name, "rb") as f:
            data = self.payload(f.read())
        self.file.close()
        samples = array.array("h")
        frame = 2 * self.channels
        samples.frombytes(data[:len(data) // frame * frame])
        return samples[0::self.channels]


class Recording(SampleFile):
    """A sink's monitor (the cable's by default), recorded by parec into a file as 16-bit at
    48 kHz. With its default latency parec loses about the first second; 20 ms keeps
    everything."""

    def __init__(self, pulse, source="cable.monitor", channels=2):
        super().__init__("korvex-cable-", channels)
        self.record(["parec", "-d", source, "--raw", "--format=s16le", f"--rate={RATE}",
                     f"--channels={channels}", "--latency-msec=20"],
                    pulse.client_env, stdout=self.file)
        # parec can take a while to start; the phone waits for the first audio.
        self.wait_for_samples("parec records nothing")


def audible(samples):
    """From the first to the last sample above the noise floor."""
    loud = [i for i, s in enumerate(samples) if abs(s) > LOUD]
    return samples[loud[0]:loud[-1] + 1] if loud else samples[:0]


def holes(samples):
    """(start, length) of every run of near-silent samples longer than one, in samples."""
    found, quiet = [], 0
    for i, s in enumerate(samples):
        if abs(s) < QUIET:
            quiet += 1
            continue
        if quiet > 1:
            found.append((i - quiet, quiet))
        quiet = 0
    if quiet > 1:
        found.append((len(samples) - quiet, quiet))
    return found


def longest_hole(samples):
    """The length of the longest hole, in samples; 0 without one."""
    return max((length for _, length in holes(samples)), default=0)


def longest_unbroken(samples):
    """The longest stretch without a hole longer than two samples: audio without a gap."""
    best, start = (0, 0), 0
    for at, length in holes(samples):
        if length > 2:
            best = max(best, (at - start, start))
            start = at + length
    best = max(best, (len(samples) - start, start))
    return samples[best[1]:best[1] + best[0]]


def frequency(samples):
    """Rising zero crossings per second."""
    return sum(1 for a, b in zip(samples, samples[1:]) if a < 0 <= b) * RATE / len(samples)


def tone_figures(samples):
    """(seconds, longest hole in ms, Hz) of the tone in a recording: its audible part."""
    tone = audible(samples)
    if not tone:
        return 0.0, 0.0, 0.0
    return len(tone) / RATE, longest_hole(tone) / RATE * 1000, frequency(tone)
