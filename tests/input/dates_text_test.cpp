// DateText: the user's order and separator from "Vork.ini", read once, and
// the month names of each language.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "input/dates.h"
#include "platform/platform.h"
#include "session/session.h"
#include "tests/temp_dir.h"

namespace {

std::string Packed(int year, int month, int day) {
  std::string text;
  for (int v : {year / 100, year % 100, month, day}) text += static_cast<char>(128 + v);
  return text;
}

// A fresh directory standing for KALROOT, removed at the end of the test.
class DateTextSettings : public ::testing::Test {
 protected:
  TempDir temp{"dates_text_"};
  const std::string dir = temp.path;
  SessionState savedSession;

  void SetUp() override {
    savedSession = Session;
    ASSERT_FALSE(dir.empty());
    Session.root = dir + "/";
    Session.language = "CAT";
    ResetFormatPreferences();
  }
  void TearDown() override {
    Session = savedSession;
    ResetFormatPreferences();
  }
  void WriteSettings(const std::string& usuari) {
    ASSERT_TRUE(WriteWholeFile(dir + "/Vork.ini", "[Sistema]\r\nDatOrdre=MDA\r\n[Usuari]\r\n" + usuari));
  }
  // Preferences set directly, as if read from the file.
  void Use(char separator, const std::string& order) {
    Preferences.DatCaracter = separator;
    Preferences.DatOrdre = order;
    Preferences.datesLoaded = true;
  }
};

TEST_F(DateTextSettings, NumericTextFollowsOrderAndSeparator) {
  struct Case {
    char separator;
    std::string order, parts;
    std::string packed, text;
  } cases[] = {
      {'/', "DMA", "dma", Packed(2023, 4, 7), "7/4/2023  "},
      {'-', "AMD", "dma", Packed(2023, 4, 7), "2023-4-7  "},
      {'.', "MDA", "DMA", Packed(2023, 12, 31), "12.31.2023"},
      {'/', "DMA", "dma", Packed(2023, 0, 0), "          "},  // blank date
      {'/', "DMA", "dma", "", "          "},
      {'/', "DMA", "da", Packed(2023, 4, 7), "7/2023 "},
      {'/', "DMA", "m", Packed(2023, 4, 7), "4 "},
      {'/', "DMA", "", Packed(2023, 4, 7), ""},
      {'/', "DMA", "dma", Packed(1, 1, 1), "1/1/0001  "},
  };
  for (const Case& c : cases) {
    Use(c.separator, c.order);
    EXPECT_EQ(DateText(c.parts, 0, c.packed), c.text)
        << "order " << c.order << ", separator " << c.separator << ", parts \"" << c.parts << "\"";
  }
}

TEST_F(DateTextSettings, MonthNamesOfEachLanguage) {
  const char* expected[4][12] = {
      {"gener", "febrer", "mar\x87", "abril", "maig", "juny", "juliol", "agost", "setembre", "octubre",
       "novembre", "desembre"},
      {"enero", "febrero", "marzo", "abril", "mayo", "junio", "julio", "agosto", "septiembre", "octubre",
       "noviembre", "diciembre"},
      {"janeiro", "fevereiro", "mar\x87o", "abril", "maio", "junho", "julho", "agosto", "setembro", "outubro",
       "novembro", "dezembro"},
      {"g\x8Ar", "hereu\x8Ar", "mar\x87", "abriu", "mai", "junh", "junhsega", "agost", "seteme", "octobre",
       "noveme", "deseme"},
  };
  const char* languages[4] = {"CAT", "SPA", "GLG", "OCI"};
  Use('/', "DMA");
  for (int l = 0; l < 4; ++l) {
    Session.language = languages[l];
    for (int m = 1; m <= 12; ++m)
      EXPECT_EQ(DateText("m", 2, Packed(2023, m, 15)), expected[l][m - 1]) << languages[l] << " month " << m;
  }
}

TEST_F(DateTextSettings, UnknownOrBlankLanguageCodesUseCatalan) {
  Use('/', "DMA");
  for (const char* code : {"", "   ", "ENG", "XYZ", "CAT"}) {
    Session.language = code;
    EXPECT_EQ(DateText("m", 2, Packed(2023, 1, 1)), "gener") << "\"" << code << "\"";
  }
  Session.language = "spa";
  EXPECT_EQ(DateText("m", 2, Packed(2023, 9, 1)), "septiembre");
}

TEST_F(DateTextSettings, NamedMonthOfABlankOrImpossibleMonthIsEmpty) {
  Use('/', "DMA");
  EXPECT_EQ(DateText("m", 2, Packed(2023, 0, 0)), "");
  EXPECT_EQ(DateText("m", 2, Packed(2023, 13, 1)), "");
  EXPECT_EQ(DateText("m", 2, std::string(1000, '\xFF')), "");
  std::string parts(1000, 'd');
  EXPECT_EQ(DateText(parts, 0, Packed(2023, 4, 7)), "7" + std::string(1000, ' ')) << "width 2 + 1000 - 1";
}

TEST_F(DateTextSettings, PreferencesAreReadOnceFromTheUserSection) {
  WriteSettings("DatCaracter=-\r\nDatOrdre=AMD\r\n");
  EXPECT_EQ(DateText("dma", 0, Packed(2023, 4, 7)), "2023-4-7  ");
  WriteSettings("DatCaracter=.\r\nDatOrdre=DMA\r\n");
  EXPECT_EQ(DateText("dma", 0, Packed(2023, 4, 7)), "2023-4-7  ") << "a later change is not seen";
  ResetFormatPreferences();
  EXPECT_EQ(DateText("dma", 0, Packed(2023, 4, 7)), "7.4.2023  ");
}

TEST_F(DateTextSettings, MissingFileOrEmptyValuesGiveSlashAndDayMonthYear) {
  EXPECT_EQ(DateText("dma", 0, Packed(2023, 4, 7)), "7/4/2023  ");
  EXPECT_EQ(Preferences.DatCaracter, '/');
  EXPECT_EQ(Preferences.DatOrdre, "DMA");
  ResetFormatPreferences();
  WriteSettings("DatCaracter=\r\nDatOrdre=\r\n");
  EXPECT_EQ(DateText("dma", 0, Packed(2023, 4, 7)), "7/4/2023  ");
}

TEST_F(DateTextSettings, BlanksAroundValuesAndLowerCaseOrderAreAccepted) {
  WriteSettings("DatCaracter = - \r\nDatOrdre = amd\r\n");
  EXPECT_EQ(DateText("dma", 0, Packed(2023, 4, 7)), "2023-4-7  ");
  ResetFormatPreferences();
  WriteSettings("DatCaracter=\" \"\r\n");
  EXPECT_EQ(DateText("dma", 0, Packed(2023, 4, 7)), "7 4 2023  ") << "a quoted blank is a blank separator";
}

}  // namespace
