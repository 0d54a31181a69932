// Bad input to every operation: garbage position blocks, key numbers that do
// not exist, wrong lengths, corrupt create buffers, unknown operations.  Each
// gives a status, never a crash, and the file stays sound.
#include <gtest/gtest.h>

#include <random>

#include "recman/check.h"
#include "tests/recman/recman_test_util.h"

using namespace rt;

namespace {

SpecBuilder Spec() {
  SpecBuilder s;
  s.recordLength = 40;
  s.keys = {{{1, 4, KF_BINARY}}, {{5, 8, KF_DUPLICATES | KF_MODIFIABLE}}};
  return s;
}

std::string Rec(uint32_t id) { return IdRecord(40, id, 'b'); }

const uint16_t kFileOps[] = {B_CLOSE,      B_INSERT,       B_UPDATE,       B_DELETE,    B_GET_EQUAL,
                             B_GET_NEXT,   B_GET_PREVIOUS, B_GET_GREATER,  B_GET_GE,    B_GET_LESS,
                             B_GET_LE,     B_GET_FIRST,    B_GET_LAST,     B_STAT,      B_GET_POSITION,
                             B_GET_DIRECT, B_STEP_NEXT,    B_UNLOCK,       B_SET_OWNER, B_CLEAR_OWNER,
                             B_STEP_FIRST, B_STEP_LAST,    B_STEP_PREVIOUS};

class BadInputTest : public OpenFileTest {
 protected:
  void SetUp() override { CreateWith("B.dat", Spec(), {Rec(1), Rec(2), Rec(3), Rec(4), Rec(5)}); }
  void TearDown() override {
    std::string report;
    EXPECT_EQ(RecmanCheckFile(path, "", report), B_OK) << report;
    OpenFileTest::TearDown();
  }
};

TEST_F(BadInputTest, GarbagePositionBlocksAnswerFileNotOpen) {
  std::mt19937 rng(7);
  for (int round = 0; round < 50; ++round) {
    Block junk;
    for (auto& b : junk.bytes) b = static_cast<uint8_t>(rng());
    if (round == 0) junk = Block{};                        // all zero
    if (round == 1) std::memcpy(junk.bytes, pb.bytes, 8);  // right magic, wrong rest
    for (uint16_t op : kFileOps) {
      std::string data(64, 'd');
      uint32_t len = 64;
      char key[256] = {};
      EXPECT_EQ(BTRCALL(op, junk.get(), data.data(), &len, key, 255, 0), B_FILE_NOT_OPEN) << "op " << op;
    }
  }
  EXPECT_EQ(BTRCALL(B_GET_FIRST, nullptr, nullptr, nullptr, nullptr, 0, 0), B_FILE_NOT_OPEN);
  // A closed handle's block stays dead even when the slot is reused.
  Block old;
  ASSERT_EQ(Open(old, path), B_OK);
  Block copy = old;
  ASSERT_EQ(Close(old), B_OK);
  Block fresh;
  ASSERT_EQ(Open(fresh, path), B_OK);
  EXPECT_EQ(Get(copy, B_GET_FIRST, 0).status, B_FILE_NOT_OPEN);
  EXPECT_EQ(Get(fresh, B_GET_FIRST, 0).status, B_OK);
}

TEST_F(BadInputTest, KeyNumbersThatDoNotExist) {
  for (int8_t kn : {2, 3, 118, 127, -5, -128}) {
    EXPECT_EQ(Get(pb, B_GET_FIRST, kn).status, B_INVALID_KEY_NUMBER) << int{kn};
    EXPECT_EQ(Get(pb, B_GET_EQUAL, kn, "x").status, B_INVALID_KEY_NUMBER);
    EXPECT_EQ(GetDirect(pb, 1, kn).status, B_INVALID_KEY_NUMBER);
    EXPECT_EQ(Insert(pb, Rec(100), kn), B_INVALID_KEY_NUMBER);
  }
  EXPECT_EQ(GetStat(pb).records(), 5u);
}

TEST_F(BadInputTest, DataLengthsThatDoNotMatchTheRecord) {
  std::string longer = Rec(50) + "extra";
  EXPECT_EQ(Insert(pb, longer), B_RECORD_LENGTH_ERROR);
  EXPECT_EQ(Insert(pb, Rec(51).substr(0, 39)), B_RECORD_LENGTH_ERROR);
  uint32_t len = 40;
  char key[256];
  EXPECT_EQ(BTRCALL(B_INSERT, pb.get(), nullptr, &len, key, 255, 0), B_RECORD_LENGTH_ERROR);
  EXPECT_EQ(BTRCALL(B_INSERT, pb.get(), key, nullptr, key, 255, 0), B_RECORD_LENGTH_ERROR);
  ASSERT_EQ(Get(pb, B_GET_FIRST, 0).status, B_OK);
  EXPECT_EQ(Update(pb, longer), B_RECORD_LENGTH_ERROR);
  // A zero-length data buffer on a read gets status 22 and nothing written.
  EXPECT_EQ(Get(pb, B_GET_FIRST, 0, "", 0).status, B_DATA_BUFFER_TOO_SHORT);
  EXPECT_EQ(GetStat(pb).records(), 5u);
}

TEST_F(BadInputTest, UpdateWithoutCurrentRecordAndUnknownOperations) {
  Block other;
  ASSERT_EQ(Open(other, path), B_OK);
  EXPECT_EQ(Update(other, Rec(1)), B_INVALID_POSITIONING);
  EXPECT_EQ(Delete(other), B_INVALID_POSITIONING);
  EXPECT_EQ(Position(other), 0u);
  for (uint16_t op : {16, 17, 18, 25, 26, 31, 32, 36, 49, 54, 64, 99, 500, 65535}) {
    uint32_t len = 0;
    EXPECT_EQ(BTRCALL(op, pb.get(), nullptr, &len, nullptr, 0, 0), B_INVALID_OPERATION) << op;
  }
  EXPECT_EQ(GetDirect(pb, 0, 0).status, B_INVALID_RECORD_ADDRESS);
  uint32_t shortLen = 2;
  char small[2] = {1, 0};
  EXPECT_EQ(BTRCALL(B_GET_DIRECT, pb.get(), small, &shortLen, nullptr, 0, 0), B_DATA_BUFFER_TOO_SHORT);
}

TEST_F(BadInputTest, SpecificCreateBufferFaults) {
  auto status = [&](SpecBuilder s) { return Create(dir.File("C.dat"), s.Build(), 0); };
  SpecBuilder s = Spec();
  s.keys[0][0].position = 38;  // runs past the 40-byte record
  EXPECT_EQ(status(s), B_INVALID_KEY_POSITION);
  s = Spec();
  s.keys[0][0].position = 0;
  EXPECT_EQ(status(s), B_INVALID_KEY_POSITION);
  s = Spec();
  s.keys[0][0].length = 0;
  EXPECT_EQ(status(s), B_KEY_LENGTH_ERROR);
  s = Spec();
  s.pageSize = 100;
  EXPECT_EQ(status(s), B_PAGE_SIZE_ERROR);
  s = Spec();
  s.recordLength = 0;
  EXPECT_EQ(status(s), B_RECORD_LENGTH_ERROR);
  s = Spec();
  s.keys[1][0].flags |= KF_ALT_COLLATING;  // no table follows
  EXPECT_EQ(status(s), B_INVALID_ACS);
  s = Spec();
  s.keys[0][0] = {1, 4, KF_EXTENDED_TYPE, 99};
  EXPECT_EQ(status(s), B_KEY_TYPE_ERROR);
  s = Spec();
  s.keys[0][0] = {1, 12, KF_EXTENDED_TYPE, KT_INTEGER};
  EXPECT_EQ(status(s), B_KEY_LENGTH_ERROR);
  s = Spec();
  s.keys[1] = {{5, 2, KF_DUPLICATES}, {7, 2, 0}};  // segments disagree on duplicates
  EXPECT_EQ(status(s), B_INCONSISTENT_KEY_FLAGS);
  s = Spec();
  s.keys.assign(120, {{1, 4, KF_DUPLICATES}});
  EXPECT_EQ(status(s), B_INVALID_KEY_COUNT);
  std::string tiny = "abc";
  uint32_t len = 3;
  Block scratch;
  std::string name = dir.File("C.dat");
  EXPECT_EQ(
      BTRCALL(B_CREATE, scratch.get(), tiny.data(), &len, name.data(), static_cast<uint8_t>(name.size()), 0),
      B_DATA_BUFFER_TOO_SHORT);
  // The version byte must be zero: the count is 16 bits.
  std::string spec = Spec().Build();
  spec[5] = 1;
  EXPECT_EQ(Create(dir.File("C.dat"), spec, 0), B_INVALID_KEY_COUNT);
  Block nothing;
  EXPECT_EQ(Open(nothing, dir.File("C.dat")), B_FILE_NOT_FOUND);
}

TEST_F(BadInputTest, RandomCreateBuffersNeverCrashAndCreatedFilesWork) {
  std::mt19937 rng(99);
  std::string base = Spec().Build();
  int created = 0;
  for (int round = 0; round < 300; ++round) {
    std::string spec = base;
    int flips = 1 + static_cast<int>(rng() % 6);
    for (int i = 0; i < flips; ++i) spec[rng() % spec.size()] = static_cast<char>(rng());
    if (rng() % 4 == 0) spec.resize(rng() % spec.size());
    std::string name = dir.File("F" + std::to_string(round % 5) + ".dat");
    int16_t st = Create(name, spec, 0);
    if (st != B_OK) continue;
    ++created;
    Block f;
    ASSERT_EQ(Open(f, name), B_OK);
    Stat info = GetStat(f);
    ASSERT_EQ(info.status, B_OK);
    std::string rec(info.recordLength(), 'r');
    for (int i = 0; i < 3; ++i) {
      rec[0] = static_cast<char>('a' + i);
      int16_t ins = Insert(f, rec, info.keyCount() > 0 ? 0 : -1);
      EXPECT_TRUE(ins == B_OK || ins == B_DUPLICATE_KEY) << ins;
    }
    for (int k = 0; k < info.keyCount(); ++k) Get(f, B_GET_FIRST, static_cast<int8_t>(k));
    ASSERT_EQ(Close(f), B_OK);
    std::string report;
    EXPECT_EQ(RecmanCheckFile(name, "", report), B_OK) << report;
  }
  EXPECT_GT(created, 0);
}

TEST_F(BadInputTest, OpenModesAndOwnerBuffers) {
  Block other;
  EXPECT_EQ(Open(other, path, -7), B_INVALID_OPERATION);
  uint32_t len = 0;
  EXPECT_EQ(BTRCALL(B_SET_OWNER, pb.get(), nullptr, &len, nullptr, 0, 0), B_INVALID_OWNER);
  char a[] = "ABC", b[] = "ABD";
  len = 4;
  EXPECT_EQ(BTRCALL(B_SET_OWNER, pb.get(), a, &len, b, 3, 0), B_INVALID_OWNER);
  EXPECT_EQ(BTRCALL(B_SET_OWNER, pb.get(), a, &len, a, 3, 9), B_INVALID_KEY_NUMBER);
  EXPECT_EQ(Open(other, path), B_OK);
}

}  // namespace

// A key buffer shorter than the key of the key number used: 21, and nothing
// is read into the buffer, written past it, nor written to the file.  Key 0
// is 4 bytes long and key 1 eight.
TEST_F(BadInputTest, AKeyBufferShorterThanTheKeyIsRefusedBeforeAnythingHappens) {
  struct Case {
    const char* what;
    uint16_t op;
    int8_t keyNumber;
    uint8_t keyLength;
  };
  const Case cases[] = {
      {"insert on key 0", B_INSERT, 0, 3},
      {"insert on key 1", B_INSERT, 1, 7},
      {"update on key 0", B_UPDATE, 0, 3},
      {"get equal", B_GET_EQUAL, 0, 3},
      {"get first", B_GET_FIRST, 1, 4},
      {"get greater or equal", B_GET_GE, 1, 1},
      {"get direct on key 0", B_GET_DIRECT, 0, 3},
      {"get direct on key 1", B_GET_DIRECT, 1, 7},
  };
  ASSERT_EQ(Get(pb, B_GET_EQUAL, 0, Rec(2).substr(0, 4)).status, B_OK);
  const uint32_t position = Position(pb);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::string data = Rec(90);
    data[20] = 'Z';
    if (c.op == B_GET_DIRECT) PutLe(data, 0, position, 4);
    uint32_t len = static_cast<uint32_t>(data.size());
    const std::string before = data;
    // The key buffer sits inside a larger one: bytes past the given length
    // must stay as they were.
    std::string key(32, '\x5A');
    key.replace(0, 8, Rec(2).substr(0, 8));
    const std::string keyBefore = key;
    EXPECT_EQ(BTRCALL(c.op, pb.get(), data.data(), &len, key.data(), c.keyLength, c.keyNumber),
              B_KEY_BUFFER_TOO_SHORT);
    EXPECT_EQ(key, keyBefore);
    if (c.op != B_INSERT && c.op != B_UPDATE) { EXPECT_EQ(data, before); }
  }
  // Nothing was written: the five records as they were, record 2 still
  // current for an update with a key buffer that holds the key.
  EXPECT_EQ(GetStat(pb).records(), 5u);
  EXPECT_EQ(Get(pb, B_GET_EQUAL, 0, Rec(90).substr(0, 4)).status, B_KEY_NOT_FOUND);
  EXPECT_EQ(Get(pb, B_GET_EQUAL, 0, Rec(2).substr(0, 4)).data, Rec(2));
}

// An update naming a key number the file does not have changes nothing.
TEST_F(BadInputTest, AnUpdateNamingAKeyTheFileLacksChangesNothing) {
  ASSERT_EQ(Get(pb, B_GET_EQUAL, 0, Rec(3).substr(0, 4)).status, B_OK);
  std::string changed = Rec(3);
  changed[30] = 'Q';
  for (int8_t keyNumber : {int8_t{2}, int8_t{5}, int8_t{-1}, int8_t{118}}) {
    SCOPED_TRACE(static_cast<int>(keyNumber));
    EXPECT_EQ(Update(pb, changed, keyNumber), B_INVALID_KEY_NUMBER);
  }
  EXPECT_EQ(Get(pb, B_GET_EQUAL, 0, Rec(3).substr(0, 4)).data, Rec(3));
  EXPECT_EQ(Update(pb, changed, 1), B_OK);
  EXPECT_EQ(Get(pb, B_GET_EQUAL, 0, Rec(3).substr(0, 4)).data, changed);
}
