// The model of a read-only multi-line text pane (the console's log pane): its text is the
// lines joined by CR LF, and edits count characters, as the window control does.
#pragma once

#include <functional>
#include <mutex>
#include <string>
#include <vector>

/// Edited on the loop thread (the log writer hands its lines there); readable from any thread.
class TMemo {
public:
    /// Appends a line as the new last line.
    void AddLine(const std::string& line);
    /// Deletes the first `count` characters of the text (it may end inside a line).
    void DeleteFirstChars(std::size_t count);
    std::size_t LineCount() const;
    std::vector<std::string> Lines() const;
    /// The whole text, each line ending with CR LF.
    std::string Text() const;
    void Clear();
    /// Called after every change (a view repaints from it), outside the pane's lock.
    std::function<void()> OnChange;

private:
    void Changed();
    mutable std::mutex m_lock;
    std::string m_text;
    std::size_t m_newlines = 0; ///< LF characters in m_text: the log asks the line count at every line
};
