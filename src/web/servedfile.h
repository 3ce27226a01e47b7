// The files the web administration may serve: regular files inside the process's current
// directory tree, and nothing a request could point outside it.
#pragma once

#include <string>

enum class TServedFile {
    /// No such file, or a path that is refused (answered the same way, so a request cannot tell).
    Missing,
    /// Read whole.
    Read,
    /// There but not loaded (it could not be opened, or a read failed); `content` holds what was
    /// read before.
    Failed,
};

/// Reads a served file whole. Refused: absolute paths, ".." segments, backslashes, NUL, anything
/// that resolves (symlinks included) outside the current directory, anything but a regular file.
TServedFile ReadServedFile(const std::string& path, std::string& content);
