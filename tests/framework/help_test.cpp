// The help file's topics: what starts a topic, what is text, and that no content ends the
// program; the shipped file's contents topic lists every other topic.
#include "framework/help.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace {

using Topics = std::vector<std::pair<std::uint32_t, std::string>>;

Topics parsed(const std::string& text) {
    Topics out;
    for (const HelpTopic& topic : AfxParseHelpTopics(text))
        out.emplace_back(topic.contextId, topic.text);
    return out;
}

TEST(HelpTopics, OnlyABracketedContextIdStartsATopic) {
    const struct {
        const char* text;
        Topics expected;
    } cases[] = {
        {"[0x806603EF]\nClose\n\nEnds.\n", {{0x806603EF, "Close\n\nEnds."}}},
        {"[12]\r\nA\r\n[0X1f]\r\n  B  \r\n", {{12, "A"}, {0x1F, "B"}}},
        {"[2]\nB\n[1]\nA\n[2]\nC", {{2, "B"}, {1, "A"}, {2, "C"}}},  // file order
        {"before\n; note\n[1]\n;[2]\nA\n[4294967295]", {{1, "A"}, {0xFFFFFFFF, ""}}},
        // Bracketed lines that hold no valid 32-bit id are text, whatever they hold.
        {"[1]\n[zz]\n[Note]\n[]\n[ 2]\n[+3]\n[-1]\n[0x]\n[0x1G]\n[4294967296]\n[0x1]x\n"
         "[99999999999999999999999]",
         {{1,
           "[zz]\n[Note]\n[]\n[ 2]\n[+3]\n[-1]\n[0x]\n[0x1G]\n[4294967296]\n[0x1]x\n"
           "[99999999999999999999999]"}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(parsed(c.text), c.expected);
    }
}

TEST(HelpTopics, ShippedFileOpensWithContentsThatListEveryTopic) {
    const auto topics = AfxReadHelpTopics(QUENVOL_SOURCE_DIR "/src/res/quenvol.HLP");
    ASSERT_TRUE(topics && topics->size() > 1);
    const std::string contents = topics->front().body();
    for (std::size_t i = 1; i < topics->size(); ++i)
        EXPECT_NE((contents + "\n").find("\n" + (*topics)[i].title() + "\n"), std::string::npos)
            << (*topics)[i].title();
    EXPECT_FALSE(AfxReadHelpTopics("/dev/null").has_value());
    EXPECT_FALSE(AfxReadHelpTopics("/").has_value());
    EXPECT_FALSE(AfxReadHelpTopics(nullptr).has_value());
}

}  // namespace
