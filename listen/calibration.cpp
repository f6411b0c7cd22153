#include "listen/calibration.h"

#include "listen/median.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace listen {

double usableLatencyMs(double storedMs) {
    return std::isfinite(storedMs) && std::fabs(storedMs) <= kCalibrationMaxLatencyMs ? storedMs
                                                                                      : 0.0;
}

Calibration calibrate(const std::vector<int64_t>& clicks, const std::vector<int64_t>& notes,
                      int64_t periodNanos) {
    Calibration c;
    c.offsetsMs.assign(clicks.size(), std::nullopt);
    for (int64_t note : notes) {
        std::size_t nearest = clicks.size();
        int64_t best = periodNanos / 2;
        for (std::size_t i = 0; i < clicks.size(); ++i) {
            const int64_t d = std::llabs(note - clicks[i]);
            if (d < best) {
                best = d;
                nearest = i;
            }
        }
        if (nearest < clicks.size() && !c.offsetsMs[nearest]) {
            c.offsetsMs[nearest] = static_cast<double>(note - clicks[nearest]) / 1e6;
        }
    }
    std::vector<double> heard;
    for (const auto& o : c.offsetsMs) {
        if (o) {
            heard.push_back(*o);
        }
    }
    c.heard = static_cast<int>(heard.size());
    if (c.heard < kCalibrationMinHeard) {
        c.verdict = "Only " + std::to_string(c.heard) + " of " + std::to_string(clicks.size()) +
                    " clicks were answered: too few to measure. The latency stays as it was.";
        return c;
    }
    c.medianMs = median(heard);
    std::vector<double> distances;
    for (double o : heard) {
        distances.push_back(std::fabs(o - c.medianMs));
    }
    c.spreadMs = median(distances);
    const auto ms = [](double v) { return std::to_string(std::lround(v)) + " ms"; };
    if (c.spreadMs > kCalibrationMaxSpreadMs) {
        c.verdict = "The notes came " + ms(c.spreadMs) +
                    " apart from one another: too uneven to trust. The latency stays as it was.";
        return c;
    }
    c.trusted = true;
    c.verdict = "Latency " + ms(c.medianMs) + " (spread " + ms(c.spreadMs) + "), kept.";
    return c;
}

} // namespace listen
