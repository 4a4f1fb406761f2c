#include "runtime/Application.h"

#include "runtime/Exception.h"

#include <cstdio>

namespace {
std::function<void(const std::string&)> Display;
std::function<void(const std::string&)> MessageDisplay;
} // namespace

void SetErrorDisplay(std::function<void(const std::string& Message)> Value) {
  Display = std::move(Value);
}

std::string ErrorDisplayText(const std::string& Message) {
  if (Message.empty() || static_cast<unsigned char>(Message.back()) <= '.')
    return Message;
  return Message + ".";
}

void HandleException(std::exception_ptr Error) {
  std::string Text = ErrorDisplayText(ExceptionMessage(Error));
  if (Display) {
    Display(Text);
    return;
  }
  std::fprintf(stderr, "Tavrune: %s\n", Text.c_str());
}

void SetMessageDisplay(std::function<void(const std::string& Message)> Value) {
  MessageDisplay = std::move(Value);
}

void ShowMessage(const std::string& Message) {
  if (MessageDisplay) {
    MessageDisplay(Message);
    return;
  }
  std::fprintf(stderr, "Tavrune: %s\n", Message.c_str());
}
