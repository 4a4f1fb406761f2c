#pragma once

#include "runtime/Application.h"

#include <exception>
#include <string>

namespace ui {

// Shows Text in the application's error box (captioned "Tavrune", an error icon, an OK button)
// over the active window, and returns when the user has closed it.
void ShowErrorMessage(const std::string& Text);

// Shows Text in an information box captioned "Tavrune" with an OK button.
void ShowInformationMessage(const std::string& Text);

// Makes HandleException show errors in that box, and ShowMessage in the information box.
void InstallErrorDisplay();

// Runs Call; an error that escapes it goes to the application's error display instead of
// unwinding into Qt's event loop. Every handler the windows connect runs inside this.
template <class TCall> void Guarded(TCall&& Call) noexcept {
  try {
    Call();
  } catch (...) {
    HandleException(std::current_exception());
  }
}

} // namespace ui
