// The files the web administration may serve: regular files inside the process's current
// directory tree whose name ends in the kind asked for, and nothing a request could point
// outside it. A served file is streamed in blocks, so a large file costs one block per
// connection, not its whole size.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

/// The answer a file request gets.
enum class TServedFileState {
    /// No such file, or a path that is refused (answered the same way, so a request cannot tell).
    Missing,
    /// Open and ready to stream.
    Open,
    /// There but not loaded (it could not be opened or read).
    Failed,
};

/// Whether `path` ends in `suffix` (exact, case-sensitive): only such paths are file requests.
bool HasServedSuffix(const std::string& path, const char* suffix);

class TServedFile {
public:
    TServedFile() = default;
    ~TServedFile();
    TServedFile(const TServedFile&) = delete;
    TServedFile& operator=(const TServedFile&) = delete;

    /// Opens a served file. Refused (Missing): absolute paths, ".." segments, backslashes, NUL,
    /// anything that resolves (symlinks included) outside the current directory, anything but a
    /// regular file.
    TServedFileState Open(const std::string& path);
    void Close();
    /// The size the file had when it was opened.
    std::uint64_t Size() const { return m_size; }
    /// Calls `block` with the file's bytes from the start, one block at a time, at most `limit`
    /// bytes in all; false when a read failed (the blocks before it were passed on).
    bool ForEachBlock(std::uint64_t limit, const std::function<void(const char*, std::size_t)>& block) const;

private:
    int m_fd = -1;
    std::uint64_t m_size = 0;
};

/// Turns a text file's bytes into lines each ending in CR LF, one block at a time: a line ends at
/// LF, a CR just before it is dropped, and a last line without LF counts (its own final CR dropped).
class TTextLines {
public:
    explicit TTextLines(std::function<void(const char*, std::size_t)> out) : m_out(std::move(out)) {}
    void Add(const char* data, std::size_t size);
    void Finish();

private:
    std::function<void(const char*, std::size_t)> m_out;
    bool m_heldCr = false; // a CR not passed on yet: dropped when LF follows
    bool m_inLine = false; // bytes of a line without its LF were passed on (or held)
};
