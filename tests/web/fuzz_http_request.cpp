// libFuzzer target: request reading (lines up to the first empty one), recognition, query parsing,
// the status paths' query fields and the save guards over arbitrary bytes.
#include "web/httprequest.h"

#include <cstddef>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    THTTPRequest request;
    std::size_t start = 0;
    while (start <= input.size()) {
        std::size_t lf = input.find('\n', start);
        std::string line = input.substr(start, lf == std::string::npos ? std::string::npos : lf - start);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty()) break;
        request.Classify(line);
        if (lf == std::string::npos) break;
        start = lf + 1;
    }
    request.SameSite();
    for (const TQueryParam& param : request.Params) {
        IsPlainKeyName(param.first);
        if (HtmlEscape(param.second).size() < param.second.size()) __builtin_trap();
    }
    if (request.Path.size() > input.size()) __builtin_trap();
    if (request.QueryField("q").size() > request.TargetQuery.size()) __builtin_trap();
    return 0;
}
