// Hands every block of the microphone's first channel to the page, as it comes.
class Capture extends AudioWorkletProcessor {
  process(inputs) {
    const channel = inputs[0][0];
    if (channel) {
      this.port.postMessage(channel.slice(0));
    }
    return true;
  }
}
registerProcessor("capture", Capture);
