#pragma once

#include "runtime/Application.h"

#include <string>
#include <vector>

// Puts a recording error display in place of the message box for one test, so that a test can
// see what the user would have been shown without a modal box to close.
class TRecordedErrors {
public:
  TRecordedErrors() {
    SetErrorDisplay([this](const std::string& Text) { FTexts.push_back(Text); });
  }
  ~TRecordedErrors() { SetErrorDisplay(nullptr); }
  TRecordedErrors(const TRecordedErrors&) = delete;
  TRecordedErrors& operator=(const TRecordedErrors&) = delete;

  const std::vector<std::string>& Texts() const { return FTexts; }

private:
  std::vector<std::string> FTexts;
};
