// Fuzzes the header readers with arbitrary header lines: they may reject input with an
// Exception, but must never crash, hang or read out of bounds.
#include "mail/msmime.h"
#include "mail/msmsgcls.h"

#include <cstddef>
#include <cstdint>

namespace {

template <class F> void Guarded(F call) {
    try {
        call();
    } catch (const Exception&) {
    }
}

TmsHeaders SplitLines(const std::string& text) {
    TmsHeaders lines;
    std::size_t start = 0;
    for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
        lines.push_back(text.substr(start, end - start));
    lines.push_back(text.substr(start));
    return lines;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    TmsHeaders headers = SplitLines(text);
    TmsStrings addresses;
    Guarded([&] { GetHeaderAddresses(headers, "To", addresses); });
    for (const auto& item : addresses) {
        TmsMailAddress address;
        Guarded([&] { ParseMailAddress(item, address); });
    }
    Guarded([&] { (void)GetHeaderValue(headers, "Subject"); });
    Guarded([&] { (void)GetHeaderValue(headers, "Content-Type"); });
    Guarded([&] { (void)DecodeWords(text); });
    (void)GetParamValue("boundary", text);
    (void)GetMainValue(text);
    DeleteHeader(headers, "To");
    return 0;
}
