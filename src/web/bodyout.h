// Where a response body goes while it is made, block by block.
#pragma once

#include <cstddef>
#include <functional>
#include <string>

/// Where a body goes while it is made: handed on in blocks of about BlockBytes, so that a large
/// one is never held whole by the response that sends it.
class TBodyOut {
public:
    static constexpr std::size_t BlockBytes = 64 * 1024;
    using Sink = std::function<void(const std::string& block)>;
    explicit TBodyOut(Sink sink) : m_sink(std::move(sink)) {}
    /// Append here; Spill after each part.
    std::string Text;
    void Spill();
    void Flush();

    /// The whole body that `write` makes, in one string.
    static std::string Whole(const std::function<void(TBodyOut&)>& write);

private:
    Sink m_sink;
};
