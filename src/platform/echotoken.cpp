// Echo tokens: the run's secret, SipHash-2-4 and the token's place in the echo data.
#include "platform/echotoken.h"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <mutex>
#include <random>
#include <sys/random.h>

void SystemRandomBytes(std::span<std::uint8_t> out) {
    std::size_t done = 0;
    while (done < out.size()) {
        const ssize_t n = getrandom(out.data() + done, out.size() - done, 0);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
        } else if (n == 0 || errno != EINTR) {
            // A kernel without getrandom(2): the library's device (urandom) is the same source.
            std::random_device device;
            for (; done < out.size(); ++done)
                out[done] = static_cast<std::uint8_t>(device());
        }
    }
}

std::uint16_t SystemRandom16() {
    std::array<std::uint8_t, 2> b{};
    SystemRandomBytes(b);
    return static_cast<std::uint16_t>((b[0] << 8) | b[1]);
}

std::uint16_t NextRawIdentifier() {
    static std::mutex lock;
    static std::uint16_t next = SystemRandom16();
    std::lock_guard<std::mutex> guard(lock);
    return next++;
}

namespace {

std::uint64_t LoadLe64(const std::uint8_t* p) {
    std::uint64_t v = 0;
    for (int i = 7; i >= 0; --i)
        v = (v << 8) | p[i];
    return v;
}

struct SipState {
    std::uint64_t v0, v1, v2, v3;

    void Round() {
        v0 += v1;
        v1 = std::rotl(v1, 13) ^ v0;
        v0 = std::rotl(v0, 32);
        v2 += v3;
        v3 = std::rotl(v3, 16) ^ v2;
        v0 += v3;
        v3 = std::rotl(v3, 21) ^ v0;
        v2 += v1;
        v1 = std::rotl(v1, 17) ^ v2;
        v2 = std::rotl(v2, 32);
    }

    void Absorb(std::uint64_t m) {
        v3 ^= m;
        Round();
        Round();
        v0 ^= m;
    }
};

/// The secret of this run, drawn at its first use.
const std::array<std::uint8_t, 16>& RunSecret() {
    static const std::array<std::uint8_t, 16> secret = [] {
        std::array<std::uint8_t, 16> s{};
        SystemRandomBytes(s);
        return s;
    }();
    return secret;
}

} // namespace

std::uint64_t SipHash24(const std::array<std::uint8_t, 16>& key, std::span<const std::uint8_t> data) {
    const std::uint64_t k0 = LoadLe64(key.data()), k1 = LoadLe64(key.data() + 8);
    SipState s{k0 ^ 0x736f6d6570736575ull, k1 ^ 0x646f72616e646f6dull, k0 ^ 0x6c7967656e657261ull,
               k1 ^ 0x7465646279746573ull};
    const std::size_t whole = data.size() / 8 * 8;
    for (std::size_t i = 0; i < whole; i += 8)
        s.Absorb(LoadLe64(data.data() + i));
    std::uint64_t last = static_cast<std::uint64_t>(data.size() & 0xff) << 56;
    for (std::size_t i = whole; i < data.size(); ++i)
        last |= static_cast<std::uint64_t>(data[i]) << (8 * (i - whole));
    s.Absorb(last);
    s.v2 ^= 0xff;
    for (int i = 0; i < 4; ++i)
        s.Round();
    return s.v0 ^ s.v1 ^ s.v2 ^ s.v3;
}

std::uint64_t EchoToken(std::uint32_t destination, std::uint16_t identifier, std::uint16_t sequence) {
    std::array<std::uint8_t, 8> message{};
    for (int i = 0; i < 4; ++i) // the address as it goes on the wire
        message[i] = reinterpret_cast<const std::uint8_t*>(&destination)[i];
    message[4] = static_cast<std::uint8_t>(identifier >> 8);
    message[5] = static_cast<std::uint8_t>(identifier);
    message[6] = static_cast<std::uint8_t>(sequence >> 8);
    message[7] = static_cast<std::uint8_t>(sequence);
    return SipHash24(RunSecret(), message);
}

void StampEchoToken(std::span<std::uint8_t> data, std::uint64_t token) {
    static constexpr char Alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
    std::array<std::uint8_t, EchoTokenChars> chars{};
    for (std::size_t i = 0; i < EchoTokenChars; ++i) // six bits a character, the highest first
        chars[i] = static_cast<std::uint8_t>(Alphabet[(i < 10 ? token >> (58 - 6 * i) : token << 2) & 0x3f]);
    const std::size_t n = std::min(data.size(), EchoTokenChars);
    std::copy_n(chars.begin(), n, data.end() - static_cast<std::ptrdiff_t>(n));
}

std::uint64_t EchoToken6(const std::array<std::uint8_t, 16>& destination, std::uint16_t identifier,
                         std::uint16_t sequence) {
    std::array<std::uint8_t, 20> message{}; // 20 bytes: never the same message as an IPv4 token's 8
    std::copy(destination.begin(), destination.end(), message.begin());
    message[16] = static_cast<std::uint8_t>(identifier >> 8);
    message[17] = static_cast<std::uint8_t>(identifier);
    message[18] = static_cast<std::uint8_t>(sequence >> 8);
    message[19] = static_cast<std::uint8_t>(sequence);
    return SipHash24(RunSecret(), message);
}
