#pragma once

// Running the tools others wrote that check our files, through the shell.
#include <optional>
#include <string>

struct TCommandResult {
  std::string Output; // standard output only; add 2>&1 to the command for the errors
  int Status = -1;    // as waitpid gives it: 0 for success
};
TCommandResult RunCommand(const std::string& Command);

// The standard output of a command that must succeed; a failure is the test's.
std::string CheckedOutput(const std::string& Command);

// Text as one word for the shell, whatever it holds.
std::string ShellQuoted(const std::string& Text);

// The flac tool's command that writes a FLAC file's samples to standard output as raw
// little-endian signed PCM, the bytes of the disc for a CD track.
std::string FlacToRawCommand(const std::string& File);

// This test program again, as the user nobody, on the tests Filter names (disabled ones too),
// with its errors in the output. Tests run as root, for whom every folder can be written; a
// folder is really unwritable only to another user. None without root, setpriv or a build
// tree that nobody may read.
std::optional<TCommandResult> RunSelfAsNobody(const std::string& Filter);
