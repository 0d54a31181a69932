// Fuzzing the key decoder with bytes and the times they arrive at: no
// crash, leak or hang; only well-formed events; the same input always gives
// the same events; and once the longest timeout has passed nothing is left
// pending.
//
// Input: chunks of [time step][length][length bytes]; the step is in units
// of 2 ms, so both the Escape timeout (50 ms) and the sequence timeout (500
// ms) are reached.  A first chunk after a step of 255 is taken as a sequence
// learnt from the terminal's description (F12) before decoding starts.
#include "platform/keydecode.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace {

struct Decoded {
  std::vector<ConsoleEvent> events;
  std::string leftAfterTimeout;
};

bool WellFormed(const ConsoleEvent& e) {
  if (e.kind == ConsoleEvent::KEY) return e.key != 0 && e.key >= -32768 && e.key <= 0xFFFF;
  if (e.kind == ConsoleEvent::MOUSE) return e.column >= 1 && e.row >= 1 && e.button >= 0;
  return false;
}

Decoded Decode(const uint8_t* data, size_t size) {
  KeyDecoder decoder;
  Decoded result;
  int64_t now = 1000;
  size_t at = 0;
  bool first = true;
  while (at + 2 <= size) {
    const int step = data[at];
    const size_t length = data[at + 1];
    const std::string bytes(reinterpret_cast<const char*>(data) + at + 2, std::min(length, size - at - 2));
    at += 2 + bytes.size();
    if (first && step == 255) {
      KeyDecoderAddSequence(decoder, bytes, 0x8600);
    } else {
      now += 2 * step;
      // A wait that ends before the bytes arrive is a poll(2) timeout.
      const int wait = KeyDecoderWaitMs(decoder, now - 2 * step);
      if (wait < -1) __builtin_trap();
      if (wait >= 0 && wait < 2 * step) KeyDecoderTick(decoder, now - 2 * step + wait, result.events);
      KeyDecoderFeed(decoder, bytes, now, result.events);
    }
    first = false;
  }
  now += decoder.sequenceTimeoutMs + decoder.escapeTimeoutMs + 1;
  KeyDecoderTick(decoder, now, result.events);
  result.leftAfterTimeout = decoder.pending;
  if (KeyDecoderWaitMs(decoder, now) != (decoder.pending.empty() ? -1 : 0)) __builtin_trap();
  return result;
}

bool Same(const ConsoleEvent& a, const ConsoleEvent& b) {
  return a.kind == b.kind && a.key == b.key && a.altKeypadDigit == b.altKeypadDigit && a.button == b.button &&
         a.column == b.column && a.row == b.row;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const Decoded once = Decode(data, size);
  for (const ConsoleEvent& e : once.events) {
    if (!WellFormed(e)) __builtin_trap();
    (void)KeyName(e.key).size();
  }
  // Nothing waits for ever: after the longest timeout all input is settled.
  if (!once.leftAfterTimeout.empty()) __builtin_trap();
  const Decoded again = Decode(data, size);
  if (again.events.size() != once.events.size()) __builtin_trap();
  for (size_t i = 0; i < once.events.size(); ++i)
    if (!Same(once.events[i], again.events[i])) __builtin_trap();
  return 0;
}
