#pragma once

#include <exception>
#include <functional>
#include <string>

// The application's error display: what happens to an error that escapes a handler of the
// user interface. The window installs a message box; until then the error goes to standard
// error. Called on the main thread.
void SetErrorDisplay(std::function<void(const std::string& Message)> Display);
void HandleException(std::exception_ptr Error);

// The text shown for an error: its message with a full stop appended unless it already ends in
// a character at or below the full stop ('.', '!', a blank, ...); an empty message stays empty.
std::string ErrorDisplayText(const std::string& Message);

// A message for the user that is not an error ("Please select a track to rip!"), shown as the
// window installs it; until then it goes to standard error. Called on the main thread.
void SetMessageDisplay(std::function<void(const std::string& Message)> Display);
void ShowMessage(const std::string& Message);
