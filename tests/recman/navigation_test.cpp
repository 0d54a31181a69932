// Get, step, position and direct operations: order along keys, duplicates,
// currency after equal/delete/direct, partial records.
#include <gtest/gtest.h>

#include "tests/recman/recman_test_util.h"

using namespace rt;

namespace {

// Record of 24 bytes: 0-3 unsigned id (key 0, unique), 4-9 text code with
// duplicates (key 1), 10-11 signed 16-bit (key 2 segment 1, descending) and
// 12-17 text (key 2 segment 2), 18-23 zero-terminated name (key 3, null key
// when all spaces).
SpecBuilder TestSpec() {
  SpecBuilder s;
  s.recordLength = 24;
  s.keys = {
      {{1, 4, KF_BINARY}},
      {{5, 6, KF_DUPLICATES | KF_MODIFIABLE}},
      {{11, 2, KF_EXTENDED_TYPE | KF_DESCENDING | KF_DUPLICATES | KF_MODIFIABLE, KT_INTEGER},
       {13, 6, KF_DUPLICATES | KF_MODIFIABLE}},
      {{19, 6, KF_EXTENDED_TYPE | KF_NULL | KF_DUPLICATES | KF_MODIFIABLE, KT_ZSTRING, ' '}},
  };
  return s;
}

std::string Rec(uint32_t id, const std::string& code, int16_t n = 0, const std::string& text = "",
                const std::string& name = "      ") {
  std::string r(24, ' ');
  PutLe(r, 0, id, 4);
  r.replace(4, 6, (code + "      ").substr(0, 6));
  PutLe(r, 10, static_cast<uint16_t>(n), 2);
  r.replace(12, 6, (text + "      ").substr(0, 6));
  std::string z = name;
  z.resize(6, '\0');
  r.replace(18, 6, z);
  return r;
}

uint32_t IdOf(const std::string& rec) {
  return static_cast<uint8_t>(rec[0]) | (static_cast<uint8_t>(rec[1]) << 8) |
         (static_cast<uint8_t>(rec[2]) << 16) | (static_cast<uint32_t>(static_cast<uint8_t>(rec[3])) << 24);
}

class NavigationTest : public OpenFileTest {
 protected:
  void SetUp() override { CreateWith("N.dat", TestSpec(), {}); }

  std::vector<uint32_t> Walk(int8_t key, bool backwards = false) {
    std::vector<uint32_t> ids;
    Result r = Get(pb, backwards ? B_GET_LAST : B_GET_FIRST, key);
    while (r.status == B_OK) {
      ids.push_back(IdOf(r.data));
      r = Get(pb, backwards ? B_GET_PREVIOUS : B_GET_NEXT, key);
    }
    EXPECT_EQ(r.status, B_END_OF_FILE);
    return ids;
  }
};

TEST_F(NavigationTest, UnsignedBinaryKeyOrdersNumerically) {
  for (uint32_t id : {300u, 2u, 70000u, 1u, 256u}) ASSERT_EQ(Insert(pb, Rec(id, "A")), B_OK);
  EXPECT_EQ(Walk(0), (std::vector<uint32_t>{1, 2, 256, 300, 70000}));
  EXPECT_EQ(Walk(0, true), (std::vector<uint32_t>{70000, 300, 256, 2, 1}));
}

TEST_F(NavigationTest, DuplicatesComeInInsertionOrderAndGetNextAfterEqualMovesOn) {
  ASSERT_EQ(Insert(pb, Rec(1, "BB")), B_OK);
  ASSERT_EQ(Insert(pb, Rec(2, "AA")), B_OK);
  ASSERT_EQ(Insert(pb, Rec(3, "BB")), B_OK);
  ASSERT_EQ(Insert(pb, Rec(4, "CC")), B_OK);
  ASSERT_EQ(Insert(pb, Rec(5, "BB")), B_OK);
  EXPECT_EQ(Walk(1), (std::vector<uint32_t>{2, 1, 3, 5, 4}));
  Result r = Get(pb, B_GET_EQUAL, 1, "BB    ");
  ASSERT_EQ(r.status, B_OK);
  EXPECT_EQ(IdOf(r.data), 1u);
  EXPECT_EQ(r.key.substr(0, 6), "BB    ");
  r = Get(pb, B_GET_NEXT, 1);
  EXPECT_EQ(IdOf(r.data), 3u);
  r = Get(pb, B_GET_NEXT, 1);
  EXPECT_EQ(IdOf(r.data), 5u);
  r = Get(pb, B_GET_NEXT, 1);
  EXPECT_EQ(IdOf(r.data), 4u);
  // An update that changes a duplicate key's value puts the record last among
  // its new duplicates.
  ASSERT_EQ(Get(pb, B_GET_EQUAL, 1, "AA    ").status, B_OK);
  ASSERT_EQ(Update(pb, Rec(2, "BB"), 1), B_OK);
  EXPECT_EQ(Walk(1), (std::vector<uint32_t>{1, 3, 5, 2, 4}));
}

TEST_F(NavigationTest, GreaterLessAndTheirEqualVariants) {
  for (uint32_t id : {10u, 20u, 30u}) ASSERT_EQ(Insert(pb, Rec(id, "A")), B_OK);
  EXPECT_EQ(IdOf(Get(pb, B_GET_GREATER, 0, IdKey(20)).data), 30u);
  EXPECT_EQ(IdOf(Get(pb, B_GET_GE, 0, IdKey(20)).data), 20u);
  EXPECT_EQ(IdOf(Get(pb, B_GET_GE, 0, IdKey(21)).data), 30u);
  EXPECT_EQ(IdOf(Get(pb, B_GET_LESS, 0, IdKey(20)).data), 10u);
  EXPECT_EQ(IdOf(Get(pb, B_GET_LE, 0, IdKey(20)).data), 20u);
  EXPECT_EQ(IdOf(Get(pb, B_GET_LE, 0, IdKey(19)).data), 10u);
  EXPECT_EQ(Get(pb, B_GET_GREATER, 0, IdKey(30)).status, B_END_OF_FILE);
  EXPECT_EQ(Get(pb, B_GET_LESS, 0, IdKey(10)).status, B_END_OF_FILE);
  EXPECT_EQ(Get(pb, B_GET_EQUAL, 0, IdKey(15)).status, B_KEY_NOT_FOUND);
}

TEST_F(NavigationTest, SegmentedKeyWithDescendingSignedSegment) {
  ASSERT_EQ(Insert(pb, Rec(1, "A", -5, "b")), B_OK);
  ASSERT_EQ(Insert(pb, Rec(2, "A", 7, "a")), B_OK);
  ASSERT_EQ(Insert(pb, Rec(3, "A", -5, "a")), B_OK);
  ASSERT_EQ(Insert(pb, Rec(4, "A", 300, "z")), B_OK);
  // Descending on the integer, ascending on the text.
  EXPECT_EQ(Walk(2), (std::vector<uint32_t>{4, 2, 3, 1}));
}

TEST_F(NavigationTest, NullKeyLeavesRecordsOutOfThatIndex) {
  ASSERT_EQ(Insert(pb, Rec(1, "A", 0, "", "zed")), B_OK);
  ASSERT_EQ(Insert(pb, Rec(2, "A")), B_OK);
  ASSERT_EQ(Insert(pb, Rec(3, "A", 0, "", "abe")), B_OK);
  EXPECT_EQ(Walk(3), (std::vector<uint32_t>{3, 1}));
  EXPECT_EQ(Walk(0).size(), 3u);
}

TEST_F(NavigationTest, ZeroTerminatedStringsCompareUpToTheTerminator) {
  ASSERT_EQ(Insert(pb, Rec(1, "A", 0, "", "ab")), B_OK);
  std::string r = Rec(2, "A", 0, "", "a");
  r[20] = 'z';  // after the terminator: ignored
  ASSERT_EQ(Insert(pb, r), B_OK);
  ASSERT_EQ(Insert(pb, Rec(3, "A", 0, "", "abc")), B_OK);
  EXPECT_EQ(Walk(3), (std::vector<uint32_t>{2, 1, 3}));
}

TEST_F(NavigationTest, PositionIsStableAndGetDirectRestoresCurrencyOnTheGivenKey) {
  for (uint32_t id : {5u, 1u, 3u}) ASSERT_EQ(Insert(pb, Rec(id, id == 3 ? "C" : "B")), B_OK);
  ASSERT_EQ(Get(pb, B_GET_EQUAL, 0, IdKey(3)).status, B_OK);
  int16_t st;
  uint32_t pos = Position(pb, &st);
  ASSERT_EQ(st, B_OK);
  ASSERT_EQ(Get(pb, B_GET_FIRST, 0).status, B_OK);
  ASSERT_EQ(Update(pb, Rec(1, "Z")), B_OK);
  Result r = GetDirect(pb, pos, 1);
  ASSERT_EQ(r.status, B_OK);
  EXPECT_EQ(IdOf(r.data), 3u);
  EXPECT_EQ(r.key.substr(0, 6), "C     ");
  // Currency is on key 1 now: next along codes B, B(5), C(3), Z(1).
  r = Get(pb, B_GET_NEXT, 1);
  ASSERT_EQ(r.status, B_OK);
  EXPECT_EQ(IdOf(r.data), 1u);
  EXPECT_EQ(Get(pb, B_GET_NEXT, 0).status, B_DIFFERENT_KEY_NUMBER);
  EXPECT_EQ(GetDirect(pb, 999999, 0).status, B_INVALID_RECORD_ADDRESS);
}

TEST_F(NavigationTest, DeleteLeavesAGapThatNextAndStepNextLeave) {
  for (uint32_t id : {1u, 2u, 3u, 4u}) ASSERT_EQ(Insert(pb, Rec(id, "A")), B_OK);
  ASSERT_EQ(Get(pb, B_GET_EQUAL, 0, IdKey(2)).status, B_OK);
  ASSERT_EQ(Delete(pb), B_OK);
  EXPECT_EQ(Delete(pb), B_INVALID_POSITIONING);
  Result r = Get(pb, B_GET_NEXT, 0);
  EXPECT_EQ(IdOf(r.data), 3u);
  ASSERT_EQ(Delete(pb), B_OK);
  r = Get(pb, B_STEP_NEXT, 0);
  EXPECT_EQ(IdOf(r.data), 4u);
  ASSERT_EQ(Get(pb, B_GET_EQUAL, 0, IdKey(4)).status, B_OK);
  ASSERT_EQ(Delete(pb), B_OK);
  r = Get(pb, B_GET_PREVIOUS, 0);
  EXPECT_EQ(IdOf(r.data), 1u);
}

TEST_F(NavigationTest, StepsFollowPhysicalOrderFromTheStartAfterOpen) {
  for (uint32_t id : {9u, 4u, 7u}) ASSERT_EQ(Insert(pb, Rec(id, "A")), B_OK);
  Block other;
  ASSERT_EQ(Open(other, dir.File("N.dat")), B_OK);
  EXPECT_EQ(Get(other, B_GET_NEXT, 0).status, B_INVALID_POSITIONING);
  std::vector<uint32_t> ids;
  Result r = Get(other, B_STEP_NEXT, 0);
  while (r.status == B_OK) {
    ids.push_back(IdOf(r.data));
    r = Get(other, B_STEP_NEXT, 0);
  }
  EXPECT_EQ(r.status, B_END_OF_FILE);
  EXPECT_EQ(ids, (std::vector<uint32_t>{9, 4, 7}));
  EXPECT_EQ(IdOf(Get(other, B_STEP_LAST, 0).data), 7u);
  EXPECT_EQ(IdOf(Get(other, B_STEP_PREVIOUS, 0).data), 4u);
  EXPECT_EQ(IdOf(Get(other, B_STEP_FIRST, 0).data), 9u);
}

TEST_F(NavigationTest, ShortDataBufferGetsThePartThatFitsWithStatus22) {
  ASSERT_EQ(Insert(pb, Rec(77, "Q")), B_OK);
  Result r = Get(pb, B_GET_FIRST, 0, "", 10);
  EXPECT_EQ(r.status, B_DATA_BUFFER_TOO_SHORT);
  EXPECT_EQ(r.data.size(), 10u);
  EXPECT_EQ(IdOf(r.data), 77u);
  // The position is established all the same.
  EXPECT_EQ(Get(pb, B_GET_NEXT, 0).status, B_END_OF_FILE);
  EXPECT_EQ(Delete(pb), B_OK);
}

TEST_F(NavigationTest, KeyOnlyGetReturnsTheKeyAndLeavesTheDataBuffer) {
  ASSERT_EQ(Insert(pb, Rec(8, "K")), B_OK);
  Result r = Get(pb, static_cast<uint16_t>(B_GET_FIRST + int{B_KEY_ONLY}), 0);
  ASSERT_EQ(r.status, B_OK);
  EXPECT_EQ(r.key.substr(0, 4), IdKey(8));
  EXPECT_EQ(r.data.substr(0, 4), "    ");
}

TEST_F(NavigationTest, ReadAheadSeesChangesMadeByAnotherHandle) {
  for (uint32_t id = 1; id <= 40; ++id) ASSERT_EQ(Insert(pb, Rec(id, "A")), B_OK);
  Block other;
  ASSERT_EQ(Open(other, dir.File("N.dat")), B_OK);
  ASSERT_EQ(Get(pb, B_GET_FIRST, 0).status, B_OK);
  ASSERT_EQ(IdOf(Get(pb, B_GET_NEXT, 0).data), 2u);
  ASSERT_EQ(IdOf(Get(pb, B_GET_NEXT, 0).data), 3u);
  ASSERT_EQ(Get(other, B_GET_EQUAL, 0, IdKey(4)).status, B_OK);
  ASSERT_EQ(Delete(other), B_OK);
  ASSERT_EQ(Get(other, B_GET_EQUAL, 0, IdKey(5)).status, B_OK);
  ASSERT_EQ(Update(other, Rec(5, "CHANGE")), B_OK);
  Result r = Get(pb, B_GET_NEXT, 0);
  EXPECT_EQ(IdOf(r.data), 5u);
  EXPECT_EQ(r.data.substr(4, 6), "CHANGE");
}

// A walk that asks each record's position (as the settlement does to come
// back to the records later) gets every record once, in key order, with its
// own position, and still sees what another handle changes meanwhile.
TEST_F(NavigationTest, WalkAskingEachPositionGetsEveryRecordWithItsPosition) {
  for (uint32_t id = 1; id <= 300; ++id) ASSERT_EQ(Insert(pb, Rec(id, "A")), B_OK);
  Block other, check;
  ASSERT_EQ(Open(other, dir.File("N.dat")), B_OK);
  ASSERT_EQ(Open(check, dir.File("N.dat")), B_OK);
  std::vector<uint32_t> ids;
  Result r = Get(pb, B_GET_FIRST, 0);
  while (r.status == B_OK) {
    uint32_t id = IdOf(r.data);
    ids.push_back(id);
    int16_t st = 1;
    uint32_t pos = Position(pb, &st);
    ASSERT_EQ(st, B_OK);
    EXPECT_EQ(GetStat(pb).records(), id < 100 ? 300u : 299u);
    Result there = GetDirect(check, pos, 0);
    ASSERT_EQ(there.status, B_OK);
    EXPECT_EQ(IdOf(there.data), id);
    if (id == 99) {
      ASSERT_EQ(Get(other, B_GET_EQUAL, 0, IdKey(100)).status, B_OK);
      ASSERT_EQ(Delete(other), B_OK);
      ASSERT_EQ(Get(other, B_GET_EQUAL, 0, IdKey(101)).status, B_OK);
      ASSERT_EQ(Update(other, Rec(101, "B")), B_OK);
    }
    if (id == 101) { EXPECT_EQ(r.data.substr(4, 1), "B"); }
    r = Get(pb, B_GET_NEXT, 0);
  }
  EXPECT_EQ(r.status, B_END_OF_FILE);
  std::vector<uint32_t> expected;
  for (uint32_t id = 1; id <= 300; ++id)
    if (id != 100) expected.push_back(id);
  EXPECT_EQ(ids, expected);
}

TEST_F(NavigationTest, ReadsSeeWhatAnotherProcessCommittedSinceTheLastCall) {
  for (uint32_t id = 1; id <= 40; ++id) ASSERT_EQ(Insert(pb, Rec(id, "A")), B_OK);
  ASSERT_EQ(Get(pb, B_GET_FIRST, 0).status, B_OK);
  ASSERT_EQ(IdOf(Get(pb, B_GET_NEXT, 0).data), 2u);
  ASSERT_EQ(IdOf(Get(pb, B_GET_NEXT, 0).data), 3u);
  int other = InChild([&] {
    Block o;
    if (Open(o, dir.File("N.dat")) != B_OK) return 200;
    if (Get(o, B_GET_EQUAL, 0, IdKey(4)).status != B_OK || Delete(o) != B_OK) return 201;
    if (Get(o, B_GET_EQUAL, 0, IdKey(5)).status != B_OK || Update(o, Rec(5, "OTHER")) != B_OK) return 202;
    return Insert(o, Rec(1000, "NEW")) == B_OK ? 0 : 203;
  });
  ASSERT_EQ(other, 0);
  Result r = Get(pb, B_GET_NEXT, 0);
  EXPECT_EQ(IdOf(r.data), 5u);
  EXPECT_EQ(r.data.substr(4, 6), "OTHER ");
  EXPECT_EQ(GetStat(pb).records(), 40u);
  EXPECT_EQ(IdOf(Get(pb, B_GET_EQUAL, 0, IdKey(1000)).data), 1000u);
}

// Walks read their records in batches whose buffers serve again for the
// next batch: records of many lengths (a variable-length file) come back
// whole and only as long as they are, along a key and in physical order,
// also after updates inside a transaction made them longer or shorter.
class ReadAheadTest : public RecmanTest {};

TEST_F(ReadAheadTest, RecordsOfEveryLengthComeBackWholeThroughReusedBuffers) {
  SpecBuilder spec;
  spec.recordLength = 8;
  spec.fileFlags = kFileVariableLength;
  spec.keys = {{{1, 4, KF_BINARY}}};
  std::string path = dir.File("V.dat");
  ASSERT_EQ(Create(path, spec.Build()), B_OK);
  Block pb;
  ASSERT_EQ(Open(pb, path), B_OK);
  auto record = [](uint32_t id, size_t length) {
    std::string r(length, static_cast<char>('a' + id % 26));
    PutLe(r, 0, id, 4);
    return r;
  };
  std::vector<size_t> lengths(700);
  for (uint32_t id = 0; id < lengths.size(); ++id) {
    lengths[id] = 8 + (id * 37u) % 300;
    ASSERT_EQ(Insert(pb, record(id, lengths[id])), B_OK);
  }
  auto check = [&](const char* walk, bool byKey) {
    uint32_t seen = 0;
    Result r = byKey ? Get(pb, B_GET_FIRST, 0) : Get(pb, B_STEP_FIRST, 0);
    for (; r.status == B_OK; r = byKey ? Get(pb, B_GET_NEXT, 0) : Get(pb, B_STEP_NEXT, 0), ++seen) {
      uint32_t id = IdOf(r.data);
      ASSERT_LT(id, lengths.size()) << walk;
      EXPECT_EQ(r.data, record(id, lengths[id])) << walk << " record " << id;
    }
    EXPECT_EQ(r.status, B_END_OF_FILE) << walk;
    EXPECT_EQ(seen, lengths.size()) << walk;
  };
  check("along the key", true);
  check("in physical order", false);

  ASSERT_EQ(Simple(B_BEGIN_TRANS), B_OK);
  for (Result r = Get(pb, B_GET_FIRST, 0); r.status == B_OK; r = Get(pb, B_GET_NEXT, 0)) {
    uint32_t id = IdOf(r.data);
    if (id % 3 != 0) continue;
    lengths[id] = id % 2 ? 8 : 300 - lengths[id] % 200;
    ASSERT_EQ(Update(pb, record(id, lengths[id])), B_OK);
  }
  ASSERT_EQ(Simple(B_END_TRANS), B_OK);
  check("along the key after the updates", true);
  check("in physical order after the updates", false);

  // A transaction that reads every record, deletes some and reads the
  // others again by position: the rows the transaction keeps (and the
  // buffers they pass on to the deletes) stay each one's own.
  std::vector<std::pair<uint32_t, uint32_t>> kept, deleted;  // id, position
  ASSERT_EQ(Simple(B_BEGIN_TRANS), B_OK);
  for (Result r = Get(pb, B_GET_FIRST, 0); r.status == B_OK; r = Get(pb, B_GET_NEXT, 0)) {
    uint32_t id = IdOf(r.data);
    if (id % 5 == 1) {
      deleted.emplace_back(id, Position(pb));
      ASSERT_EQ(Delete(pb), B_OK);
      lengths[id] = 0;
    } else {
      kept.emplace_back(id, Position(pb));
    }
  }
  for (const auto& [id, pos] : kept) {
    Result r = GetDirect(pb, pos, 0);
    ASSERT_EQ(r.status, B_OK) << "record " << id;
    EXPECT_EQ(r.data, record(id, lengths[id])) << "record " << id << " read again";
    std::string key(4, '\0');
    PutLe(key, 0, id, 4);
    r = Get(pb, B_GET_EQUAL, 0, key);
    ASSERT_EQ(r.status, B_OK) << "record " << id;
    EXPECT_EQ(r.data, record(id, lengths[id])) << "record " << id << " read again by its key";
  }
  for (const auto& [id, pos] : deleted)
    EXPECT_EQ(GetDirect(pb, pos, 0).status, B_INVALID_RECORD_ADDRESS) << "deleted record " << id;
  ASSERT_EQ(Simple(B_END_TRANS), B_OK);
  uint32_t left = 0;
  for (Result r = Get(pb, B_GET_FIRST, 0); r.status == B_OK; r = Get(pb, B_GET_NEXT, 0), ++left) {
    uint32_t id = IdOf(r.data);
    ASSERT_LT(id, lengths.size());
    EXPECT_NE(lengths[id], 0u) << "record " << id << " was deleted";
    EXPECT_EQ(r.data, record(id, lengths[id])) << "record " << id << " after the deletes";
  }
  EXPECT_EQ(left, kept.size());

  // Inside a transaction each row delivered from a batch is also kept for
  // the transaction; the batch keeps its own copy, so reads answered from
  // it again (by key, last first: the current batch, then the ones before)
  // find them whole.
  ASSERT_EQ(Simple(B_BEGIN_TRANS), B_OK);
  std::vector<uint32_t> walked;
  Result r = Get(pb, B_GET_FIRST, 0);
  for (; r.status == B_OK && walked.size() < 40; r = Get(pb, B_GET_NEXT, 0)) walked.push_back(IdOf(r.data));
  ASSERT_EQ(walked.size(), 40u);
  for (auto at = walked.rbegin(); at != walked.rend(); ++at) {
    uint32_t id = *at;
    std::string key(4, '\0');
    PutLe(key, 0, id, 4);
    Result again = Get(pb, B_GET_EQUAL, 0, key);
    ASSERT_EQ(again.status, B_OK) << "record " << id;
    EXPECT_EQ(again.data, record(id, lengths[id])) << "record " << id << " read again in the transaction";
  }
  ASSERT_EQ(Simple(B_END_TRANS), B_OK);
}

}  // namespace
