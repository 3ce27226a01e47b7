// Fuzzes the header readers with arbitrary header lines: they may reject input with an
// Exception, but must never crash, hang or read out of bounds.
#include "mail/msmime.h"
#include "mail/msmsgcls.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    TmsHeaders headers;
    std::size_t start = 0;
    for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
        headers.push_back(text.substr(start, end - start));
    headers.push_back(text.substr(start));
    try {
        TmsStrings addresses;
        GetHeaderAddresses(headers, "To", addresses);
        for (const auto& item : addresses) {
            TmsMailAddress address;
            ParseMailAddress(item, address);
        }
        (void)GetHeaderValue(headers, "Subject");
        (void)GetHeaderValue(headers, "Content-Type");
        (void)GetParamValue("boundary", text);
        (void)GetMainValue(text);
        DeleteHeader(headers, "To");
    } catch (const Exception&) {
    }
    return 0;
}
