// key_image_test.cpp - CurrentKeyImage: the current key value rewritten so
// that plain byte comparison follows the key's order (binary segments
// reversed, alternate-collating segments translated).
#include "data_test_support.h"

namespace {

using datatest::CreateBuffer;
using datatest::DataTest;
using datatest::Segment;

constexpr int16_t kCodes = 31;

// A collating sequence that folds lower-case letters onto upper-case.
std::string UpperCaseTable() {
  std::string table(256, '\0');
  for (int c = 0; c < 256; ++c)
    table[static_cast<size_t>(c)] = static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c);
  return table;
}

class KeyImageTest : public DataTest {
 protected:
  unsigned char record[12] = {};

  void SetUp() override {
    DataTest::SetUp();
    // Key 0: 3 bytes under the collating sequence + a 2-byte binary number;
    // key 1: a binary number alone; key 2: a plain string.  The collating
    // table follows the key descriptions of all three keys.
    std::string spec = CreateBuffer(12,
                                    {{Segment{1, 3, KF_ALT_COLLATING}, Segment{4, 2, KF_BINARY}},
                                     {Segment{6, 2, KF_BINARY | KF_DUPLICATES}},
                                     {Segment{8, 3, KF_DUPLICATES}}},
                                    UpperCaseTable());
    OpenWith("Codes", spec, record, kCodes, sizeof record);
    ASSERT_EQ(Insert(kCodes, std::string("abc\x01\x02\x01\x02xyz!", 11)), 0);
    ASSERT_EQ(Insert(kCodes, std::string("abd\x00\x01\xFF\x00xyz!", 11)), 0);
  }
  DataFileSlot& Slot() { return DataFiles.slots[FindSlot(kCodes)]; }
};

TEST_F(KeyImageTest, ABinarySegmentIsReversed) {
  int16_t status = -1;
  FindRecord(status, 0, std::string("\x01\x02", 2), 1, kCodes);
  ASSERT_EQ(status, 0);
  EXPECT_EQ(CurrentKeyImage(kCodes), std::string("\x02\x01", 2));
}

TEST_F(KeyImageTest, ACollatingSegmentIsTranslatedAndTheBinaryOneAfterItReversed) {
  int16_t status = -1;
  FindRecord(status, 0, std::string("abc\x01\x02", 5), 0, kCodes);
  ASSERT_EQ(status, 0);
  EXPECT_EQ(CurrentKeyImage(kCodes), std::string("ABC\x02\x01", 5));
}

TEST_F(KeyImageTest, ImagesCompareInTheKeysOwnOrder) {
  int16_t status = -1;
  FindRecord(status, 1, std::string("\x00\x00", 2), 1, kCodes);
  ASSERT_EQ(status, 0);
  std::string first = CurrentKeyImage(kCodes);  // 0x00FF = 255, stored FF 00
  SkipRecords(status, 1, kCodes);
  ASSERT_EQ(status, 0);
  std::string second = CurrentKeyImage(kCodes);  // 0x0201 = 513, stored 01 02
  // Stored low byte first, 255 would compare above 513; the images do not.
  EXPECT_LT(first, second);
  EXPECT_EQ(first, std::string("\x00\xFF", 2));
  EXPECT_EQ(second, std::string("\x02\x01", 2));
}

TEST_F(KeyImageTest, AShortKeyValueIsPaddedBeforeReversing) {
  int16_t status = -1;
  FindRecord(status, 0, std::string("\x01\x02", 2), 1, kCodes);
  Slot().keyValue = std::string("\x07", 1);
  EXPECT_EQ(CurrentKeyImage(kCodes), std::string("\x00\x07", 2));
}

}  // namespace
