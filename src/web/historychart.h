// The inline SVG chart of the site page: round-trip times as a line, losses as red bars from the foot.
#pragma once

#include <string>
#include <vector>

struct ChartPoint {
    double RttMs = -1; ///< -1: no answer in this slot
    double Loss = -1;  ///< lost share of the slot's probes; -1: no probe
};

/// The points left to right, oldest first; the line breaks where a slot has no answer. The highest
/// round trip is written at the top left.
std::string HistoryChart(const std::vector<ChartPoint>& points);
