#include "core/text/line_breaks.h"

#include <gtest/gtest.h>

#include <random>

using namespace varnook;

namespace {

// The rule, one character at a time.
std::string reference(const std::string& text)
{
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r') {
            out += "\r\n";
            if (i + 1 < text.size() && text[i + 1] == '\n') {
                ++i;
            }
        } else if (text[i] == '\n') {
            out += "\r\n";
        } else {
            out += text[i];
        }
    }
    return out;
}

} // namespace

// Every kind of break (CR LF, lone CR, lone LF, runs of them, the empty
// text, NULs beside them) at every position relative to the 16-byte blocks
// of the fast scan.
TEST(LineBreaks, AgreesWithTheRuleOnRandomText)
{
    std::mt19937 random(42);
    const char alphabet[] = {'a', 'b', '\r', '\n', ' ', '\xC3', '\xA9', '\0'};
    for (int round = 0; round < 2000; ++round) {
        std::string text(random() % 100, 'x');
        const auto density = 2 + random() % 30;
        for (auto& c : text) {
            c = random() % density == 0 ? alphabet[2 + random() % 2] : alphabet[random() % 8];
        }
        ASSERT_EQ(normalizeLineBreaks(text), reference(text)) << "round " << round;
    }
}
