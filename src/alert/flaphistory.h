// A site's last results, enough to tell how often it changed state within a window of scans.
#pragma once

#include <deque>

class FlapHistory {
public:
    /// Counts changes over the last `scans` results. Before its first result a site counts as answering.
    explicit FlapHistory(int scans = 0) : m_scans(scans) {}
    void Record(bool up);
    /// How many of the last `scans` results differ from the result before them.
    int Changes() const;

private:
    int m_scans;
    std::deque<bool> m_states{true};
};
