// A day of one site's probes in 5-minute buckets: the round-trip times and losses the scan's
// results leave behind, for whatever shows a site's recent past (the status board, its JSON).
#pragma once

#include <cstdint>
#include <vector>

/// 24 hours of one site in 5-minute buckets, two bytes each: the highest round-trip time of the
/// bucket on a logarithmic scale (low byte) and its answered and lost probe counts (a nibble each,
/// stopping at 15). Only the buckets since the site's first probe take room: a site new to the board
/// costs a few bytes, a full day under 600.
class TRttHistory {
public:
    static constexpr int Buckets = 288;
    static constexpr int BucketMinutes = 5;

    /// Adds a probe to bucket `bucket` (a running bucket number); older buckets fall out.
    void Add(std::int64_t bucket, bool answered, int rttMs);
    struct Bucket {
        int Answered = 0;
        int Lost = 0;
        int RttMs = 0; ///< approximate (within 4 %); 0 without an answer
    };
    /// The bucket `age` places before `now` (0 = the current one).
    Bucket At(std::int64_t now, int age) const;
    /// Lost probes over all probes of the 24 hours before `now`; 0 without probes.
    double LossRatio(std::int64_t now) const;

    static std::uint8_t EncodeRtt(int ms);
    static int DecodeRtt(std::uint8_t code);

private:
    /// The slot of a bucket within the day before m_last.
    std::uint16_t Slot(std::int64_t bucket) const;
    std::uint16_t& Slot(std::int64_t bucket);
    /// Makes room up to `bucket`: the slots from m_first on while they are fewer than a day, then a
    /// ring indexed by bucket modulo Buckets.
    void Grow(std::int64_t bucket);

    std::vector<std::uint16_t> m_slots;
    std::int64_t m_first = -1; ///< bucket number of the first slot written
    std::int64_t m_last = -1;  ///< bucket number of the newest slot written
};
