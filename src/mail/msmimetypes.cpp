// MIME types by file extension from a mime.types file.
#include "mail/msmimetypes.h"

#include "platform/strutil.h"

#include <fstream>
#include <sstream>

namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r';
}

/// The blank-separated words of one line.
std::vector<std::string_view> Words(std::string_view line) {
    std::vector<std::string_view> words;
    std::size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && IsBlank(line[i]))
            ++i;
        std::size_t start = i;
        while (i < line.size() && !IsBlank(line[i]))
            ++i;
        if (i > start) words.push_back(line.substr(start, i - start));
    }
    return words;
}

std::string ExtensionKey(std::string_view extension) {
    if (!extension.empty() && extension.front() == '.') extension.remove_prefix(1);
    return LowerCase(std::string(extension));
}

} // namespace

void TMimeTypeTable::LoadFromFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return;
    std::ostringstream text;
    text << in.rdbuf();
    LoadFromText(text.str());
}

void TMimeTypeTable::LoadFromText(std::string_view text) {
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos) end = text.size();
        AddLine(text.substr(start, end - start));
        start = end + 1;
    }
}

void TMimeTypeTable::AddLine(std::string_view line) {
    line = line.substr(0, line.find('#'));
    auto words = Words(line);
    for (std::size_t i = 1; i < words.size(); ++i)
        m_types.emplace(ExtensionKey(words[i]), std::string(words[0]));
}

std::string TMimeTypeTable::Lookup(std::string_view extension) const {
    auto found = m_types.find(ExtensionKey(extension));
    return found == m_types.end() ? std::string() : found->second;
}

const TMimeTypeTable& SystemMimeTypes() {
    static const TMimeTypeTable table = [] {
        TMimeTypeTable t;
        t.LoadFromFile("/etc/mime.types");
        return t;
    }();
    return table;
}
