// TRttHistory: the bucket arithmetic and the logarithmic round-trip code.
#include "scan/rtthistory.h"

#include <algorithm>
#include <cmath>

namespace {

// Twenty steps per doubling: 4000 ms (the probe's time-out) is code 239, 1 ms is code 20.
constexpr double StepsPerDoubling = 20.0;

int AnsweredOf(std::uint16_t slot) {
    return (slot >> 8) & 0xF;
}
int LostOf(std::uint16_t slot) {
    return slot >> 12;
}

} // namespace

std::uint8_t TRttHistory::EncodeRtt(int ms) {
    if (ms <= 0) return 0;
    return std::uint8_t(std::min(255L, std::lround(StepsPerDoubling * std::log2(1.0 + ms))));
}

int TRttHistory::DecodeRtt(std::uint8_t code) {
    return int(std::lround(std::exp2(code / StepsPerDoubling) - 1.0));
}

std::uint16_t TRttHistory::Slot(std::int64_t bucket) const {
    return m_slots.size() < std::size_t(Buckets) ? m_slots[std::size_t(bucket - m_first)]
                                                 : m_slots[std::size_t(bucket % Buckets)];
}

std::uint16_t& TRttHistory::Slot(std::int64_t bucket) {
    return m_slots.size() < std::size_t(Buckets) ? m_slots[std::size_t(bucket - m_first)]
                                                 : m_slots[std::size_t(bucket % Buckets)];
}

void TRttHistory::Grow(std::int64_t bucket) {
    if (m_first < 0) m_first = bucket;
    if (m_slots.size() >= std::size_t(Buckets)) return;
    if (bucket - m_first < Buckets - 1) {
        m_slots.resize(std::size_t(bucket - m_first + 1)); // the new slots are empty buckets
        return;
    }
    std::vector<std::uint16_t> ring(Buckets);
    for (std::int64_t b = std::max(m_first, bucket - Buckets + 1); b <= m_last; ++b)
        ring[std::size_t(b % Buckets)] = m_slots[std::size_t(b - m_first)];
    m_slots = std::move(ring);
}

void TRttHistory::Add(std::int64_t bucket, bool answered, int rttMs) {
    if (bucket < m_last) return; // never rewrite the past
    Grow(bucket);
    // Slots between the newest one written and `bucket` hold probes of a day ago: clear them.
    if (m_last >= 0)
        for (std::int64_t b = std::max(m_last + 1, bucket - Buckets + 1); b <= bucket; ++b)
            Slot(b) = 0;
    m_last = bucket;
    std::uint16_t& slot = Slot(bucket);
    int good = AnsweredOf(slot), lost = LostOf(slot), code = slot & 0xFF;
    if (answered) {
        good = std::min(15, good + 1);
        code = std::max<int>(code, EncodeRtt(rttMs));
    } else {
        lost = std::min(15, lost + 1);
    }
    slot = std::uint16_t(lost << 12 | good << 8 | code);
}

TRttHistory::Bucket TRttHistory::At(std::int64_t now, int age) const {
    const std::int64_t bucket = now - age;
    if (age < 0 || age >= Buckets || bucket > m_last || bucket <= m_last - Buckets || bucket < 0) return {};
    if (bucket < m_first) return {};
    const std::uint16_t slot = Slot(bucket);
    Bucket b{AnsweredOf(slot), LostOf(slot), 0};
    if (b.Answered > 0) b.RttMs = DecodeRtt(std::uint8_t(slot & 0xFF));
    return b;
}

double TRttHistory::LossRatio(std::int64_t now) const {
    // The buckets of the day before `now` that hold probes of that day: none newer than m_last.
    const std::int64_t first = std::max<std::int64_t>({now - Buckets + 1, m_last - Buckets + 1, m_first, 0});
    const std::int64_t last = std::min(now, m_last);
    long good = 0, lost = 0;
    for (std::int64_t b = first; b <= last; ++b) {
        const std::uint16_t slot = Slot(b);
        good += AnsweredOf(slot);
        lost += LostOf(slot);
    }
    return good + lost == 0 ? 0.0 : double(lost) / double(good + lost);
}
