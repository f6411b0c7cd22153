// An error and its reason fit the error box whole: the reason cut at a word, the message never.
#include "platform/fluid_audio.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct ReasonCase {
    std::string name;
    std::string message;
    std::string why;
    std::size_t limit;
    std::string expected;
};

TEST(ErrorText, AReasonIsCutAtAWordToFitTheBoxAndTheMessageStaysWhole) {
    const std::string message = "No audio output started (tried pulseaudio, alsa).";
    const std::vector<ReasonCase> cases = {
        {"no reason", message, "", 127, message},
        {"a reason that fits", message, "Device busy.", 127, message + " Device busy."},
        {"a reason cut at its last whole word", message,
         "Failed to open audio device: Connection refused", 80,
         message + " Failed to open audio..."},
        {"no whole word of the reason fits", message, "Unreachable-host-name-without-spaces", 60,
         message},
        {"a message as long as the box", std::string(127, 'x'), "why", 127, std::string(127, 'x')},
    };
    for (const ReasonCase& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string text = platform::withReason(c.message, c.why, c.limit);
        EXPECT_EQ(text, c.expected);
        EXPECT_LE(text.size(), c.limit);
    }
}

} // namespace
