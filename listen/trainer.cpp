#include "listen/trainer.h"

#include <algorithm>

namespace listen {

TrainerSettings TrainerSettings::sanitized(TempoRange range) const {
    TrainerSettings s = *this;
    s.target = std::clamp(s.target, range.min, range.max);
    s.step = std::clamp(s.step, kMinStep, kMaxStep);
    s.bars = std::clamp(s.bars, kMinBars, kMaxBars);
    if (s.mode != TrainerMode::EveryBars && s.mode != TrainerMode::FollowMe) {
        s.mode = TrainerMode::EveryBars;
    }
    return s;
}

std::optional<int> nextTempo(const TrainerSettings& settings, TrainerRun& run, int tempo,
                             std::optional<BarVerdicts> judged, TempoRange range) {
    const TrainerSettings s = settings.sanitized(range);
    // Up by the step, never past the target; a tempo already there or above stays.
    const auto up = [&]() -> std::optional<int> {
        if (tempo >= s.target) {
            return std::nullopt;
        }
        return std::min({tempo + s.step, s.target, range.max});
    };
    int next = tempo;
    if (s.mode == TrainerMode::EveryBars) {
        if (++run.barsCounted < s.bars) {
            return std::nullopt;
        }
        run.barsCounted = 0;
        next = up().value_or(tempo);
    } else {
        if (!judged) {
            return std::nullopt;
        }
        if (judged->notRight == 0 && judged->right > 0) {
            next = up().value_or(tempo);
        } else if (judged->notRight >= 2) {
            // Down by the step, never below where the run started; a tempo the player put lower
            // than that stays where it is.
            const int floor = std::max(run.startTempo, range.min);
            if (tempo > floor) {
                next = std::max(tempo - s.step, floor);
            }
        }
    }
    next = std::clamp(next, range.min, range.max);
    if (next == tempo) {
        return std::nullopt;
    }
    return next;
}

std::string trainerText(const TrainerSettings& settings, int tempo, bool listening) {
    std::string text = "Tempo trainer: " + std::to_string(tempo) + " \u2192 " +
                       std::to_string(settings.target) + ", +" + std::to_string(settings.step);
    if (settings.mode == TrainerMode::FollowMe) {
        text += " follow me";
        if (!listening) {
            text += " (waits for listening)";
        }
    } else {
        text +=
            settings.bars == 1 ? " every bar" : " every " + std::to_string(settings.bars) + " bars";
    }
    if (tempo >= settings.target) {
        text += " (target reached)";
    }
    return text;
}

} // namespace listen
