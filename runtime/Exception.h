#pragma once

#include <exception>
#include <string>

// The base error type of the program: a message text and nothing else.
class Exception : public std::exception {
public:
  explicit Exception(std::string Message) : FMessage(std::move(Message)) {}
  const char* what() const noexcept override { return FMessage.c_str(); }
  const std::string& Message() const noexcept { return FMessage; }

private:
  std::string FMessage;
};

// The copy protocol's error: an object that cannot take another's values.
class EConvertError : public Exception {
public:
  using Exception::Exception;
};

// The message of any exception in flight, for code that must turn errors into text.
std::string ExceptionMessage(std::exception_ptr Error);

// Fills each %s of Format with the next argument, in order.
std::string FormatMessage(std::string_view Format, std::initializer_list<std::string_view> Args);
