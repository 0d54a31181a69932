// The console's cell buffer: writes, read-back, scrolling and damage.
#include "platform/console.h"

#include <gtest/gtest.h>

TEST(ConsoleBuffer, WrittenCellsReadBackWithTheirAttribute) {
  ConsoleStartVirtual();
  ConsoleSetCursor(3, 79);
  ConsoleSetAttribute(0x1F);
  ConsoleWrite("ABC");  // wraps after column 80
  EXPECT_EQ(ConsoleGetCell(3, 79), (ConsoleCell{'A', 0x1F}));
  EXPECT_EQ(ConsoleGetCell(3, 80), (ConsoleCell{'B', 0x1F}));
  EXPECT_EQ(ConsoleGetCell(4, 1), (ConsoleCell{'C', 0x1F}));
  EXPECT_EQ(ConsoleGetCell(0, 1), ConsoleCell{});  // outside: a blank
  ConsolePutCell(26, 1, ConsoleCell{'X', 0x70});   // ignored
  EXPECT_EQ(VirtualRowText(4, 1, 2), "C ");
}

TEST(ConsoleBuffer, OnlyChangedCellsAreDamaged) {
  ConsoleStartVirtual();
  ConsoleFlush();
  EXPECT_FALSE(Console.anyDamage);
  ConsolePutCell(1, 1, ConsoleCell{});  // same as what is there
  EXPECT_FALSE(Console.anyDamage);
  ConsolePutCell(1, 1, ConsoleCell{'Z', 0x07});
  EXPECT_TRUE(Console.anyDamage);
  EXPECT_EQ(Console.damaged[0], 1);
  EXPECT_EQ(Console.damaged[1], 0);
}

TEST(ConsoleBuffer, ScrollMovesTheRectangleAndBlanksTheFreedRows) {
  ConsoleStartVirtual();
  for (int r = 1; r <= 5; ++r) ConsolePutCell(r, 2, ConsoleCell{static_cast<unsigned char>('0' + r), 7});
  ConsoleScroll(2, 2, 4, 2, 1, 0x17);
  EXPECT_EQ(ConsoleGetCell(1, 2).ch, '1');
  EXPECT_EQ(ConsoleGetCell(2, 2).ch, '3');
  EXPECT_EQ(ConsoleGetCell(3, 2).ch, '4');
  EXPECT_EQ(ConsoleGetCell(4, 2), (ConsoleCell{' ', 0x17}));
  EXPECT_EQ(ConsoleGetCell(5, 2).ch, '5');
  ConsoleScroll(2, 2, 4, 2, -2, 0x07);
  EXPECT_EQ(ConsoleGetCell(2, 2).ch, ' ');
  EXPECT_EQ(ConsoleGetCell(4, 2).ch, '3');
}

TEST(ConsoleBuffer, ScriptedEventsComeInOrderThenEscapeIsCounted) {
  ConsoleStartVirtual();
  VirtualPushText("a");
  VirtualPushMouse(10, 5);
  ConsoleEvent e;
  ASSERT_TRUE(ConsolePollEvent(e, -1));
  EXPECT_EQ(e.key, 'a');
  ASSERT_TRUE(ConsolePollEvent(e, 0));
  EXPECT_EQ(e.kind, ConsoleEvent::MOUSE);
  EXPECT_EQ(e.column, 10);
  EXPECT_FALSE(ConsolePollEvent(e, 0));
  ASSERT_TRUE(ConsolePollEvent(e, -1));
  EXPECT_EQ(e.key, 27);
  EXPECT_EQ(Console.starved, 1);
}
