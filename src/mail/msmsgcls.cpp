// Addresses, attachments and the header-line functions of the mail model.
#include "mail/msmsgcls.h"

#include "mail/msmime.h"
#include "mail/msmimetypes.h"
#include "platform/strutil.h"

#include <algorithm>

namespace {

constexpr char ProtectedComma = '\xFF';

bool StartsText(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && SameText(std::string(text.substr(0, prefix.size())), std::string(prefix));
}

bool IsContinuation(const std::string& line) {
    return !line.empty() && (line[0] == ' ' || line[0] == '\t');
}

std::string WithColon(std::string_view name) {
    std::string key(name);
    if (key.empty() || key.back() != ':') key += ':';
    return key;
}

/// Index of the first line that begins with `key`, or headers.size().
std::size_t FindHeader(const TmsHeaders& headers, const std::string& key) {
    auto found = std::find_if(headers.begin(), headers.end(), [&](const std::string& l) { return StartsText(l, key); });
    return static_cast<std::size_t>(found - headers.begin());
}

std::string AfterColon(const std::string& line) {
    auto colon = line.find(':');
    return colon == std::string::npos ? std::string() : line.substr(colon + 1);
}

/// Trims, then removes double quotes from the start and from the end.
std::string StripQuotes(const std::string& text) {
    std::string s = Trim(text);
    std::size_t first = s.find_first_not_of('"');
    if (first == std::string::npos) return std::string();
    std::size_t last = s.find_last_not_of('"');
    return s.substr(first, last - first + 1);
}

/// Turns the commas inside double quotes into a placeholder, so splitting at commas keeps
/// a quoted display name such as "Doe, John" whole.
void ProtectQuotedCommas(std::string& text) {
    bool quoted = false;
    for (char& c : text) {
        if (c == '"')
            quoted = !quoted;
        else if (c == ',' && quoted)
            c = ProtectedComma;
    }
}

/// Splits one header part at its commas and appends the decoded single addresses.
void AddAddressPieces(const std::string& part, TmsStrings& result) {
    std::string text = part;
    if (text.find('"') != std::string::npos) ProtectQuotedCommas(text);
    std::size_t start = 0;
    for (std::size_t comma; (comma = text.find(',', start)) != std::string::npos; start = comma + 1)
        result.push_back(DecodeWords(ShortText(Trim(text.substr(start, comma - start)))));
    std::string rest = Trim(text.substr(start));
    if (!rest.empty()) result.push_back(ShortText(Trim(DecodeWords(rest))));
}

TmsAttEncoding EncodingOfType(const std::string& contentType) {
    if (SameText(contentType, "TEXT/PLAIN") || SameText(contentType, "TEXT/RTF") || SameText(contentType, "TEXT/HTML"))
        return aeQuotedPrintable;
    if (SameText(contentType, "MESSAGE/RFC822")) return aeSevenBit;
    return aeBase64;
}

} // namespace

std::string ShortText(std::string_view text) {
    return std::string(text.substr(0, ShortTextMax));
}

TmsMailAddress::TmsMailAddress(std::string_view address, std::string_view name) {
    SetAddress(address);
    SetName(name);
}

void TmsMailAddress::Assign(const TmsMailAddress& source) {
    m_name = source.m_name;
    m_address = source.m_address;
}

void TmsMailAddress::Clear() {
    m_name.clear();
    m_address.clear();
}

TmsMailAddress& TmsAddressList::AddAddress(std::string_view address, std::string_view name) {
    return Add(std::make_unique<TmsMailAddress>(address, name));
}

void TmsAttItem::SetFileName(std::string_view fileName) {
    m_fileName = ShortText(fileName);
    if (m_fileName.empty()) return;
    SetContentType(ContentTypeOfFile(m_fileName));
    m_encoding = EncodingOfType(m_contentType);
}

void TmsAttItem::Assign(const TmsAttItem& source) {
    m_data = source.m_data;
    m_contentType = source.m_contentType;
    m_encoding = source.m_encoding;
    m_fileName = source.m_fileName;
}

std::string ExtractMailFileName(std::string_view fileName) {
    auto slash = fileName.find_last_of("/\\");
    return std::string(slash == std::string_view::npos ? fileName : fileName.substr(slash + 1));
}

std::string GetHeaderValue(const TmsHeaders& headers, std::string_view name) {
    std::string key = WithColon(name);
    std::size_t i = FindHeader(headers, key);
    if (i >= headers.size()) return std::string();
    std::string value = Trim(AfterColon(headers[i]));
    for (++i; i < headers.size() && IsContinuation(headers[i]); ++i)
        value += ' ' + Trim(headers[i]);
    std::string bare = key.substr(0, key.size() - 1);
    if (SameText(bare, "Content-Type") || SameText(bare, "X-UIDL")) return value;
    return DecodeWords(ShortText(value));
}

void GetHeaderAddresses(const TmsHeaders& headers, std::string_view name, TmsStrings& result) {
    result.clear();
    std::size_t i = 0;
    while (i < headers.size()) {
        if (!StartsText(headers[i], name)) {
            ++i;
            continue;
        }
        if (headers[i].find(':') == std::string::npos) break;
        AddAddressPieces(AfterColon(headers[i]), result);
        for (++i; i < headers.size() && headers[i].find(':') == std::string::npos; ++i)
            AddAddressPieces(headers[i], result);
    }
    for (auto& item : result)
        std::replace(item.begin(), item.end(), ProtectedComma, ',');
}

void DeleteHeader(TmsHeaders& headers, std::string_view name) {
    std::size_t first = FindHeader(headers, WithColon(name));
    if (first >= headers.size()) return;
    std::size_t last = first + 1;
    while (last < headers.size() && IsContinuation(headers[last]))
        ++last;
    headers.erase(headers.begin() + static_cast<std::ptrdiff_t>(first),
                  headers.begin() + static_cast<std::ptrdiff_t>(last));
}

void ParseMailAddress(std::string_view text, TmsMailAddress& address) {
    std::string s(text);
    std::size_t lt = s.find('<');
    if (lt != std::string::npos) {
        std::size_t gt = s.find('>');
        if (gt == std::string::npos || gt < lt) throw Exception("Unable to parse email address");
        address.SetAddress(StripQuotes(s.substr(lt + 1, gt - lt - 1)));
        address.SetName(StripQuotes(s.substr(0, lt) + s.substr(gt + 1)));
        return;
    }
    std::size_t paren = s.find('(');
    if (paren != std::string::npos) {
        std::string name = s.substr(paren + 1);
        if (!name.empty()) name.pop_back();
        address.SetAddress(StripQuotes(s.substr(0, paren)));
        address.SetName(StripQuotes(name));
        return;
    }
    address.SetAddress(s);
    address.SetName("");
}

std::string ContentTypeOfFile(std::string_view fileName) {
    std::string name = ExtractMailFileName(fileName);
    std::size_t dot = name.rfind('.');
    std::string type = dot == std::string::npos ? std::string() : SystemMimeTypes().Lookup(name.substr(dot));
    return type.empty() ? std::string("application/octet-stream") : type;
}

std::string GetParamValue(std::string_view paramName, std::string_view text) {
    std::string upper = UpperCase(std::string(text));
    std::size_t pos = upper.find(UpperCase(std::string(paramName)));
    if (pos == std::string::npos) return std::string();
    std::string rest = Trim(std::string(text.substr(std::min(text.size(), pos + paramName.size() + 1))));
    if (!rest.empty() && rest[0] == '=') rest = Trim(rest.substr(1));
    std::string value;
    if (!rest.empty() && rest[0] == '"')
        value = rest.substr(1, rest.find('"', 1) - 1);
    else
        value = rest.substr(0, rest.find(' '));
    if (!value.empty() && value.back() == ';') value.pop_back();
    return Trim(value);
}

std::string GetMainValue(std::string_view text) {
    return Trim(std::string(text.substr(0, text.find_first_of(" ;"))));
}
