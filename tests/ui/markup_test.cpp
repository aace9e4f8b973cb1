#include <gtest/gtest.h>

#include "ui/CMarkup.h"

using namespace SkinUI;

namespace {

TEST(Markup, EveryMalformedFileStopsWithItsErrorAndPlace) {
    struct Case {
        const char* text;
        const char* error;
        std::size_t line, column;
    } cases[] = {
        {"hello", "Expected start tag", 1, 1},
        {"", "Expected start tag", 1, 1},
        {"<!-- never closed", "Expected start tag", 1, 1},
        {"<Window>\n  < Label/>\n</Window>", "Error parsing element name", 2, 4},
        {"<Window size=\"1,2\" /x>", "Expected start-tag closing", 1, 21},
        {"<Window size=\"1,2\"", "Expected start-tag closing", 1, 19},
        {"<Window>\n<Label/>\n", "Expected end-tag start", 3, 1},
        {"<Window>\n  <Label></Labl>\n</Window>", "Unmatched closing tag", 2, 10},
        {"<Window><Label/></Window  x>", "Unmatched closing tag", 1, 17},
        {"<Window =\"1\"/>", "Error while parsing attributes", 1, 9},
        {"<Window size \"1\"/>", "Error while parsing attributes", 1, 14},
        {"<Window size='650,560'/>", "Expected attribute value", 1, 14},
        {"<Window size=650/>", "Expected attribute value", 1, 14},
        {"<Window>\n<Label text=\"never closed/>\n</Window>", "Error while parsing attribute string", 2, 14},
    };
    CMarkup excerpt;
    EXPECT_FALSE(excerpt.Load("<Window a='1\n2'/>"));
    EXPECT_EQ(excerpt.ErrorMessage(), "Expected attribute value at line 1, column 11: '1");
    for (const auto& c : cases) {
        CMarkup m;
        EXPECT_FALSE(m.Load(c.text)) << c.text;
        EXPECT_STREQ(to_string(m.LastError()), c.error) << c.text;
        EXPECT_EQ(m.ErrorLine(), c.line) << c.text;
        EXPECT_EQ(m.ErrorColumn(), c.column) << c.text;
        EXPECT_EQ(m.Root(), nullptr);
        EXPECT_TRUE(m.ErrorMessage().starts_with(c.error)) << m.ErrorMessage();
    }
}

TEST(Markup, LenientRulesTheShippedFilesRelyOn) {
    const char* text =
        "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
        "<!-- layout -->\n"
        "<Window size=\"650,560\">\n"
        "  text between elements is ignored\n"
        "  <RichEdit text=\"5.TERM & TERMINATION\n\tline two &amp; &lt;b&gt; &quot;q&quot; &apos;s&apos; &unknown;\" />\n"
        "  <Label bkimage=\"file='skin\\a.png' source='0,0,10,10'\"/><!-- c --><?pi x?>\n"
        "</Window>trailing";
    CMarkup m;
    ASSERT_TRUE(m.Load(text)) << m.ErrorMessage();
    const TMarkupElement* root = m.Root();
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(root->name, "Window");
    EXPECT_EQ(root->line, 3u);
    ASSERT_EQ(root->children.size(), 2u);
    const auto& rich = m.Element(root->children[0]);
    EXPECT_EQ(*rich.Attribute("text"), "5.TERM & TERMINATION\n\tline two & <b> \"q\" 's' &unknown;");
    EXPECT_EQ(rich.line, 5u);
    const auto& label = m.Element(root->children[1]);
    EXPECT_EQ(*label.Attribute("bkimage"), "file='skin\\a.png' source='0,0,10,10'");
    EXPECT_EQ(label.Attribute("BKIMAGE"), nullptr);
}

TEST(Markup, KeepsOnlyTheFirst64AttributesAndBoundsNesting) {
    std::string text = "<Label";
    for (int i = 0; i < 70; ++i) text += " a" + std::to_string(i) + "=\"" + std::to_string(i) + "\"";
    text += "/>";
    CMarkup m;
    ASSERT_TRUE(m.Load(text));
    ASSERT_EQ(m.Root()->attributes.size(), 64u);
    EXPECT_EQ(m.Root()->attributes.back().first, "a63");

    std::string deep;
    for (int i = 0; i < 300; ++i) deep += "<a>";
    for (int i = 0; i < 300; ++i) deep += "</a>";
    EXPECT_FALSE(m.Load(deep));
    EXPECT_EQ(m.LastError(), MarkupError::MARKUP_TOO_DEEP);
    std::string fine;
    for (int i = 0; i < 200; ++i) fine += "<a>";
    for (int i = 0; i < 200; ++i) fine += "</a>";
    EXPECT_TRUE(m.Load(fine));
}

}  // namespace
