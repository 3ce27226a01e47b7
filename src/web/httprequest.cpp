// Request recognition and query parsing. Every comparison is exact and case-sensitive, except
// the names of the header fields, which HTTP matches without regard to case.
#include "web/httprequest.h"

#include "platform/strutil.h"

namespace {

bool Contains(const std::string& text, const char* part) {
    return text.find(part) != std::string::npos;
}

// The text up to (not including) the first "HTTP", trimmed; empty when there is none.
std::string UpToHttp(const std::string& text) {
    std::size_t at = text.find("HTTP");
    return at == std::string::npos ? std::string() : Trim(text.substr(0, at));
}

// The value of a "Name: value" line when its name is `name` (any case).
bool HeaderValue(const std::string& line, const char* name, std::string& value) {
    std::size_t colon = line.find(':');
    if (colon == std::string::npos || !SameText(line.substr(0, colon), name)) return false;
    value = Trim(line.substr(colon + 1));
    return true;
}

void CollectHeaders(const std::string& line, THTTPRequest& request) {
    std::string value;
    if (HeaderValue(line, "Host", value))
        request.Hosts.push_back(value);
    else if (HeaderValue(line, "Origin", value) || HeaderValue(line, "Referer", value))
        request.Claims.push_back(value);
    else if (HeaderValue(line, "Sec-Fetch-Site", value))
        request.FetchSites.push_back(value);
    else if (HeaderValue(line, "Content-Type", value))
        request.ContentType = value;
    else if (HeaderValue(line, "Content-Length", value))
        request.ContentLength =
            !value.empty() && value.size() < 10 && value.find_first_not_of("0123456789") == std::string::npos
                ? std::stoll(value)
                : -1;
}

// Any line after the request line may carry the login, whatever else it holds.
void CollectAuthorization(const std::string& line, THTTPRequest& request) {
    std::string value;
    if (HeaderValue(line, "Authorization", value)) request.Authorizations.push_back(value);
}

} // namespace

std::string RequestPath(const std::string& line) {
    std::size_t get = line.find("GET ");
    if (get == std::string::npos || get + 5 > line.size()) return {};
    return UpToHttp(line.substr(get + 5));
}

int ParseQuery(const std::string& line, TQueryParams& params) {
    std::string q = UpToHttp(line);
    int i = 0;
    while (!q.empty() && i < MaxQueryFields) {
        std::size_t mark = q.find('?');
        if (mark != std::string::npos) q.erase(0, mark + 1);
        std::size_t amp = q.find('&');
        std::string pair = q.substr(0, amp);
        std::size_t eq = pair.find('=');
        std::string value = eq == std::string::npos ? pair : pair.substr(eq + 1);
        std::size_t cut = value.find("+Query");
        if (cut != std::string::npos) value.erase(cut);
        std::string name = eq == std::string::npos ? std::string() : pair.substr(0, eq);
        q = amp == std::string::npos ? std::string() : q.substr(amp + 1);
        params[std::size_t(i++)] = {name, value};
    }
    return i;
}

void THTTPRequest::Classify(const std::string& line) {
    if (m_lines++ == 0)
        SplitRequestLine(line);
    else
        CollectAuthorization(line, *this);
    if (!Contains(line, "GET /")) {
        CollectHeaders(line, *this);
        return;
    }
    if (Contains(line, "GET / HTTP/1")) {
        Root = true;
    } else if (Contains(line, ".htm") && !Contains(line, "?")) {
        TextFile = true;
        Path = RequestPath(line);
    } else if (Contains(line, ".gif")) {
        Image = true;
        Path = RequestPath(line);
    } else if (Contains(line, "?")) {
        Query = true;
        ParseQuery(line, Params);
    }
}

// Stricter than the recognition rules: the request line alone, the method first, one target.
void THTTPRequest::SplitRequestLine(const std::string& line) {
    const bool post = line.rfind("POST /", 0) == 0;
    if (!post && line.rfind("GET /", 0) != 0) return;
    const std::size_t begin = post ? 5 : 4;
    const std::size_t end = line.find(' ', begin);
    if (end == std::string::npos || line.compare(end + 1, 7, "HTTP/1.") != 0) return;
    const std::string target = line.substr(begin, end - begin);
    const std::size_t mark = target.find('?');
    (post ? PlainPost : PlainGet) = true;
    TargetPath = target.substr(0, mark);
    TargetQuery = mark == std::string::npos ? std::string() : target.substr(mark + 1);
}

std::string THTTPRequest::QueryField(const std::string& name) const {
    return FormField(TargetQuery, name);
}

std::string THTTPRequest::BodyField(const std::string& name) const {
    return FormField(Body, name);
}

std::string UrlAuthority(const std::string& url) {
    std::size_t scheme = url.find("://");
    if (scheme == std::string::npos) return {};
    std::string rest = url.substr(scheme + 3);
    rest = rest.substr(0, rest.find_first_of("/?#"));
    std::size_t at = rest.rfind('@');
    return at == std::string::npos ? rest : rest.substr(at + 1);
}

bool THTTPRequest::SameSite() const {
    for (const std::string& site : FetchSites)
        if (SameText(site, "cross-site") || SameText(site, "same-site")) return false;
    if (Claims.empty()) return true;
    if (Hosts.size() != 1 || Hosts[0].empty()) return false;
    for (const std::string& claim : Claims)
        if (!SameText(UrlAuthority(claim), Hosts[0])) return false;
    return true;
}

std::string HostName(const std::string& hostHeader) {
    std::string host = Trim(hostHeader);
    if (!host.empty() && host[0] == '[') {
        std::size_t close = host.find(']');
        host = close == std::string::npos ? host.substr(1) : host.substr(1, close - 1);
    } else if (std::size_t colon = host.find(':');
               colon != std::string::npos && host.find(':', colon + 1) == std::string::npos) {
        host.erase(colon);
    }
    if (!host.empty() && host.back() == '.') host.pop_back();
    for (char& c : host)
        if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
    return host;
}

bool IsPlainKeyName(const std::string& name) {
    if (name.empty()) return false;
    for (unsigned char c : name) {
        bool alnum = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
        if (!alnum && c != '_' && c != '-' && c != '.') return false;
    }
    return true;
}

std::string HtmlEscape(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        case '\'':
            out += "&#39;";
            break;
        default:
            out += c;
        }
    }
    return out;
}
