// HistoryChart: a fixed 720-by-60 drawing scaled to its slots.
#include "web/historychart.h"

#include "platform/strutil.h"

#include <algorithm>

namespace {

constexpr double Width = 720, Height = 60, Foot = 58, Span = 50;

} // namespace

std::string HistoryChart(const std::vector<ChartPoint>& points) {
    double highest = 0;
    bool answered = false; // a loopback answer rounds to 0 ms and is still an answer
    for (const ChartPoint& p : points) {
        highest = std::max(highest, p.RttMs);
        answered = answered || p.RttMs >= 0;
    }
    const double step = points.empty() ? Width : Width / double(points.size());
    std::string line, losses;
    bool joined = false;
    for (std::size_t i = 0; i < points.size(); ++i) {
        const ChartPoint& p = points[i];
        const double x = step * double(i) + step / 2;
        if (p.Loss > 0)
            losses += Format("<rect x=\"%.1f\" y=\"%.1f\" width=\"%.1f\" height=\"%.1f\"/>", x - step / 2,
                             Foot - Span * p.Loss, std::max(step, 1.0), Span * p.Loss);
        if (p.RttMs < 0) {
            joined = false;
            continue;
        }
        const double y = highest > 0 ? Foot - Span * p.RttMs / highest : Foot;
        line += Format("%c%.1f %.1f", joined ? 'L' : 'M', x, y);
        if (!joined) line += Format("h%.1f", std::max(step / 4, 0.5)); // a lone answer shows as a dash
        joined = true;
    }
    return Format("<svg class=ch viewBox=\"0 0 %.0f %.0f\"><rect width=\"100%%\" height=\"100%%\" fill=\"#eef1f5\"/>"
                  "<g fill=\"#d33\">%s</g><path d=\"%s\" fill=\"none\" stroke=\"#185\" stroke-width=\"1.2\"/>"
                  "<text x=\"4\" y=\"9\" font-size=\"8\" fill=\"#555\">%s</text></svg>",
                  Width, Height, losses.c_str(), line.c_str(),
                  answered ? Format("%.3f ms", highest).c_str() : "no answer");
}
