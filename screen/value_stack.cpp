// value_stack.cpp - the value stack: texts pushed and popped in pairs, each
// followed by its 16-bit length.
#include "platform/le.h"
#include "screen/windows.h"

void PushValue(const std::string& text) {
  // The length is a 16-bit number: a longer item keeps its first 65535 bytes.
  std::string item = text.size() > 0xFFFF ? text.substr(0, 0xFFFF) : text;
  Windows.valueStack += item + Le16Bytes(static_cast<uint16_t>(item.size()));
}

std::string PopValue() {
  std::string& stack = Windows.valueStack;
  if (stack.size() < 2) {
    // Nothing pushed: an unpaired pop gets an empty item.
    stack.clear();
    return "";
  }
  size_t length = GetLe16(stack.data() + stack.size() - 2);
  stack.resize(stack.size() - 2);
  if (length > stack.size()) {
    // A length larger than what is left: the stack is not what its users
    // pushed; hand back what there is rather than reading before it.
    std::string all = stack;
    stack.clear();
    return all;
  }
  std::string item = stack.substr(stack.size() - length);
  stack.resize(stack.size() - length);
  return item;
}
