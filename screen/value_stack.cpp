// value_stack.cpp - the value stack: texts pushed and popped in pairs, each
// followed by its 16-bit length.
#include "screen/windows.h"

void PushValue(const std::string& text) {
  // The length is a 16-bit number: a longer item keeps its first 65535 bytes.
  std::string item = text.size() > 0xFFFF ? text.substr(0, 0xFFFF) : text;
  Windows.valueStack += item;
  Windows.valueStack += static_cast<char>(item.size() & 0xFF);
  Windows.valueStack += static_cast<char>((item.size() >> 8) & 0xFF);
}

std::string PopValue() {
  std::string& stack = Windows.valueStack;
  if (stack.size() < 2) {
    // Nothing pushed: an unpaired pop gets an empty item.
    stack.clear();
    return "";
  }
  size_t length = static_cast<unsigned char>(stack[stack.size() - 2]) |
                  (static_cast<size_t>(static_cast<unsigned char>(stack[stack.size() - 1])) << 8);
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
