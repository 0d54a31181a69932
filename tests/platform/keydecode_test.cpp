// Key decoder: terminal byte sequences in, PC key codes out.  Time is given
// to the decoder, never waited for.
#include "platform/keydecode.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/platform/printable.h"

namespace {

std::string Describe(const ConsoleEvent& e) {
  if (e.kind == ConsoleEvent::MOUSE)
    return "mouse " + std::to_string(e.button) + " at " + std::to_string(e.column) + "," +
           std::to_string(e.row);
  std::string name = KeyName(e.key);
  if (e.altKeypadDigit >= 0) name += " (Alt+keypad " + std::to_string(e.altKeypadDigit) + ")";
  return name;
}

std::string Describe(const std::vector<ConsoleEvent>& events) {
  std::string text;
  for (const auto& e : events) text += (text.empty() ? "" : ", ") + Describe(e);
  return "[" + text + "]";
}

std::string DescribeKeys(const std::vector<int>& keys) {
  std::string text;
  for (int k : keys) text += (text.empty() ? "" : ", ") + KeyName(k);
  return "[" + text + "]";
}

// Everything the bytes decode to when they arrive at once and nothing
// follows them.
std::vector<ConsoleEvent> DecodeAll(const std::string& bytes) {
  KeyDecoder decoder;
  std::vector<ConsoleEvent> events;
  KeyDecoderFeed(decoder, bytes, 0, events);
  KeyDecoderTick(decoder, 10000, events);
  return events;
}

struct KeyCase {
  const char* what;
  std::string bytes;
  std::vector<int> keys;
};

void ExpectKeys(const std::vector<KeyCase>& cases) {
  for (const auto& c : cases) {
    std::vector<ConsoleEvent> events = DecodeAll(c.bytes);
    std::vector<int> keys;
    bool allKeys = true;
    for (const auto& e : events) {
      keys.push_back(e.key);
      allKeys = allKeys && e.kind == ConsoleEvent::KEY && e.altKeypadDigit == -1;
    }
    EXPECT_TRUE(keys == c.keys && allKeys) << c.what << ": \"" << Printable(c.bytes) << "\" gave "
                                           << Describe(events) << ", expected " << DescribeKeys(c.keys);
  }
}

TEST(KeyDecoder, TypedCharactersAndControlKeys) {
  ExpectKeys({
      {"letter", "a", {'a'}},
      {"several characters at once", "Ab1 ", {'A', 'b', '1', ' '}},
      {"Enter is CR", "\r", {13}},
      {"Ctrl+J stays 10", "\n", {10}},
      {"Tab", "\t", {9}},
      {"Backspace as DEL", "\x7f", {8}},
      {"Backspace as ^H", "\x08", {8}},
      {"Ctrl+C reaches the program", "\x03", {3}},
      {"Ctrl+V", "\x16", {22}},
      {"Ctrl+Y", "\x19", {25}},
      {"Ctrl+Space", std::string(1, '\0'), {0x0300}},
      {"lone Escape", "\x1b", {27}},
  });
}

TEST(KeyDecoder, TextBeyondAsciiBecomesCodePage850) {
  ExpectKeys({
      {"e acute", "\xc3\xa9", {0x82}},
      {"capital N tilde", "\xc3\x91", {0xA5}},
      {"c cedilla", "\xc3\xa7", {0x87}},
      {"middle dot (l\xc2\xb7l)", "l\xc2\xb7l", {'l', 0xFA, 'l'}},
      {"euro sign has no code page 850 byte", "\xe2\x82\xac", {}},
      {"glyph of a control code does not type it", "\xe2\x98\xba", {}},
      {"house glyph does not type DEL", "\xe2\x8c\x82", {}},
      {"invalid byte dropped",
       "\xff"
       "a",
       {'a'}},
      {"truncated character dropped", "a\xc3", {'a'}},
      {"overlong encoding dropped",
       "\xc0\xaf"
       "b",
       {'b'}},
  });
}

TEST(KeyDecoder, CursorAndEditingKeysInEveryMode) {
  ExpectKeys({
      {"xterm Up", "\x1b[A", {0x4800}},
      {"xterm Down", "\x1b[B", {0x5000}},
      {"xterm Right", "\x1b[C", {0x4D00}},
      {"xterm Left", "\x1b[D", {0x4B00}},
      {"xterm Home", "\x1b[H", {0x4700}},
      {"xterm End", "\x1b[F", {0x4F00}},
      {"application Up", "\x1bOA", {0x4800}},
      {"application Left", "\x1bOD", {0x4B00}},
      {"application Home", "\x1bOH", {0x4700}},
      {"application End", "\x1bOF", {0x4F00}},
      {"VT220 Home", "\x1b[1~", {0x4700}},
      {"Ins", "\x1b[2~", {0x5200}},
      {"Del", "\x1b[3~", {0x5300}},
      {"VT220 End", "\x1b[4~", {0x4F00}},
      {"PgUp", "\x1b[5~", {0x4900}},
      {"PgDn", "\x1b[6~", {0x5100}},
      {"rxvt Home", "\x1b[7~", {0x4700}},
      {"rxvt End", "\x1b[8~", {0x4F00}},
      {"keypad centre", "\x1b[E", {0x4C00}},
      {"Linux console keypad centre", "\x1b[G", {0x4C00}},
      {"Shift+Tab", "\x1b[Z", {0x0F00}},
      {"keys in one read", "\x1b[A\x1b[Bx\x1bOD", {0x4800, 0x5000, 'x', 0x4B00}},
  });
}

TEST(KeyDecoder, FunctionKeysOfXtermLinuxConsoleAndRxvt) {
  ExpectKeys({
      {"F1 SS3", "\x1bOP", {0x3B00}},
      {"F2 SS3", "\x1bOQ", {0x3C00}},
      {"F3 SS3", "\x1bOR", {0x3D00}},
      {"F4 SS3", "\x1bOS", {0x3E00}},
      {"F5", "\x1b[15~", {0x3F00}},
      {"F6", "\x1b[17~", {0x4000}},
      {"F7", "\x1b[18~", {0x4100}},
      {"F8", "\x1b[19~", {0x4200}},
      {"F9", "\x1b[20~", {0x4300}},
      {"F10", "\x1b[21~", {0x4400}},
      {"F11", "\x1b[23~", {0x8500}},
      {"F12", "\x1b[24~", {0x8600}},
      {"VT220 F1", "\x1b[11~", {0x3B00}},
      {"VT220 F4", "\x1b[14~", {0x3E00}},
      {"Linux console F1", "\x1b[[A", {0x3B00}},
      {"Linux console F5", "\x1b[[E", {0x3F00}},
      {"Linux/rxvt F13 is Shift+F3", "\x1b[25~", {0x5600}},
      {"Linux/rxvt F14 is Shift+F4", "\x1b[26~", {0x5700}},
      {"Linux/rxvt F15 is Shift+F5", "\x1b[28~", {0x5800}},
      {"Linux/rxvt F20 is Shift+F10", "\x1b[34~", {0x5D00}},
      {"rxvt Shift+F11", "\x1b[23$", {0x8700}},
      {"rxvt Ctrl+F1", "\x1b[11^", {0x5E00}},
      {"rxvt Ctrl+F12", "\x1b[24^", {0x8A00}},
      {"rxvt Ctrl+Shift+F5 counts as Ctrl", "\x1b[15@", {0x6200}},
  });
}

TEST(KeyDecoder, ModifiersFoldIntoTheClassicExtendedCodes) {
  ExpectKeys({
      {"Ctrl+Left", "\x1b[1;5D", {0x7300}},
      {"Ctrl+Right", "\x1b[1;5C", {0x7400}},
      {"Ctrl+Home", "\x1b[1;5H", {0x7700}},
      {"Ctrl+End", "\x1b[1;5F", {0x7500}},
      {"Ctrl+PgUp", "\x1b[5;5~", {0x8400}},
      {"Ctrl+PgDn", "\x1b[6;5~", {0x7600}},
      {"Ctrl+Up", "\x1b[1;5A", {0x8D00}},
      {"Ctrl+Down", "\x1b[1;5B", {0x9100}},
      {"Ctrl+Ins", "\x1b[2;5~", {0x9200}},
      {"Ctrl+Del", "\x1b[3;5~", {0x9300}},
      {"Shift+Left is Left", "\x1b[1;2D", {0x4B00}},
      {"Ctrl+Shift+Left is Ctrl+Left", "\x1b[1;6D", {0x7300}},
      {"Alt+Left", "\x1b[1;3D", {0x9B00}},
      {"Meta+Left counts as Alt", "\x1b[1;9D", {0x9B00}},
      {"Shift+F1", "\x1b[1;2P", {0x5400}},
      {"Ctrl+F1", "\x1b[1;5P", {0x5E00}},
      {"Alt+F1", "\x1b[1;3P", {0x6800}},
      {"Shift+F5", "\x1b[15;2~", {0x5800}},
      {"Ctrl+F5", "\x1b[15;5~", {0x6200}},
      {"Alt+F5", "\x1b[15;3~", {0x6C00}},
      {"Ctrl+F4", "\x1b[1;5S", {0x6100}},
      {"Alt+F4", "\x1b[1;3S", {0x6B00}},
      {"Shift+F10", "\x1b[21;2~", {0x5D00}},
      {"Alt+F10", "\x1b[21;3~", {0x7100}},
      {"Shift+F11", "\x1b[23;2~", {0x8700}},
      {"Shift+F12", "\x1b[24;2~", {0x8800}},
      {"Ctrl+F11", "\x1b[23;5~", {0x8900}},
      {"Alt+F12", "\x1b[24;3~", {0x8C00}},
      {"Ctrl+Alt+F11: Alt wins", "\x1b[23;7~", {0x8B00}},
      {"old xterm Shift+F1", "\x1bO2P", {0x5400}},
      {"SS3 with modifier Ctrl+Left", "\x1bO5D", {0x7300}},
      {"rxvt Shift+Left", "\x1b[d", {0x4B00}},
      {"rxvt Ctrl+Left", "\x1bOd", {0x7300}},
      {"rxvt Ctrl+Right", "\x1bOc", {0x7400}},
      {"rxvt Ctrl+Home", "\x1b[7^", {0x7700}},
      {"rxvt Ctrl+PgDn", "\x1b[6^", {0x7600}},
      {"rxvt Shift+Ins", "\x1b[2$", {0x5200}},
      {"Escape prefix before a sequence is Alt (rxvt Alt+Up)", "\x1b\x1b[A", {0x9800}},
      {"Escape prefix before an F-key is Alt", "\x1b\x1b[15~", {0x6C00}},
  });
}

TEST(KeyDecoder, AltLettersAndDigitsGiveThePcScanCodes) {
  const std::string letters = "qwertyuiopasdfghjklzxcvbnm";
  const int scan[] = {0x10, 0x11, 0x12, 0x13, 0x14, 0x15, 0x16, 0x17, 0x18, 0x19, 0x1E, 0x1F, 0x20,
                      0x21, 0x22, 0x23, 0x24, 0x25, 0x26, 0x2C, 0x2D, 0x2E, 0x2F, 0x30, 0x31, 0x32};
  std::vector<KeyCase> cases;
  for (size_t i = 0; i < letters.size(); ++i) {
    cases.push_back({"Alt+letter", std::string("\x1b") + letters[i], {scan[i] * 256}});
    cases.push_back(
        {"Alt+Shift+letter", std::string("\x1b") + static_cast<char>(letters[i] - 32), {scan[i] * 256}});
  }
  const std::string digits = "1234567890";
  for (size_t i = 0; i < digits.size(); ++i)
    cases.push_back({"Alt+digit", std::string("\x1b") + digits[i], {static_cast<int>(0x7800 + i * 0x100)}});
  cases.push_back({"Alt+minus", "\x1b-", {0x8200}});
  cases.push_back({"Alt+equals", "\x1b=", {0x8300}});
  cases.push_back({"Alt+comma", "\x1b,", {0x3300}});
  cases.push_back({"Alt with a character the PC has no code for", "\x1b!", {'!'}});
  cases.push_back({"modifyOtherKeys Alt+a", "\x1b[27;3;97~", {0x1E00}});
  cases.push_back({"CSI u Alt+x", "\x1b[120;3u", {0x2D00}});
  cases.push_back({"CSI u Ctrl+a", "\x1b[97;5u", {1}});
  // Code point 0 is the NUL byte's key, never key code 0 (no key at all).
  cases.push_back({"CSI u without a code", "\x1b[u", {0x0300}});
  cases.push_back({"modifyOtherKeys code 0", "\x1b[27;5;0~", {0x0300}});
  cases.push_back({"modifyOtherKeys Ctrl+Tab", "\x1b[27;5;9~", {0x9400}});
  ExpectKeys(cases);
}

TEST(KeyDecoder, EscapeBeforeWhatCannotTakeAltIsTheEscKey) {
  ExpectKeys({
      {"Esc twice quickly stays two Escs", "\x1b\x1b", {27, 27}},
      {"Esc typed ahead before Enter", "\x1b\r", {27, 13}},
      {"Esc before Backspace", "\x1b\x7f", {27, 8}},
      {"Esc before a blank", "\x1b ", {27, ' '}},
      {"Esc before an accented letter", "\x1b\xc3\xa9", {27, 0x82}},
      {"Esc then Alt+a",
       "\x1b\x1b"
       "a",
       {27, 0x1E00}},
      {"ESC [ alone is Alt+[", "\x1b[", {0x1A00}},
      {"ESC O alone is Alt+O", "\x1bO", {0x1800}},
      {"Alt+[ before a control character", "\x1b[\r", {0x1A00, 13}},
  });
}

TEST(KeyDecoder, SequencesWithoutUseAreSwallowedWhole) {
  ExpectKeys({
      {"device attributes reply", "\x1b[?1;2cx", {'x'}},
      {"focus in", "\x1b[I", {}},
      {"unknown tilde key", "\x1b[99~y", {'y'}},
      {"cursor position reply with intermediate", "\x1b[1 qz", {'z'}},
      {"stray paste end", "\x1b[201~a", {'a'}},
      {"unknown SS3 final", "\x1bOzq", {'q'}},
  });
}

TEST(KeyDecoder, ApplicationKeypadTypesItsCharacters) {
  ExpectKeys({
      {"keypad 0", "\x1bOp", {'0'}},
      {"keypad 9", "\x1bOy", {'9'}},
      {"keypad Enter", "\x1bOM", {13}},
      {"keypad plus", "\x1bOk", {'+'}},
      {"keypad minus", "\x1bOm", {'-'}},
      {"keypad point", "\x1bOn", {'.'}},
  });
}

TEST(KeyDecoder, AltWithApplicationKeypadDigitsIsCodeEntry) {
  std::vector<ConsoleEvent> events = DecodeAll("\x1b\x1bOq\x1b\x1bOu\x1b\x1bOx");
  ASSERT_EQ(events.size(), 3u) << Describe(events);
  EXPECT_EQ(events[0].altKeypadDigit, 1) << Describe(events);
  EXPECT_EQ(events[0].key, 0x4F00) << Describe(events);  // the keypad's End
  EXPECT_EQ(events[1].altKeypadDigit, 5) << Describe(events);
  EXPECT_EQ(events[2].altKeypadDigit, 8) << Describe(events);
  EXPECT_EQ(events[2].key, 0x4800) << Describe(events);
}

TEST(KeyDecoder, MouseReportsGiveButtonPresses) {
  struct MouseCase {
    const char* what;
    std::string bytes;
    std::string expected;
  };
  const MouseCase cases[] = {
      {"SGR left press", "\x1b[<0;10;5M", "[mouse 1 at 10,5]"},
      {"SGR left release", "\x1b[<0;10;5m", "[]"},
      {"SGR right press", "\x1b[<2;80;25M", "[mouse 2 at 80,25]"},
      {"SGR middle press", "\x1b[<1;3;4M", "[mouse 4 at 3,4]"},
      {"SGR left press with Ctrl", "\x1b[<16;7;8M", "[mouse 1 at 7,8]"},
      {"SGR wheel", "\x1b[<64;1;1M", "[]"},
      {"SGR motion", "\x1b[<32;1;1M", "[]"},
      {"SGR far column", "\x1b[<0;300;2M", "[mouse 1 at 300,2]"},
      {"X10 left press", std::string("\x1b[M") + char(32) + char(32 + 10) + char(32 + 5),
       "[mouse 1 at 10,5]"},
      {"X10 release", std::string("\x1b[M") + char(32 + 3) + char(32 + 10) + char(32 + 5), "[]"},
      {"press then a key", "\x1b[<0;2;3Mq", "[mouse 1 at 2,3, 'q']"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(Describe(DecodeAll(c.bytes)), c.expected) << c.what << ": \"" << Printable(c.bytes) << "\"";
}

TEST(KeyDecoder, BracketedPasteArrivesAsTypedText) {
  ExpectKeys({
      {"text with CR LF as one Enter", "\x1b[200~ab\r\ncd\x1b[201~", {'a', 'b', 13, 'c', 'd'}},
      {"LF alone is Enter", "\x1b[200~x\ny\x1b[201~", {'x', 13, 'y'}},
      {"empty lines keep their Enters", "\x1b[200~x\r\n\r\ny\x1b[201~", {'x', 13, 13, 'y'}},
      {"accents converted", "\x1b[200~caf\xc3\xa9\x1b[201~", {'c', 'a', 'f', 0x82}},
      {"tab kept", "\x1b[200~a\tb\x1b[201~", {'a', 9, 'b'}},
      {"control codes and escapes are not keys",
       "\x1b[200~a\x03\x1b\x1b"
       "b\x1b[201~",
       {'a', 'b'}},
      {"sequences inside are text", "\x1b[200~\x1b[A\x1b[201~", {'[', 'A'}},
      {"keys again after the paste", "\x1b[200~z\x1b[201~\x1b[A\x1b", {'z', 0x4800, 27}},
  });
}

// ---- Time: the Escape timeout ------------------------------------------------------

// One decoder fed at given times: each feed or tick returns everything
// decoded so far, described.
class KeyDecoderTiming : public ::testing::Test {
 protected:
  KeyDecoder decoder;
  std::vector<ConsoleEvent> events;

  std::string Feed(const std::string& bytes, int nowMs) {
    KeyDecoderFeed(decoder, bytes, nowMs, events);
    return Describe(events);
  }
  std::string Tick(int nowMs) {
    KeyDecoderTick(decoder, nowMs, events);
    return Describe(events);
  }
};

TEST_F(KeyDecoderTiming, LoneEscapeWaitsForTheTimeoutThenIsEsc) {
  EXPECT_EQ(Feed("\x1b", 1000), "[]");
  EXPECT_EQ(KeyDecoderWaitMs(decoder, 1000), 50);
  EXPECT_EQ(KeyDecoderWaitMs(decoder, 1030), 20);
  EXPECT_EQ(Tick(1049), "[]") << "before the timeout";
  EXPECT_EQ(Tick(1050), "[Esc]");
  EXPECT_EQ(KeyDecoderWaitMs(decoder, 1050), -1) << "nothing pending";
}

TEST_F(KeyDecoderTiming, LetterWithinTheTimeoutIsAltLetter) {
  Feed("\x1b", 0);
  EXPECT_EQ(Feed("x", 30), "[Alt+X]");
}

TEST_F(KeyDecoderTiming, LetterAfterTheTimeoutIsEscThenTheLetter) {
  Feed("\x1b", 0);
  EXPECT_EQ(Feed("x", 80), "[Esc, 'x']");  // no tick in between: the feed settles the Esc first
}

TEST_F(KeyDecoderTiming, SequenceSplitAcrossReadsIsOneKey) {
  Feed("\x1b", 0);
  Feed("[", 10);
  EXPECT_EQ(Feed("1;5", 20), "[]");
  // A sequence well on its way waits longer than a lone ESC.
  Tick(200);
  EXPECT_EQ(Feed("D", 200), "[Ctrl+Left]");
}

TEST_F(KeyDecoderTiming, BrokenSequenceIsDroppedAfterItsTimeout) {
  Feed("\x1b[1;5", 0);
  Tick(600);
  EXPECT_EQ(Feed("a", 600), "['a']");
}

TEST_F(KeyDecoderTiming, CharacterSplitAcrossReadsIsOneCharacter) {
  Feed("\xc3", 0);
  EXPECT_EQ(Feed("\xa9", 5), "['\xc3\xa9']");
}

TEST_F(KeyDecoderTiming, PasteSplitAcrossReadsKeepsGoingUntilItsEnd) {
  Feed("\x1b[200~ab\r", 0);
  Feed("\nc\x1b[20", 1);
  EXPECT_EQ(Feed("1~\x1b[B", 2), "['a', 'b', Enter, 'c', Down]");
  EXPECT_FALSE(decoder.inPaste);
}

TEST_F(KeyDecoderTiming, ResetForgetsPendingInputAndPaste) {
  Feed("\x1b[200~abc\x1b", 0);
  events.clear();
  KeyDecoderReset(decoder);
  Tick(5000);
  EXPECT_EQ(Feed("\x1b[A", 5000), "[Up]");
}

TEST_F(KeyDecoderTiming, EscapeTimeoutIsConfigurable) {
  decoder.escapeTimeoutMs = 200;
  Feed("\x1b", 0);
  EXPECT_EQ(Feed("c", 150), "[Alt+C]");
}

// ---- Sequences from the terminal's description -------------------------------------

using KeyDecoderSequences = KeyDecoderTiming;

TEST_F(KeyDecoderSequences, LearntSequenceIsMatchedFirst) {
  KeyDecoderAddSequence(decoder, "\x1b[11;2~", 0x5400);  // a terminal's own Shift+F1
  KeyDecoderAddSequence(decoder, "\x1b]q", 0x4400);      // not in the grammar at all
  KeyDecoderAddSequence(decoder, "z", 0x3B00);           // not a sequence: ignored
  KeyDecoderAddSequence(decoder, "\x1b]q", 0x3B00);      // already known: first key kept
  Feed("\x1b[11;2~\x1b]qz\x1b\x1b]q", 0);
  EXPECT_EQ(Tick(1000), "[Shift+F1, F10, 'z', Alt+F10]");
}

TEST_F(KeyDecoderSequences, PrefixOfALearntSequenceWaits) {
  KeyDecoderAddSequence(decoder, "\x1b]q", 0x4400);
  EXPECT_EQ(Feed("\x1b]", 0), "[]");
  EXPECT_EQ(Feed("q", 10), "[F10]");
}

// ---- Code tables -----------------------------------------------------------------------

TEST(KeyCodes, ModifiedFunctionKeys) {
  for (int n = 0; n < 10; ++n) {
    int f = 0x3B00 + n * 0x100;
    EXPECT_EQ(ModifiedKeyCode(f, true, false, false), 0x5400 + n * 0x100) << KeyName(f);
    EXPECT_EQ(ModifiedKeyCode(f, false, false, true), 0x5E00 + n * 0x100) << KeyName(f);
    EXPECT_EQ(ModifiedKeyCode(f, false, true, false), 0x6800 + n * 0x100) << KeyName(f);
  }
  EXPECT_EQ(ModifiedKeyCode(0x8500, true, false, false), 0x8700);
  EXPECT_EQ(ModifiedKeyCode(0x8600, false, false, true), 0x8A00);
  EXPECT_EQ(ModifiedKeyCode(0x8600, false, true, false), 0x8C00);
  EXPECT_EQ(ModifiedKeyCode(0x3F00, true, true, true), 0x6C00) << "Alt wins over Ctrl and Shift";
  EXPECT_EQ(ModifiedKeyCode(0x3F00, true, false, true), 0x6200) << "Ctrl wins over Shift";
  EXPECT_EQ(ModifiedKeyCode(9, true, false, false), 0x0F00);
}

TEST(KeyCodes, AltCharacters) {
  EXPECT_EQ(AltCharacterCode('f'), 0x2100);
  EXPECT_EQ(AltCharacterCode('X'), 0x2D00);
  EXPECT_EQ(AltCharacterCode('c'), 0x2E00);
  EXPECT_EQ(AltCharacterCode('e'), 0x1200);
  EXPECT_EQ(AltCharacterCode('0'), 0x8100);
  EXPECT_EQ(AltCharacterCode('!'), 0);
}

TEST(KeyCodes, NamesForMessages) {
  EXPECT_EQ(KeyName(0x7300), "Ctrl+Left");
  EXPECT_EQ(KeyName(0x6C00), "Alt+F5");
  EXPECT_EQ(KeyName(0x5800), "Shift+F5");
  EXPECT_EQ(KeyName(0x4800), "Up");
  EXPECT_EQ(KeyName(0x1E00), "Alt+A");
  EXPECT_EQ(KeyName(13), "Enter");
  EXPECT_EQ(KeyName(3), "Ctrl+C");
  EXPECT_EQ(KeyName('a'), "'a'");
  EXPECT_EQ(KeyName(0x82), "'\xc3\xa9'");
  EXPECT_EQ(KeyName(0x1234), "0x1234");
}

}  // namespace
