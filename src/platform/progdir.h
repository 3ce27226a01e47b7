// Where the program lives and what it is: program directory, computer name, file version.
#pragma once

#include <string>

/// Directory of the running executable with a trailing "/", or VKT_HOME (with "/") when set.
std::string ProgramDir();
/// Full path of the running executable.
std::string ProgramPath();
/// The host name of this computer, empty when it cannot be read.
std::string ComputerName();
/// The program's file version "a.b.c.d" (from the build's project version).
std::string FileVersion();
