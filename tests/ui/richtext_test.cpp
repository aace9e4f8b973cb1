#include <gtest/gtest.h>

#include "UiTestSupport.h"
#include "ui/CRichText.h"
#include "ui/CTextLayout.h"

using namespace SkinUI;

namespace {

TTextRun R(std::string text, int font = -1, TColor color = 0, bool underline = false, int link = -1) {
    return {std::move(text), font, color, underline, link, false};
}
TTextRun Break() { return {{}, -1, 0, false, -1, true}; }

TEST(RichText, TagsBecomeStyledRunsWithLinksNumberedFromZero) {
    struct Case {
        std::string markup;
        std::vector<TTextRun> runs;
    } cases[] = {
        {"plain", {R("plain")}},
        {"{f 1}{c #000000}I've read and agreed{/c}{/f} {a}{u}terms{/u}{/a}",
         {R("I've read and agreed", 1, 0xFF000000), R(" "), R("terms", -1, 0, true, 0)}},
        {"{a}one{/a} and {a}two{/a}", {R("one", -1, 0, false, 0), R(" and "), R("two", -1, 0, false, 1)}},
        {"a{n}b", {R("a"), Break(), R("b")}},
        {"x{p}para{/p}y", {R("x"), Break(), R("para"), Break(), R("y")}},
        {"line1\r\nline2\tend", {R("line1"), Break(), R("line2 end")}},
        // Unknown tags, bad arguments and stray braces are text.
        {"{b}bold{/b}", {R("{b}bold{/b}")}},
        {"{f x}{c red}", {R("{f x}{c red}")}},
        {"open { brace", {R("open { brace")}},
        {"{/f}{/a}closing only", {R("closing only")}},
        {"{f 2}{f 3}in{/f}out{/f}", {R("in", 3), R("out", 2)}},
    };
    for (const auto& c : cases) EXPECT_EQ(CRichText::Parse(c.markup), c.runs) << c.markup;
    EXPECT_EQ(CRichText::CountLinks("{a}1{/a}{a}2{/a}{a}3{/a}"), 3);
    EXPECT_EQ(CRichText::Plain("{a}x{/a}"), (std::vector<TTextRun>{R("{a}x{/a}")}));
}

TEST(RichText, NestingIsBounded) {
    std::string deep;
    for (int i = 0; i < 1000; ++i) deep += "{u}";
    deep += "x";
    auto runs = CRichText::Parse(deep);
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_TRUE(runs[0].underline);
}

TEST(TextLayout, WrapsWordsAlignsLinesAndPlacesLinkRectangles) {
    uitest::FixedMeasurer measurer;
    std::vector<TFontInfo> fonts(2);
    fonts[0].size = 10;  // 5 px a character, 14 px a line
    fonts[1].size = 20;  // 10 px a character, 24 px a line
    CTextLayout layout;
    CTextLayout::TOptions options;
    options.wrap = true;
    options.vcenter = false;
    options.linkColor = 0xFF28BF74;
    // "Read " (25) "the " (20) fit in 50; "terms" (25) wraps, as link 0.
    layout.Layout(CRichText::Parse("Read the {a}terms{/a}"), {100, 10, 150, 200}, options, measurer, fonts);
    auto links = layout.LinkRects(0);
    ASSERT_EQ(links.size(), 1u);
    EXPECT_EQ(links[0], (TRect{100, 24, 125, 38}));
    EXPECT_EQ(layout.LinkAt({110, 30}), 0);
    EXPECT_EQ(layout.LinkAt({110, 12}), -1);
    EXPECT_EQ(layout.Fragments().back().color, 0xFF28BF74u);
    EXPECT_EQ(layout.ContentHeight(), 28);

    // Centred, one line, vertically centred; a bigger font makes the line taller.
    options = {};
    options.align = TextAlign::ALIGN_CENTER;
    layout.Layout(CRichText::Parse("ab{f 1}cd{/f}"), {0, 0, 100, 44}, options, measurer, fonts);
    ASSERT_EQ(layout.Fragments().size(), 2u);
    EXPECT_EQ(layout.Fragments()[0].box, (TRect{35, 10, 45, 34}));
    EXPECT_EQ(layout.Fragments()[1].box, (TRect{45, 10, 65, 34}));

    // A word wider than the line (no blanks, as in CJK text) breaks between characters.
    options = {};
    options.wrap = true;
    options.vcenter = false;
    layout.Layout(CRichText::Plain("简体中文简体"), {0, 0, 12, 100}, options, measurer, fonts);
    ASSERT_EQ(layout.Fragments().size(), 3u);
    EXPECT_EQ(layout.Fragments()[0].text, "简体");
    EXPECT_EQ(layout.Fragments()[2].box.top, 28);

    // Such a word goes on the line a Latin word began, as "Morvik" in a Chinese sentence.
    layout.Layout(CRichText::Plain("ab 简体中文简体中"), {0, 0, 30, 100}, options, measurer, fonts);
    ASSERT_FALSE(layout.Fragments().empty());
    EXPECT_EQ(layout.Fragments()[0].text, "ab 简体中");
    EXPECT_EQ(layout.ContentHeight(), 28);
}

}  // namespace
