#pragma once

#include <string>

namespace platform {

// Asks the desktop to open a file, a folder or an address with the user's preferred program
// (xdg-open, found on PATH), without waiting for it. False when it could not be started.
bool ShellExecuteOpen(const std::string& File);

} // namespace platform
