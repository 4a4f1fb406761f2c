#pragma once

#include <string>

namespace platform {

// Asks the desktop to open a file, a folder or an address with the user's preferred program
// (xdg-open, found on PATH), without waiting for it. False when it could not be started.
bool ShellExecuteOpen(const std::string& File);

// Runs a command line of the Windows shell; only "Explorer /select, FILE" is understood: it
// shows FILE selected in the user's file manager (the freedesktop FileManager1 service over
// the session bus, else xdg-open on FILE's folder; the folder too when FILE is not there),
// without waiting. False for any other command, or when nothing could be started.
bool WinExec(const std::string& CommandLine, int ShowCommand);

// The file: URI of an absolute path, its bytes percent-encoded where a URI needs it.
std::string FileUri(const std::string& Path);

} // namespace platform
