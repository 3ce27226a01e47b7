// One HTTP request as the web administration understands it: the request kinds recognised line by
// line, the query fields taken as sent, the request line's path and query for the status paths, and
// the few header fields the guards look at.
#pragma once

#include "web/formfields.h"

#include <array>
#include <string>
#include <utility>
#include <vector>

/// One query field (name, value), exactly as received: no "%" decoding, "+" stays "+".
using TQueryParam = std::pair<std::string, std::string>;
/// The query fields in the order received; parsing fills at most the first MaxQueryFields.
using TQueryParams = std::array<TQueryParam, 31>;
constexpr int MaxQueryFields = 30;

/// The request kinds and what goes with them, built by Classify over the request's lines.
struct THTTPRequest {
    bool Root = false;
    bool TextFile = false;
    bool Image = false;
    bool Query = false;
    /// The path of the last text-file or image line, as sent (no decoding).
    std::string Path;
    TQueryParams Params;
    /// Values of the Host lines and of the Origin and Referer lines.
    std::vector<std::string> Hosts;
    std::vector<std::string> Claims;
    /// The Sec-Fetch-Site values a browser sent ("same-origin", "cross-site", ...).
    std::vector<std::string> FetchSites;
    /// The values of the Authorization lines after the request line, in the order received.
    std::vector<std::string> Authorizations;
    /// Whether the request line is exactly "GET /<target> HTTP/1.x" (the target without spaces);
    /// then the target's path up to its first "?" and the query after it, both as sent.
    bool PlainGet = false;
    std::string TargetPath;
    std::string TargetQuery;
    /// Whether the request line is "POST /<target> HTTP/1.x" instead (TargetPath and TargetQuery
    /// alike); such a request is answered on the status paths only.
    bool PlainPost = false;
    /// The Content-Length a request gave; -1 without one (or with one that is no number).
    long long ContentLength = -1;
    std::string ContentType;
    /// The body, once read.
    std::string Body;

    /// Applies the recognition rules to one line (without its line end); the flags add up.
    void Classify(const std::string& line);
    /// Whether no Origin or Referer names another site than the one Host names, and the browser
    /// does not say the request comes from another site (Sec-Fetch-Site "cross-site" or
    /// "same-site"). A request without any of these (curl, scripts) passes; one that names a site
    /// but no single Host does not.
    bool SameSite() const;
    /// The value of the first field named `name` (exactly, as sent) in TargetQuery, as FormField
    /// reads it; empty when there is none or it has no "=".
    std::string QueryField(const std::string& name) const;
    /// The same for a form field of the body (application/x-www-form-urlencoded).
    std::string BodyField(const std::string& name) const;

private:
    void SplitRequestLine(const std::string& line);
    int m_lines = 0;
};

/// The path of a "GET /..." line: the text after "GET /" up to the first "HTTP", trimmed;
/// empty when the line has no "HTTP".
std::string RequestPath(const std::string& line);
/// Fills `params` from the query of a "GET /...?..." line; returns the number of fields taken.
int ParseQuery(const std::string& line, TQueryParams& params);
/// The "host[:port]" part of an absolute URL such as "http://host:8000/page"; empty when none.
std::string UrlAuthority(const std::string& url);
/// The host part of a Host header value: without the port, without the brackets of an IPv6
/// address or a trailing dot, in lower case.
std::string HostName(const std::string& hostHeader);
/// Whether a name may become an INI key: letters, digits, "_", "-" and "." only.
bool IsPlainKeyName(const std::string& name);
/// Replaces & < > " ' by their character references.
std::string HtmlEscape(const std::string& text);
