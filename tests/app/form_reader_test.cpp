// Tests of the form file reader and the form tables.
#include "app/form_reader.h"

#include "screen/form.h"
#include "tests/session/session_test_support.h"

namespace {

// Every value of the form tables, one line per record, for comparisons.
std::string DumpForm() {
  std::string out = "N=" + std::to_string(Form.screenCount) + " M=" + std::to_string(Form.fieldMax) +
                    " Q=" + std::to_string(Form.browseCount) + "\n";
  for (int s = 1; s <= Form.screenCount; ++s) {
    const FormScreen& screen = Screen(s);
    out += "screen [" + screen.ScreenKeys + "] " + std::to_string(screen.FieldCount) + " " +
           std::to_string(screen.NextScreen);
    for (int k = 1; k <= 4; ++k) out += " " + std::to_string(screen.WindowBox[k]);
    out += "\n";
    for (int f = 1; f <= Form.fieldMax; ++f) {
      const FormField& x = Field(s, f);
      for (int v : {x.Row, x.Column, x.Width, x.LineWidth, x.InfoWidth, x.Flags, x.Type, x.Lookup})
        out += std::to_string(v) + " ";
      out += "[" + x.Label + "][" + x.Choices + "][" + x.Value + "]\n";
    }
  }
  for (int b = 1; b <= Form.browseCount; ++b) {
    const BrowseDefinition& d = Browse(b);
    out += "browse " + std::to_string(d.BrowseFile) + " " + std::to_string(d.BrowseKey);
    for (int side : d.BrowseBox) out += " " + std::to_string(side);
    out += " " + std::to_string(d.BrowseScreen) + " [" + d.BrowseTitle + "] " + std::to_string(d.BrowseNext) +
           "\n";
  }
  return out;
}

const std::string kHeader = "2,3\r\n";
const std::string kScreen1 =
    "\"d,1b,4800\",2,0,6,12,15,69\r\n"
    "3,4,\"DATA :\",10,0,0,0,1,0,\"\"\r\n"
    "5,4,FINCA :,4,0,0,0,2,1,\r\n";
const std::string kScreen2 =
    "d,1,0,17,20,19,60\r\n"
    "2,3,\"  CONFIRMEU, SI US PLAU :\",1,0,0,0,0,0,\"|S,SI|N,NO\"\r\n";
const std::string kCount = "2\r\n";
const std::string kBrowse1 = "511,0,5,20,20,70,0,\"FINQUES\",0\r\n";
const std::string kBrowse2 = "504,0,5,20,20,70\r\n0,CONCEPTES,0\r\n";  // over two lines

class FormReaderTest : public AppTest {
 protected:
  std::string problem;
  void SetUp() override {
    AppTest::SetUp();
    Session.root = temp.Dir();
    Session.language = "CAT";
  }
  bool Read(const std::string& contents) {
    return ReadFormFile(temp.Write("FORMS/TARPELIX.JPN", contents), problem);
  }
};

TEST_F(FormReaderTest, ReadsScreensFieldsAndBrowseDefinitions) {
  ASSERT_TRUE(Read(kHeader + kScreen1 + kScreen2 + kCount + kBrowse1 + kBrowse2)) << problem;
  EXPECT_EQ(Form.screenCount, 2);
  EXPECT_EQ(Form.fieldMax, 3);
  EXPECT_EQ(Screen(1).ScreenKeys, "d,1b,4800");
  EXPECT_EQ(Screen(1).FieldCount, 2);
  EXPECT_EQ(Screen(1).WindowBox[1], 6);
  EXPECT_EQ(Screen(1).WindowBox[4], 69);
  EXPECT_EQ(Field(1, 1).Label, "DATA :");
  EXPECT_EQ(Field(1, 1).Value, std::string(10, ' '));
  EXPECT_EQ(Field(1, 2).Label, "FINCA :");
  EXPECT_EQ(Field(1, 2).Type, 2);
  EXPECT_EQ(Field(1, 2).Lookup, 1);
  EXPECT_EQ(Field(1, 2).Value, "    ");
  EXPECT_EQ(Field(2, 1).Label, "  CONFIRMEU, SI US PLAU :");
  EXPECT_EQ(Field(2, 1).Choices, "|S,SI|N,NO");
  EXPECT_EQ(Screen(2).ScreenKeys, "d");
  EXPECT_EQ(Screen(2).FieldCount, 1);
  EXPECT_EQ(Browse(1).BrowseFile, 511);
  EXPECT_EQ(Browse(1).BrowseTitle, "FINQUES");
  EXPECT_EQ(Browse(2).BrowseFile, 504);
  EXPECT_EQ(Browse(2).BrowseBox[3], 70);
  EXPECT_EQ(Browse(2).BrowseTitle, "CONCEPTES");
  // Fields beyond a screen's count are empty.
  EXPECT_EQ(Field(1, 3).Width, 0);
  EXPECT_EQ(Field(1, 3).Value, "");
}

TEST_F(FormReaderTest, CommentsAtRecordStartsReadLikeTheFileWithoutThem) {
  ASSERT_TRUE(Read(kHeader + kScreen1 + kScreen2 + kCount + kBrowse1 + kBrowse2)) << problem;
  const std::string plain = DumpForm();
  ASSERT_TRUE(Read("' form of the module\r\n'\r\n   ' indented comment, with comma\r\n" + kHeader +
                   "' screen 1\r\n" + kScreen1 + "' screen 2\r\n" + kScreen2 + "' browse lists\r\n" + kCount +
                   "' properties\r\n" + kBrowse1 + "  ' concepts\r\n" + kBrowse2 + "' the end\r\n"))
      << problem;
  EXPECT_EQ(DumpForm(), plain);
}

TEST_F(FormReaderTest, LoneLineFeedFileReadsLikeTheCrLfFile) {
  std::string file = "' c\r\n" + kHeader + kScreen1 + kScreen2 + "' c\r\n" + kCount + kBrowse1 + kBrowse2;
  ASSERT_TRUE(Read(file)) << problem;
  const std::string crlf = DumpForm();
  std::string lf;
  for (char c : file)
    if (c != '\r') lf += c;
  ASSERT_TRUE(Read(lf)) << problem;
  EXPECT_EQ(DumpForm(), crlf);
}

TEST_F(FormReaderTest, CommentBetweenFieldRecordsIsReadAsData) {
  ASSERT_TRUE(
      Read("1,2\r\nd,2,0,0,0,0,0\r\n"
           "3,4,A,5,0,0,0,0,0,\r\n"
           "' 7,8,B,2,0,0,0,0,0,x\r\n"
           "1\r\n" +
           kBrowse1))
      << problem;
  EXPECT_EQ(Field(1, 2).Row, 0);  // the apostrophe line's first field
  EXPECT_EQ(Field(1, 2).Column, 8);
  EXPECT_EQ(Field(1, 2).Label, "B");
  EXPECT_EQ(Field(1, 2).Width, 2);
  EXPECT_EQ(Field(1, 2).Choices, "x");
}

// A file cut short is refused whole, naming the first record it lacks: a
// program started on it would meet the missing screen, field or list later.
TEST_F(FormReaderTest, AFileEndingEarlyIsRefusedNamingWhatIsMissing) {
  const struct {
    std::string contents;
    const char* missing;
  } cases[] = {
      {"2,2\r\nd,2,0,1,1,10,40\r\n3,4,A,5,0,0,0,0,0,\r\n3,5,B", "EL CAMP 2 DE LA PANTALLA 1"},
      {"2,2\r\nd,2,0,1,1,10,40\r\n", "EL CAMP 1 DE LA PANTALLA 1"},
      {kHeader + kScreen1, "LA PANTALLA 2"},
      {kHeader + kScreen1 + "d,1,0,17", "LA PANTALLA 2"},
      {kHeader + kScreen1 + "\x1A" + kScreen2, "LA PANTALLA 2"},  // Ctrl-Z ends the data
      {kHeader + kScreen1 + kScreen2 + "' no lists yet\r\n\r\n  \r\n", "EL NOMBRE DE LLISTES"},
      {kHeader + kScreen1 + kScreen2 + kCount, "LA LLISTA 1"},
      {kHeader + kScreen1 + kScreen2 + kCount + kBrowse1, "LA LLISTA 2"},
      {kHeader + kScreen1 + kScreen2 + kCount + kBrowse1 + "504,0,5,20,20,70\r\n0,CONCEPTES", "LA LLISTA 2"},
  };
  for (const auto& c : cases) {
    EXPECT_FALSE(Read(c.contents)) << c.missing;
    EXPECT_EQ(problem, "FITXER DE PANTALLES INCOMPLET: " + HostPath(Session.root + "FORMS\\TARPELIX.JPN") +
                           ", HI FALTA " + c.missing);
    EXPECT_EQ(Form.screenCount, 0) << c.missing << ": nothing of a refused file is kept";
  }
  ASSERT_TRUE(Read(kHeader + kScreen1 + kScreen2 + kCount + kBrowse1 + kBrowse2)) << problem;
  EXPECT_EQ(Browse(2).BrowseTitle, "CONCEPTES");
}

TEST_F(FormReaderTest, ReadingStopsAfterTheLastBrowseDefinition) {
  ASSERT_TRUE(Read(kHeader + kScreen1 + kScreen2 + "1\r\n" + kBrowse1 + "garbage,-5\r\n")) << problem;
  EXPECT_EQ(Form.browseCount, 1);
}

TEST_F(FormReaderTest, CtrlZEndsTheFormData) {
  ASSERT_TRUE(Read(kHeader + kScreen1 + kScreen2 + kCount + kBrowse1 + kBrowse2 + "\x1A" + "garbage,-5"))
      << problem;
  EXPECT_EQ(Form.browseCount, 2);
}

TEST_F(FormReaderTest, LabelsChoicesAndTitlesAreTranslatedButNotTheKeys) {
  Session.language = "SPA";
  temp.Write("LOCALE/TARPELIX.LNG",
             "\"DATA :\",\"FECHA :\",g,o\r\n\"|S,SI|N,NO\",\"|S,SI|N,NO (ES)\",g,o\r\n"
             "FINQUES,FINCAS,g,o\r\nd,NEVER,g,o\r\n");
  ASSERT_TRUE(Read(kHeader + kScreen1 + kScreen2 + kCount + kBrowse1 + kBrowse2)) << problem;
  EXPECT_EQ(Field(1, 1).Label, "FECHA :");
  EXPECT_EQ(Field(2, 1).Choices, "|S,SI|N,NO (ES)");
  EXPECT_EQ(Browse(1).BrowseTitle, "FINCAS");
  EXPECT_EQ(Screen(2).ScreenKeys, "d");
}

TEST_F(FormReaderTest, MissingFileIsRefusedNamingIt) {
  EXPECT_FALSE(ReadFormFile(temp.Dir() + "FORMS\\TARPELIX.JPN", problem));
  EXPECT_NE(problem.find(temp.path + "/FORMS/TARPELIX.JPN"), std::string::npos) << problem;
  EXPECT_EQ(Form.screenCount, 0);
}

TEST_F(FormReaderTest, FileWithoutScreensIsRefused) {
  EXPECT_FALSE(Read(""));
  EXPECT_NE(problem.find("TARPELIX.JPN"), std::string::npos) << problem;
  EXPECT_FALSE(Read("' only a comment\r\n\r\n"));
}

struct BadForm {
  const char* what;
  std::string contents;
  const char* lineText;
};

TEST_F(FormReaderTest, CountsAndWidthsOutsideTheTablesAreRefusedWithTheLine) {
  const BadForm cases[] = {
      {"no screens", "0,3\r\n", "1:"},
      {"negative screens", "-1,3\r\n", "1:"},
      {"too many screens", "30000,3\r\n", "1:"},
      {"negative field maximum", "1,-2\r\n", "1:"},
      {"absurd field maximum", "1,32767\r\n", "1:"},
      {"fields above maximum", "1,2\r\nd,3,0,0,0,0,0\r\n", "2:"},
      {"negative fields", "1,2\r\nd,-1,0,0,0,0,0\r\n", "2:"},
      {"negative width", "1,1\r\nd,1,0,0,0,0,0\r\n1,1,A,-1,0,0,0,0,0,\r\n", "3:"},
      {"absurd width", "1,1\r\nd,1,0,0,0,0,0\r\n1,1,A,\r\n1001,0,0,0,0,0,\r\n", "4:"},
      {"negative line width", "1,1\r\nd,1,0,0,0,0,0\r\n1,1,A,5,-5,0,0,0,0,\r\n", "3:"},
      {"absurd description width", "1,1\r\nd,1,0,0,0,0,0\r\n1,1,A,5,0,5000,0,0,0,\r\n", "3:"},
      {"no browse lists", "1,0\r\nd,0,0,0,0,0,0\r\n' lists\r\n0\r\n", "4:"},
      {"too many browse lists", "1,0\r\nd,0,0,0,0,0,0\r\n999\r\n", "3:"},
  };
  for (const BadForm& bad : cases) {
    EXPECT_FALSE(Read(bad.contents)) << bad.what;
    EXPECT_EQ(Form.screenCount, 0) << bad.what << ": nothing of a refused file is kept";
    EXPECT_EQ(Field(1, 1).Width, 0) << bad.what;
    EXPECT_NE(problem.find("TARPELIX.JPN"), std::string::npos) << bad.what << ": " << problem;
    EXPECT_NE(problem.find(std::string("L\xD6NIA ") + bad.lineText), std::string::npos)
        << bad.what << ": " << problem;
  }
}

TEST_F(FormReaderTest, WidthLimitsThemselvesAreAccepted) {
  ASSERT_TRUE(
      Read("1,2\r\nd,2,0,0,0,0,0\r\n1,1,A,0,0,0,0,0,0,\r\n1,1,B,1000,1000,1000,0,0,0,\r\n1\r\n" + kBrowse1))
      << problem;
  EXPECT_EQ(Field(1, 1).Value, "");
  EXPECT_EQ(Field(1, 2).Value.size(), 1000u);
}

TEST(FormTables, NumbersOutsideTheTablesReachOnlyAScratchEntry) {
  CreateFormTables(1, 2);
  CreateBrowseTables(1);
  Field(1, 1).Width = 5;
  for (auto [s, f] : {std::pair{0, 1}, {2, 1}, {-1, 1}, {1, 0}, {1, 3}, {32767, 32767}}) {
    Field(s, f).Label = "scratch";
    EXPECT_EQ(Field(s, f).Label, "") << s << "," << f;
  }
  Screen(0).FieldCount = 9;
  Screen(5).ScreenKeys = "x";
  Browse(0).BrowseFile = 9;
  Browse(2).BrowseTitle = "x";
  EXPECT_EQ(Screen(1).FieldCount, 0);
  EXPECT_EQ(Screen(5).ScreenKeys, "");
  EXPECT_EQ(Browse(1).BrowseFile, 0);
  EXPECT_EQ(Browse(2).BrowseTitle, "");
  EXPECT_EQ(Field(1, 1).Width, 5);
  EXPECT_EQ(Field(1, 2).Label, "");
  Form = FormTables{};
  EXPECT_EQ(Field(1, 1).Width, 0);
}

TEST(FormTables, ValuesAreCutOrPaddedToTheFieldWidth) {
  CreateFormTables(1, 3);
  Field(1, 1).Width = 2;
  Field(1, 2).Width = 3;
  SetFieldValue(1, 1, "999");
  SetFieldValue(1, 2, "1");
  SetFieldValue(1, 3, "anything");
  EXPECT_EQ(Field(1, 1).Value, "99");
  EXPECT_EQ(Field(1, 2).Value, "1  ");
  EXPECT_EQ(Field(1, 3).Value, "");
  EXPECT_EQ(FitToWidth("abc", -4), "");
}

}  // namespace
