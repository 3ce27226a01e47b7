// autocall: registers in-process server libraries and calls members of their objects by name.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

/// Exit codes of autocall.
enum TAutocallExit { AutocallOk = 0, AutocallFailed = 1, AutocallUsage = 2 };

/// Runs autocall with its arguments (without the program name): results go to `out` one a line,
/// failures and usage to `err`.
int RunAutocall(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
