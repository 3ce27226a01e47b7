// One request to the API listener as the router sees it, and the answer it gives; the listener
// fills the one and sends the other, so the routes know nothing of the HTTP library.
#pragma once

#include "api/apiroles.h"

#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

struct TApiRequest {
    std::string Method;
    /// The path, decoded, without the query.
    std::string Path;
    /// The target as sent held %00: the decoded path or a query value ends early at that NUL.
    bool EncodedNul = false;
    /// The query fields, decoded; the first of each name.
    std::map<std::string, std::string> Query;
    /// The first Authorization line's value; empty when none.
    std::string Authorization;
    /// The Cookie lines, joined with "; ".
    std::string Cookie;
    /// The first X-CSRF-Token and Content-Type lines' values; empty when none.
    std::string CsrfToken, ContentType;
    /// The values of the Host lines.
    std::vector<std::string> Hosts;
    /// The peer's address, dotted (IPv4) or in IPv6 text.
    std::string Peer;
    std::string Body;
    /// The body went over the limit; what came of it is dropped.
    bool BodyTooLarge = false;
    /// The head has passed the guards that need no body; Caller is the token or the signed-in user
    /// it came with (an empty name on a path that needs none).
    bool Admitted = false;
    TApiCaller Caller;

    std::string QueryField(const std::string& name) const {
        const auto it = Query.find(name);
        return it == Query.end() ? std::string() : it->second;
    }
};

struct TApiResponse {
    /// The HTTP status; 0 closes the connection without an answer.
    int Status = 200;
    std::string ContentType = "application/json";
    std::string Body;
    std::vector<std::pair<std::string, std::string>> Headers;
    /// When set, the body is made while it is sent and Body is not: each call appends the next piece
    /// to `out` and is false once the body is whole.
    std::function<bool(std::string& out)> Stream;
};

/// The answer's body whole, its stream drained.
inline std::string WholeBody(const TApiResponse& response) {
    if (!response.Stream) return response.Body;
    std::string body;
    while (response.Stream(body)) {
    }
    return body;
}
