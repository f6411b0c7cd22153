#include "listen/own_clicks.h"

#include "listen/median.h"

#include <algorithm>
#include <cmath>

namespace listen {

namespace {

// What rang before a click: the blocks just before the earliest it may begin.
constexpr int kBaseBlocks = 8;
// A click was heard alone when its last blocks are back down to this much of what rang before
// (a string plucked on it goes on sounding; one ringing under it only dies away).
constexpr double kAloneRatio = 1.5;
constexpr int kTailBlocks = 4;
// ... or to what is left of the click itself: a few per cent of its loudest.
constexpr double kTailShare = 0.05;
constexpr std::size_t kKept = 7;

} // namespace

OwnClicks::OwnClicks(int blockSamples, int slackBlocks, int beatBlocks, int accentBlocks,
                     int decideBlocks)
    : block_(std::max(1, blockSamples)), slack_(std::max(0, slackBlocks)) {
    beat_.blocks = std::max(kTailBlocks + 1, beatBlocks);
    accent_.blocks = std::max(kTailBlocks + 1, accentBlocks);
    decide_ = std::max({decideBlocks, beat_.blocks, accent_.blocks});
}

void OwnClicks::announce(int64_t sample, bool accent) {
    if (sample < 0) {
        return;
    }
    const auto at = std::upper_bound(clicks_.begin(), clicks_.end(), sample,
                                     [](int64_t s, const Click& c) { return s < c.sample; });
    clicks_.insert(at, {sample, accent, false, false, 0});
    while (clicks_.size() > 64) {
        clicks_.pop_front();
    }
}

void OwnClicks::push(int64_t blockStart, double energy) {
    if (historyStart_ < 0) {
        historyStart_ = blockStart;
    }
    history_.push_back(energy);
    const auto room = static_cast<std::size_t>(kBaseBlocks + 2 * slack_ + decide_ + 2);
    while (history_.size() > room) {
        history_.pop_front();
        historyStart_ += block_;
    }
    const int64_t end = blockStart + block_;
    for (Click& c : clicks_) {
        const int64_t decided = c.sample + static_cast<int64_t>(slack_ + decide_ + 1) * block_;
        if (!c.learnt && decided <= end) {
            if (!c.played) {
                learn(c);
            }
            c.learnt = true;
        }
    }
    // Clicks whose blocks have all passed are no longer expected.
    const auto reach = static_cast<int64_t>(slack_ + decide_ + 2) * block_;
    while (!clicks_.empty() && clicks_.front().learnt && clicks_.front().sample + reach < end) {
        clicks_.pop_front();
    }
}

void OwnClicks::noteAt(int64_t sample) {
    // A note plucked a little before a click, or on it, sounds through the click's blocks.
    const auto near = static_cast<int64_t>(2 * slack_ + kBaseBlocks) * block_;
    for (Click& c : clicks_) {
        if (sample > c.sample - near && sample < c.sample + near) {
            c.played = true;
            c.playedAt = sample;
        }
    }
}

void OwnClicks::silenceAt(int64_t frameEnd) {
    for (Click& c : clicks_) {
        if (c.played && !c.learnt && frameEnd > c.playedAt) {
            c.played = false;
        }
    }
}

void OwnClicks::learn(const Click& c) {
    Kind& k = kind(c.accent);
    const auto n = static_cast<int64_t>(history_.size());
    const int64_t a = (c.sample - historyStart_) >= 0 ? (c.sample - historyStart_) / block_ : -1;
    if (a - slack_ - kBaseBlocks < 0) {
        return; // the blocks before it are gone (or were never heard)
    }
    auto e = [this](int64_t i) { return history_[static_cast<std::size_t>(i)]; };
    double base = 0.0;
    for (int64_t i = a - slack_ - kBaseBlocks; i < a - slack_; ++i) {
        base += e(i);
    }
    base /= kBaseBlocks;
    // Its onset: the sharpest rise near where it was announced.
    int64_t onset = a;
    double steepest = -1.0;
    for (int64_t i = std::max<int64_t>(1, a - slack_); i <= a + slack_ && i < n; ++i) {
        if (e(i) - e(i - 1) > steepest) {
            steepest = e(i) - e(i - 1);
            onset = i;
        }
    }
    const int64_t first = onset - 1;
    if (first + k.blocks > n) {
        return;
    }
    double tail = 0.0;
    for (int64_t i = first + k.blocks - kTailBlocks; i < first + k.blocks; ++i) {
        tail += e(i);
    }
    tail /= kTailBlocks;
    double peak = 0.0;
    for (int64_t i = onset; i < first + k.blocks; ++i) {
        peak = std::max(peak, e(i) - base);
    }
    if (tail > kAloneRatio * base + kTailShare * peak + 1e-14) {
        return; // something went on sounding: a note plucked on the click
    }
    // What rang under the click dies away from what it was before the click to what is left
    // after it; the rest is the click's.
    std::vector<double> profile(static_cast<std::size_t>(k.blocks));
    for (int64_t i = 0; i < k.blocks; ++i) {
        const double under = base + (tail - base) * static_cast<double>(i) / (k.blocks - 1);
        // Signed: a low note's energy swings from block to block with its waveform, which
        // averages out over the periods the pluck envelope looks at.
        profile[static_cast<std::size_t>(i)] = e(first + i) - under;
    }
    // The median of the last clicks heard alone: one over a dying note reads a little low,
    // one with a note plucked on it and dying before its end a little high.
    k.heard.push_back(std::move(profile));
    k.offsets.push_back(static_cast<int>(onset - a));
    if (k.heard.size() > kKept) {
        k.heard.pop_front();
        k.offsets.pop_front();
    }
    k.profile.assign(static_cast<std::size_t>(k.blocks), 0.0);
    std::vector<double> column(k.heard.size());
    for (std::size_t i = 0; i < k.profile.size(); ++i) {
        for (std::size_t j = 0; j < k.heard.size(); ++j) {
            column[j] = k.heard[j][i];
        }
        k.profile[i] = median(column);
    }
    k.offset = static_cast<int>(
        std::lround(median(std::vector<double>(k.offsets.begin(), k.offsets.end()))));
}

double OwnClicks::expected(int64_t blockStart) const {
    if (historyStart_ < 0) {
        return 0.0;
    }
    double sum = 0.0;
    for (const Click& c : clicks_) {
        const Kind& k = kind(c.accent);
        if (k.profile.empty()) {
            continue;
        }
        // The block the click was announced in, on the blocks' grid.
        const int64_t from = c.sample - historyStart_;
        const int64_t announced =
            historyStart_ + (from >= 0 ? from / block_ : -((-from + block_ - 1) / block_)) * block_;
        const int64_t first = announced + static_cast<int64_t>(k.offset - 1) * block_;
        const int64_t i = (blockStart - first) / block_;
        if (blockStart < first) {
            continue;
        }
        if (i >= 0 && i < k.blocks) {
            sum += k.profile[static_cast<std::size_t>(i)];
        }
    }
    return sum;
}

double OwnClicks::loudest(bool accent) const {
    const std::vector<double>& profile = kind(accent).profile;
    return profile.empty() ? 0.0 : std::max(0.0, *std::max_element(profile.begin(), profile.end()));
}

bool OwnClicks::learnt(bool accent) const {
    return !kind(accent).profile.empty();
}

} // namespace listen
