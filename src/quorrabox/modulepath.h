// Where the server library itself was loaded from, as registration records it.
#pragma once

#include <string>

/// The full path of this library as the loader opened it; empty when it cannot be told.
std::string ModulePath();
