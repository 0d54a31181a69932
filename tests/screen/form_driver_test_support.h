// form_driver_test_support.h - a small form built in a temporary suite
// root, on the virtual console, for the tests of the form screen driver and
// of what the settlement installs in it.
#pragma once
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <initializer_list>
#include <map>
#include <string>

#include "input/dates.h"
#include "input/keys.h"
#include "platform/console.h"
#include "platform/platform.h"
#include "screen/form.h"
#include "screen/form_driver.h"
#include "screen/windows.h"
#include "session/session.h"
#include "tests/screen/screen_test_support.h"

// Enter, Esc, Up, Down, PgUp, PgDn, code 2 (Ctrl+B), F2 and F4 end an edit
// (End is the editor's own: it moves to the end of the text).
const std::string kScreenKeys = "d,1b,4800,5000,4900,5100,2,3c00,3e00";
constexpr KeyCode kKeyCode2 = 2;  // accepts the screen from any field

class FormDriverTest : public ScreenTest {
 protected:
  void SetUp() override {
    ScreenTest::SetUp();
    Platform.clock = [] { return LocalTime{2024, 5, 2}; };
    Session.title = " PROVA ";
    Session.date = PackDigits("20230407");
    // The driver on its own: every screen passes its exit check.
    ScreenExitCheck = [](int16_t&, KeyCode&) -> int16_t { return 0; };
    CreateFormTables(3, 6);
  }

  void TearDown() override {
    ScreenExitCheck = nullptr;
    FormLookups = FormLookupHooks{};
    ScreenTest::TearDown();
  }

  static void DefineScreen(int screen, int fields, int next = 0, int top = 0, int left = 0, int bottom = 0,
                           int right = 0) {
    FormScreen& s = Screen(screen);
    s.ScreenKeys = kScreenKeys;
    s.FieldCount = static_cast<int16_t>(fields);
    s.NextScreen = static_cast<int16_t>(next);
    s.WindowBox[1] = static_cast<int16_t>(top);
    s.WindowBox[2] = static_cast<int16_t>(left);
    s.WindowBox[3] = static_cast<int16_t>(bottom);
    s.WindowBox[4] = static_cast<int16_t>(right);
  }

  static FormField& DefineField(int screen, int field, int row, int column, const std::string& label,
                                int width, const std::string& value = "", int flags = 0,
                                int type = kFieldText) {
    FormField& f = Field(screen, field);
    f.Row = static_cast<int16_t>(row);
    f.Column = static_cast<int16_t>(column);
    f.Label = label;
    f.Width = static_cast<int16_t>(width);
    f.Flags = static_cast<int16_t>(flags);
    f.Type = static_cast<int16_t>(type);
    f.Value = FitToWidth(value, width);
    return f;
  }

  // Screen 1: four text fields, the third display-only, no window.
  static void StandardScreen(int next = 0) {
    DefineScreen(1, 4, next);
    DefineField(1, 1, 3, 2, "Primer: ", 6, "AAA");
    DefineField(1, 2, 4, 2, "Segon: ", 6, "BBB");
    DefineField(1, 3, 5, 2, "Info: ", 6, "III", kFlagDisplayOnly);
    DefineField(1, 4, 6, 2, "Quart: ", 6, "DDD");
  }

  // Screen 2: the continuation, two text fields in a window.
  static void ContinuationScreen() {
    DefineScreen(2, 2, 0, 10, 10, 14, 60);
    DefineField(2, 1, 1, 2, "Cont1: ", 6, "CCC");
    DefineField(2, 2, 2, 2, "Cont2: ", 6, "EEE");
  }

  static KeyCode Run(int screen, KeyCode key = 0) {
    int16_t number = static_cast<int16_t>(screen), up = 0, down = 0;
    RunFormScreen(number, up, down, key);
    return key;
  }

  static std::string Value(int screen, int field) { return Field(screen, field).Value; }

  // What the clerk types, in order: a key by its code, or text, one key a byte.
  struct Typed {
    KeyCode key = 0;
    std::string text;
    Typed(KeyCode k) : key(k) {}       // NOLINT(google-explicit-constructor): a list of keys and texts
    Typed(const char* t) : text(t) {}  // NOLINT(google-explicit-constructor)
  };
  static void Type(std::initializer_list<Typed> typed) {
    for (const Typed& t : typed) {
      if (t.text.empty()) VirtualPushKey(t.key);
      else VirtualPushText(t.text);
    }
  }
};
