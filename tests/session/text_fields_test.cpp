// Tests of the field reader shared by the form file and the language file.
#include "session/text_fields.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

std::vector<std::string> AllTexts(const std::string& contents) {
  TextFieldReader reader;
  reader.Start(contents);
  std::vector<std::string> fields;
  std::string text;
  while (reader.ReadText(text)) fields.push_back(text);
  return fields;
}

using Texts = std::vector<std::string>;

TEST(TextFields, LeadingSpacesAreSkippedTrailingSpacesStay) {
  EXPECT_EQ(AllTexts("   abc  ,  d"), (Texts{"abc  ", "d"}));
}

TEST(TextFields, QuotedTextHoldsCommasAndLeadingSpaces) {
  EXPECT_EQ(AllTexts("\"a, b\",\"  x\"\r\n\"\",z"), (Texts{"a, b", "  x", "", "z"}));
}

TEST(TextFields, WhatFollowsTheClosingQuoteUpToTheSeparatorIsSkipped) {
  EXPECT_EQ(AllTexts("\"a\" \t ,b\r\n\"c\"  \r\nd"), (Texts{"a", "b", "c", "d"}));
}

TEST(TextFields, QuoteWithoutItsPartnerRunsToTheEnd) {
  EXPECT_EQ(AllTexts("a,\"open, never closed\r\nmore"), (Texts{"a", "open, never closed\r\nmore"}));
}

TEST(TextFields, TabsInsideUnquotedTextAreDropped) { EXPECT_EQ(AllTexts("a\tb\t,c"), (Texts{"ab", "c"})); }

TEST(TextFields, LineEndsSeparateFieldsWhateverTheirForm) {
  EXPECT_EQ(AllTexts("a\r\nb\nc\rd,e"), (Texts{"a", "b", "c", "d", "e"}));
}

TEST(TextFields, EmptyFieldsBetweenSeparators) {
  EXPECT_EQ(AllTexts("a,,b,\r\n,c"), (Texts{"a", "", "b", "", "", "c"}));
}

TEST(TextFields, CommaJustBeforeTheEndAnnouncesOneMoreEmptyField) {
  EXPECT_EQ(AllTexts("a,"), (Texts{"a", ""}));
  EXPECT_EQ(AllTexts("a\r\n"), (Texts{"a"}));
  EXPECT_EQ(AllTexts(""), Texts{});
  EXPECT_EQ(AllTexts("   "), Texts{});
}

TEST(TextFields, CtrlZEndsTheData) {
  EXPECT_EQ(AllTexts("a,b\x1A,c,d"), (Texts{"a", "b"}));
  EXPECT_EQ(AllTexts("\"quoted\x1A,c\""), (Texts{"quoted"}));
}

TEST(TextFields, NumbersComeToTheNearest16BitInteger) {
  TextFieldReader reader;
  reader.Start(" 12,-7, 3.5,2.5,2.51,abc,,99999,-99999, 8 9\r\n");  // blanks inside count for nothing
  std::vector<int16_t> numbers;
  int16_t n;
  while (reader.ReadNumber(n)) numbers.push_back(n);
  EXPECT_EQ(numbers, (std::vector<int16_t>{12, -7, 4, 2, 3, 0, 0, 32767, -32768, 89}));
}

TEST(TextFields, ReadingPastTheEndGivesEmptyValues) {
  TextFieldReader reader;
  reader.Start("5");
  int16_t n = 0;
  std::string text = "x";
  EXPECT_TRUE(reader.ReadNumber(n));
  EXPECT_EQ(n, 5);
  EXPECT_FALSE(reader.ReadNumber(n));
  EXPECT_EQ(n, 0);
  EXPECT_FALSE(reader.ReadText(text));
  EXPECT_EQ(text, "");
}

TEST(TextFields, CommentLinesAreSkippedAndTheNextLineIsGivenBackWhole) {
  TextFieldReader reader;
  reader.Start("' one\r\n   ' two, with comma\n'\r\n  7,8\r\n' after");
  reader.SkipCommentLines();
  EXPECT_EQ(reader.line, 4);
  std::string text;
  ASSERT_TRUE(reader.ReadText(text));
  EXPECT_EQ(text, "7");
  // Not at the start of a line: the rule looks at the rest of the line.
  reader.SkipCommentLines();
  ASSERT_TRUE(reader.ReadText(text));
  EXPECT_EQ(text, "8");
  reader.SkipCommentLines();
  EXPECT_TRUE(reader.AtEnd());
}

TEST(TextFields, BlankLineIsNotACommentAndStopsTheSkipping) {
  TextFieldReader reader;
  reader.Start("' c\r\n   \r\n' d\r\nx");
  reader.SkipCommentLines();
  std::string text;
  ASSERT_TRUE(reader.ReadText(text));
  EXPECT_EQ(text, "");
  EXPECT_FALSE(reader.OnlyBlanksRemain());
}

TEST(TextFields, QuotedApostropheLineIsData) {
  TextFieldReader reader;
  reader.Start("\"'not a comment\",1");
  reader.SkipCommentLines();
  std::string text;
  ASSERT_TRUE(reader.ReadText(text));
  EXPECT_EQ(text, "'not a comment");
}

TEST(TextFields, OnlyBlanksRemainLooksAtSpacesTabsAndLineEnds) {
  TextFieldReader reader;
  reader.Start("1\r\n \t\r\n\n");
  int16_t n;
  reader.ReadNumber(n);
  EXPECT_TRUE(reader.OnlyBlanksRemain());
  reader.Start("1\r\n \t\r\nx");
  reader.ReadNumber(n);
  EXPECT_FALSE(reader.OnlyBlanksRemain());
}

}  // namespace
