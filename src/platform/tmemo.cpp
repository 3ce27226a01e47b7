// Log pane model.
#include "platform/tmemo.h"

#include <algorithm>

void TMemo::AddLine(const std::string& line) {
    {
        std::lock_guard<std::mutex> hold(m_lock);
        m_text += line;
        m_text += "\r\n";
        m_newlines += 1 + static_cast<std::size_t>(std::count(line.begin(), line.end(), '\n'));
    }
    Changed();
}

void TMemo::DeleteFirstChars(std::size_t count) {
    {
        std::lock_guard<std::mutex> hold(m_lock);
        const auto cut = static_cast<std::ptrdiff_t>(std::min(count, m_text.size()));
        m_newlines -= static_cast<std::size_t>(std::count(m_text.begin(), m_text.begin() + cut, '\n'));
        m_text.erase(0, static_cast<std::size_t>(cut));
    }
    Changed();
}

std::string TMemo::Text() const {
    std::lock_guard<std::mutex> hold(m_lock);
    return m_text;
}

std::size_t TMemo::LineCount() const {
    std::lock_guard<std::mutex> hold(m_lock);
    return m_newlines + (!m_text.empty() && m_text.back() != '\n' ? 1 : 0);
}

std::vector<std::string> TMemo::Lines() const {
    std::lock_guard<std::mutex> hold(m_lock);
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < m_text.size()) {
        std::size_t nl = m_text.find('\n', start);
        std::size_t end = nl == std::string::npos ? m_text.size() : nl;
        std::size_t len = end - start;
        if (len > 0 && m_text[end - 1] == '\r') --len;
        lines.push_back(m_text.substr(start, len));
        if (nl == std::string::npos) break;
        start = nl + 1;
    }
    return lines;
}

void TMemo::Clear() {
    {
        std::lock_guard<std::mutex> hold(m_lock);
        m_text.clear();
        m_newlines = 0;
    }
    Changed();
}

void TMemo::Changed() {
    if (OnChange) OnChange();
}
