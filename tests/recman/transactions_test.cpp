// Transactions over several files of one directory: commit, abort, a process
// killed in the middle or right after the commit, and many concurrent
// writers.
#include <gtest/gtest.h>

#include <cstdlib>

#include "platform/le.h"
#include "recman/check.h"
#include "tests/recman/recman_test_util.h"

using namespace rt;

namespace {

class TransactionsTest : public RecmanTest {
 protected:
  void SetUp() override {
    a = dir.File("COBRAM.dat");
    b = dir.File("PAGAM.dat");
    ASSERT_EQ(Create(a, IdSpec(24).Build()), B_OK);
    ASSERT_EQ(Create(b, IdSpec(44).Build()), B_OK);
    Block pa, pbb;
    ASSERT_EQ(Open(pa, a), B_OK);
    ASSERT_EQ(Open(pbb, b), B_OK);
    ASSERT_EQ(Insert(pa, IdRecord(24, 1, 'a')), B_OK);
    ASSERT_EQ(Insert(pbb, IdRecord(44, 1, 'b')), B_OK);
    Reset();
  }

  // Count of records and the fill byte of record 1 in a file, read afresh.
  std::pair<uint32_t, char> Look(const std::string& path) {
    Block p;
    EXPECT_EQ(Open(p, path), B_OK);
    uint32_t n = GetStat(p).records();
    Result r = Get(p, B_GET_EQUAL, 0, IdKey(1));
    Close(p);
    return {n, r.status == B_OK ? r.data[10] : '?'};
  }

  // Another process rewrites record `id` of file a with `fill`; its exit
  // status, 0 when it did.
  int UpdateInAnotherProcess(uint32_t id, char fill) {
    return InChild([&] {
      Block o;
      if (Open(o, a) != B_OK || Get(o, B_GET_EQUAL, 0, IdKey(id)).status != B_OK) return 200;
      return Update(o, IdRecord(24, id, fill)) == B_OK ? 0 : 201;
    });
  }

  std::string a, b;
};

TEST_F(TransactionsTest, EndCommitsAndAbortDiscardsChangesToBothFiles) {
  Block pa, pbb;
  ASSERT_EQ(Open(pa, a), B_OK);
  ASSERT_EQ(Open(pbb, b), B_OK);
  // The same change to both files, in each transaction.
  auto changeBoth = [&] {
    ASSERT_EQ(Insert(pa, IdRecord(24, 2, 'a')), B_OK);
    ASSERT_EQ(Get(pbb, B_GET_EQUAL, 0, IdKey(1)).status, B_OK);
    ASSERT_EQ(Update(pbb, IdRecord(44, 1, 'B')), B_OK);
  };
  ASSERT_EQ(Simple(B_BEGIN_TRANS), B_OK);
  EXPECT_EQ(Simple(B_BEGIN_TRANS), B_TRANSACTION_ACTIVE);
  ASSERT_NO_FATAL_FAILURE(changeBoth());
  ASSERT_EQ(Simple(B_ABORT_TRANS), B_OK);
  EXPECT_EQ(Look(a), std::make_pair(1u, 'a'));
  EXPECT_EQ(Look(b), std::make_pair(1u, 'b'));
  EXPECT_EQ(Simple(B_END_TRANS), B_NO_TRANSACTION);

  ASSERT_EQ(Simple(static_cast<uint16_t>(B_BEGIN_TRANS + int{B_SINGLE_NOWAIT_LOCK})),
            B_OK);  // a lock bias is accepted
  ASSERT_NO_FATAL_FAILURE(changeBoth());
  ASSERT_EQ(Simple(B_END_TRANS), B_OK);
  EXPECT_EQ(Look(a), std::make_pair(2u, 'a'));
  EXPECT_EQ(Look(b), std::make_pair(1u, 'B'));
}

TEST_F(TransactionsTest, ProcessKilledInTheMiddleLeavesNeitherFileChanged) {
  Child child = Spawn([&](ChildSide& side) {
    Block pa, pbb;
    if (Open(pa, a) != B_OK || Open(pbb, b) != B_OK) return 200;
    if (Simple(B_BEGIN_TRANS) != B_OK) return 201;
    for (uint32_t id = 10; id < 200; ++id)
      if (Insert(pa, IdRecord(24, id, 'k')) != B_OK) return 202;
    if (Get(pbb, B_GET_EQUAL, 0, IdKey(1)).status != B_OK) return 203;
    if (Update(pbb, IdRecord(44, 1, 'K')) != B_OK) return 204;
    return side.TellAndWait('w');
  });
  ASSERT_EQ(child.Heard(), 'w');
  // Readers are not held up by the open transaction and see the old state.
  EXPECT_EQ(Look(a), std::make_pair(1u, 'a'));
  child.Kill();
  EXPECT_EQ(Look(a), std::make_pair(1u, 'a'));
  EXPECT_EQ(Look(b), std::make_pair(1u, 'b'));
  std::string report;
  EXPECT_EQ(RecmanCheckFile(a, "", report), B_OK) << report;
  EXPECT_EQ(RecmanCheckFile(b, "", report), B_OK) << report;
}

TEST_F(TransactionsTest, CommittedTransactionSurvivesAKillRightAfterTheCommit) {
  Child child = Spawn([&](ChildSide& side) {
    Block pa, pbb;
    if (Open(pa, a) != B_OK || Open(pbb, b) != B_OK) return 200;
    if (Simple(B_BEGIN_TRANS) != B_OK) return 201;
    if (Insert(pa, IdRecord(24, 7, 'c')) != B_OK) return 202;
    if (Insert(pbb, IdRecord(44, 7, 'c')) != B_OK) return 203;
    if (Simple(B_END_TRANS) != B_OK) return 204;
    return side.TellAndWait('c');
  });
  ASSERT_EQ(child.Heard(), 'c');
  child.Kill();
  EXPECT_EQ(Look(a).first, 2u);
  EXPECT_EQ(Look(b).first, 2u);
}

TEST_F(TransactionsTest, AWriterWaitsForAnotherProcessTransactionInsteadOfFailing) {
  Child holder = Spawn([&](ChildSide& side) {
    Block pa;
    if (Open(pa, a) != B_OK) return 200;
    if (Simple(B_BEGIN_TRANS) != B_OK) return 201;
    if (Insert(pa, IdRecord(24, 50, 'h')) != B_OK) return 202;
    side.Tell('t');
    side.Wait();
    return Simple(B_END_TRANS) == B_OK ? 0 : 203;
  });
  ASSERT_EQ(holder.Heard(), 't');
  Child writer = Spawn([&](ChildSide& side) {
    Block pbb;
    if (Open(pbb, b) != B_OK) return 200;
    side.Tell('s');
    int16_t st = Insert(pbb, IdRecord(44, 51, 'w'));
    side.Tell('d');
    return static_cast<int>(st);
  });
  ASSERT_EQ(writer.Heard(), 's');
  EXPECT_EQ(writer.Heard(300), 0) << "the writer did not wait for the transaction";
  holder.Tell('e');
  EXPECT_EQ(writer.Heard(), 'd');
  EXPECT_EQ(writer.Join(), B_OK);
  EXPECT_EQ(holder.Join(), 0);
  EXPECT_EQ(Look(a).first, 2u);
  EXPECT_EQ(Look(b).first, 2u);
}

// Deletes inside a transaction: the record count follows them at once for
// the transaction itself, and is kept only if it commits, also across a kill.
TEST_F(TransactionsTest, RecordCountFollowsDeletesOnlyWhenTheTransactionCommits) {
  Block pa;
  ASSERT_EQ(Open(pa, a), B_OK);
  for (uint32_t id = 2; id <= 10; ++id) ASSERT_EQ(Insert(pa, IdRecord(24, id, 'a')), B_OK);
  auto deleteIds = [&](uint32_t from, uint32_t to) {
    for (uint32_t id = from; id <= to; ++id) {
      ASSERT_EQ(Get(pa, B_GET_EQUAL, 0, IdKey(id)).status, B_OK);
      ASSERT_EQ(Delete(pa), B_OK);
    }
  };
  std::string report;
  ASSERT_EQ(Simple(B_BEGIN_TRANS), B_OK);
  deleteIds(2, 4);
  EXPECT_EQ(GetStat(pa).records(), 7u);
  EXPECT_EQ(RecmanCheckFile(a, "", report), B_OK) << report;
  ASSERT_EQ(Simple(B_ABORT_TRANS), B_OK);
  EXPECT_EQ(GetStat(pa).records(), 10u);

  ASSERT_EQ(Simple(B_BEGIN_TRANS), B_OK);
  deleteIds(2, 5);
  ASSERT_EQ(Insert(pa, IdRecord(24, 50, 'n')), B_OK);
  ASSERT_EQ(Simple(B_END_TRANS), B_OK);
  EXPECT_EQ(GetStat(pa).records(), 7u);
  EXPECT_EQ(Look(a).first, 7u);

  Close(pa);
  Reset();
  Child child = Spawn([&](ChildSide& side) {
    Block p;
    if (Open(p, a) != B_OK || Simple(B_BEGIN_TRANS) != B_OK) return 200;
    for (uint32_t id = 6; id <= 10; ++id)
      if (Get(p, B_GET_EQUAL, 0, IdKey(id)).status != B_OK || Delete(p) != B_OK) return 201;
    return side.TellAndWait('d');
  });
  ASSERT_EQ(child.Heard(), 'd');
  child.Kill();
  EXPECT_EQ(Look(a).first, 7u);
  EXPECT_EQ(RecmanCheckFile(a, "", report), B_OK) << report;
}

// The count a transaction reads once follows its own inserts and deletes,
// is dropped with a rollback, and is read anew by the next transaction, after
// another station changed the file.
TEST_F(TransactionsTest, RecordCountInsideATransactionFollowsItsOwnChangesAndNoOneElses) {
  Block pa;
  ASSERT_EQ(Open(pa, a), B_OK);
  for (uint32_t id = 2; id <= 4; ++id) ASSERT_EQ(Insert(pa, IdRecord(24, id, 'a')), B_OK);  // and record 1
  ASSERT_EQ(Simple(B_BEGIN_TRANS), B_OK);
  EXPECT_EQ(GetStat(pa).records(), 4u);
  ASSERT_EQ(Insert(pa, IdRecord(24, 5, 'n')), B_OK);
  EXPECT_EQ(GetStat(pa).records(), 5u);
  ASSERT_EQ(Insert(pa, IdRecord(24, 6, 'n')), B_OK);
  ASSERT_EQ(Get(pa, B_GET_EQUAL, 0, IdKey(2)).status, B_OK);
  ASSERT_EQ(Delete(pa), B_OK);
  EXPECT_EQ(GetStat(pa).records(), 5u);
  ASSERT_EQ(Simple(B_ABORT_TRANS), B_OK);
  EXPECT_EQ(GetStat(pa).records(), 4u);

  ASSERT_EQ(Simple(B_BEGIN_TRANS), B_OK);
  EXPECT_EQ(GetStat(pa).records(), 4u);
  ASSERT_EQ(Simple(B_END_TRANS), B_OK);
  ASSERT_EQ(InChild([&] {
              Block p;
              return Open(p, a) == B_OK && Insert(p, IdRecord(24, 7, 'c')) == B_OK ? 0 : 1;
            }),
            0);
  ASSERT_EQ(Simple(B_BEGIN_TRANS), B_OK);
  EXPECT_EQ(GetStat(pa).records(), 5u);
  ASSERT_EQ(Insert(pa, IdRecord(24, 8, 'n')), B_OK);
  ASSERT_EQ(Simple(B_END_TRANS), B_OK);
  EXPECT_EQ(GetStat(pa).records(), 6u);
  EXPECT_EQ(Look(a).first, 6u);
}

// The positions a transaction hands out (a store may keep the catalog's
// next position in memory until the commit): each insert gets the next one,
// a rollback gives them back, a commit keeps them for every station, and two
// files keep their own sequences in one transaction.
TEST_F(TransactionsTest, PositionsHandedOutInATransactionAreKeptOnlyIfItCommits) {
  Block pa, pbb;
  ASSERT_EQ(Open(pa, a), B_OK);
  ASSERT_EQ(Open(pbb, b), B_OK);
  auto positionOf = [&](Block& p, uint32_t id) {
    EXPECT_EQ(Get(p, B_GET_EQUAL, 0, IdKey(id)).status, B_OK);
    return Position(p);
  };
  ASSERT_EQ(Insert(pa, IdRecord(24, 2, 'a')), B_OK);
  const uint32_t first = positionOf(pa, 2);
  ASSERT_EQ(Simple(B_BEGIN_TRANS), B_OK);
  ASSERT_EQ(Insert(pa, IdRecord(24, 3, 'n')), B_OK);
  ASSERT_EQ(Insert(pbb, IdRecord(44, 3, 'n')), B_OK);
  ASSERT_EQ(Insert(pa, IdRecord(24, 4, 'n')), B_OK);
  EXPECT_EQ(positionOf(pa, 3), first + 1);
  EXPECT_EQ(positionOf(pa, 4), first + 2);
  ASSERT_EQ(Simple(B_ABORT_TRANS), B_OK);

  ASSERT_EQ(Simple(B_BEGIN_TRANS), B_OK);
  ASSERT_EQ(Insert(pa, IdRecord(24, 5, 'n')), B_OK);
  const uint32_t inB = positionOf(pbb, 1);
  ASSERT_EQ(Insert(pbb, IdRecord(44, 5, 'n')), B_OK);
  EXPECT_EQ(positionOf(pbb, 5), inB + 1);
  ASSERT_EQ(Simple(B_END_TRANS), B_OK);
  EXPECT_EQ(positionOf(pa, 5), first + 1);
  // Another station goes on from there.
  ASSERT_EQ(InChild([&] {
              Block p;
              if (Open(p, a) != B_OK || Insert(p, IdRecord(24, 6, 'c')) != B_OK) return 1;
              if (Get(p, B_GET_EQUAL, 0, IdKey(6)).status != B_OK) return 2;
              return Position(p) == first + 2 ? 0 : 3;
            }),
            0);
  ASSERT_EQ(Insert(pa, IdRecord(24, 7, 'n')), B_OK);
  EXPECT_EQ(positionOf(pa, 7), first + 3);
  EXPECT_EQ(Look(a).first, 5u);
  std::string report;
  EXPECT_EQ(RecmanCheckFile(a, "", report), B_OK) << report;
  EXPECT_EQ(RecmanCheckFile(b, "", report), B_OK) << report;
}

// Inside one transaction, walks that delete as they go over two files (a
// store may send such deletes together, as one statement per file), then
// keys inserted again and one deleted again: what is left after the commit
// is what the calls said, in the order they were made.
TEST_F(TransactionsTest, WalksThatDeleteAndInsertsAgainInATransactionKeepWhatTheCallsSaid) {
  Block pa, pbb;
  ASSERT_EQ(Open(pa, a), B_OK);
  ASSERT_EQ(Open(pbb, b), B_OK);
  for (uint32_t id = 2; id <= 40; ++id) {
    ASSERT_EQ(Insert(pa, IdRecord(24, id, 'a')), B_OK);
    ASSERT_EQ(Insert(pbb, IdRecord(44, id, 'b')), B_OK);
  }
  auto walkDeleting = [&](Block& p, uint32_t from, uint32_t to) {
    for (Result r = Get(p, B_GET_EQUAL, 0, IdKey(from)); r.status == B_OK; r = Get(p, B_GET_NEXT, 0)) {
      if (static_cast<unsigned char>(r.data[0]) > to) break;
      ASSERT_EQ(Delete(p), B_OK);
    }
  };
  ASSERT_EQ(Simple(B_BEGIN_TRANS), B_OK);
  walkDeleting(pa, 2, 30);
  walkDeleting(pbb, 5, 35);
  ASSERT_EQ(Insert(pa, IdRecord(24, 3, 'x')), B_OK);
  ASSERT_EQ(Insert(pa, IdRecord(24, 4, 'y')), B_OK);
  walkDeleting(pa, 3, 3);
  walkDeleting(pa, 36, 38);
  ASSERT_EQ(Simple(B_END_TRANS), B_OK);
  Close(pa);
  Close(pbb);
  Reset();

  Block ra, rb;
  ASSERT_EQ(Open(ra, a), B_OK);
  ASSERT_EQ(Open(rb, b), B_OK);
  std::string left;
  for (Result r = Get(ra, B_GET_FIRST, 0); r.status == B_OK; r = Get(ra, B_GET_NEXT, 0))
    left += std::to_string(static_cast<unsigned char>(r.data[0])) + r.data[10] + " ";
  EXPECT_EQ(left, "1a 4y 31a 32a 33a 34a 35a 39a 40a ");
  EXPECT_EQ(GetStat(ra).records(), 9u);
  left.clear();
  for (Result r = Get(rb, B_GET_FIRST, 0); r.status == B_OK; r = Get(rb, B_GET_NEXT, 0))
    left += std::to_string(static_cast<unsigned char>(r.data[0])) + " ";
  EXPECT_EQ(left, "1 2 3 4 36 37 38 39 40 ");
  EXPECT_EQ(GetStat(rb).records(), 9u);
}

// A walk inside a transaction that reads each record again by position and
// updates or deletes it keeps what it read ahead: it still meets every record
// once, in order.  Another handle of the same file, whose batch the walk's
// writes made old, meets only what is left, as it was written.
TEST_F(TransactionsTest, AWalkThatWritesAsItGoesMeetsEveryRecordOnceAndOthersSeeTheWrites) {
  Block walker, other;
  ASSERT_EQ(Open(walker, a), B_OK);
  ASSERT_EQ(Open(other, a), B_OK);
  for (uint32_t id = 2; id <= 40; ++id)
    ASSERT_EQ(Insert(walker, IdRecord(24, id, 'a')), B_OK);  // and record 1
  auto idOf = [](const Result& r) { return r.data.size() >= 4 ? GetLe32(r.data.data()) : 0u; };
  ASSERT_EQ(Get(other, B_GET_FIRST, 0).status, B_OK);
  ASSERT_EQ(idOf(Get(other, B_GET_NEXT, 0)), 2u);  // the other handle reads ahead from 3

  ASSERT_EQ(Simple(B_BEGIN_TRANS), B_OK);
  std::vector<uint32_t> met;
  for (Result r = Get(walker, B_GET_FIRST, 0); r.status == B_OK; r = Get(walker, B_GET_NEXT, 0)) {
    uint32_t id = idOf(r);
    met.push_back(id);
    ASSERT_EQ(GetDirect(walker, Position(walker), 0).status, B_OK);
    if (id % 2 == 0 || id == 3) {
      ASSERT_EQ(Delete(walker), B_OK) << id;
    } else {
      ASSERT_EQ(Update(walker, IdRecord(24, id, 'u')), B_OK) << id;
      Result back = GetDirect(walker, Position(walker), 0);
      EXPECT_EQ(back.data, IdRecord(24, id, 'u')) << id;
    }
  }
  std::vector<uint32_t> all(40);
  for (uint32_t i = 0; i < 40; ++i) all[i] = i + 1;
  EXPECT_EQ(met, all);
  Result r = Get(other, B_GET_NEXT, 0);
  EXPECT_EQ(r.data, IdRecord(24, 5, 'u'));
  r = Get(other, B_GET_NEXT, 0);
  EXPECT_EQ(r.data, IdRecord(24, 7, 'u'));
  ASSERT_EQ(Simple(B_END_TRANS), B_OK);
  EXPECT_EQ(GetStat(walker).records(), 19u);
}

// A record read by position and then deleted or updated: what was read is
// reused only while nothing can have changed it since.
TEST_F(TransactionsTest, ARecordChangedSinceItWasReadByPositionIsNotWrittenOver) {
  Block reader, writer;
  ASSERT_EQ(Open(reader, a), B_OK);
  ASSERT_EQ(Open(writer, a), B_OK);
  for (uint32_t id = 2; id <= 4; ++id) ASSERT_EQ(Insert(reader, IdRecord(24, id, 'a')), B_OK);
  auto positionOf = [&](uint32_t id) {
    EXPECT_EQ(Get(reader, B_GET_EQUAL, 0, IdKey(id)).status, B_OK);
    return Position(reader);
  };
  const uint32_t two = positionOf(2), three = positionOf(3), four = positionOf(4);

  // Another handle of this process changes it within the transaction.
  ASSERT_EQ(Simple(B_BEGIN_TRANS), B_OK);
  ASSERT_EQ(GetDirect(reader, two, 0).status, B_OK);
  ASSERT_EQ(Get(writer, B_GET_EQUAL, 0, IdKey(2)).status, B_OK);
  ASSERT_EQ(Update(writer, IdRecord(24, 2, 'w')), B_OK);
  EXPECT_EQ(Delete(reader), B_CONFLICT);
  ASSERT_EQ(GetDirect(reader, two, 0).status, B_OK);
  EXPECT_EQ(Delete(reader), B_OK);
  // Read, then unchanged: the delete and the update go through.
  ASSERT_EQ(GetDirect(reader, three, 0).status, B_OK);
  EXPECT_EQ(Update(reader, IdRecord(24, 3, 'u')), B_OK);
  ASSERT_EQ(Simple(B_END_TRANS), B_OK);
  EXPECT_EQ(GetStat(reader).records(), 3u);

  // Read in one transaction, changed by another process between two
  // transactions, written in the next one: refused.
  ASSERT_EQ(Simple(B_BEGIN_TRANS), B_OK);
  ASSERT_EQ(GetDirect(reader, four, 0).status, B_OK);
  ASSERT_EQ(Simple(B_END_TRANS), B_OK);
  ASSERT_EQ(UpdateInAnotherProcess(4, 'o'), 0);
  ASSERT_EQ(Simple(B_BEGIN_TRANS), B_OK);
  EXPECT_EQ(Update(reader, IdRecord(24, 4, 'r')), B_CONFLICT);
  ASSERT_EQ(Simple(B_ABORT_TRANS), B_OK);
  Result r = Get(reader, B_GET_EQUAL, 0, IdKey(4));
  ASSERT_EQ(r.status, B_OK);
  EXPECT_EQ(r.data[10], 'o');
  r = Get(reader, B_GET_EQUAL, 0, IdKey(3));
  ASSERT_EQ(r.status, B_OK);
  EXPECT_EQ(r.data[10], 'u');
  EXPECT_EQ(Get(reader, B_GET_EQUAL, 0, IdKey(2)).status, B_KEY_NOT_FOUND);
  std::string report;
  EXPECT_EQ(RecmanCheckFile(a, "", report), B_OK) << report;
}

// Get direct inside a transaction finds again what the transaction read,
// but never a record as it was before a change: another handle's update or
// delete, an abort, another process's write between two transactions.
TEST_F(TransactionsTest, GetDirectInsideATransactionSeesEveryChangeSinceTheRecordWasRead) {
  Block walker, writer, direct;
  ASSERT_EQ(Open(walker, a), B_OK);
  ASSERT_EQ(Open(writer, a), B_OK);
  ASSERT_EQ(Open(direct, a), B_OK);
  ASSERT_EQ(Simple(B_BEGIN_TRANS), B_OK);
  for (uint32_t id = 2; id <= 5000; ++id) ASSERT_EQ(Insert(walker, IdRecord(24, id, 'a')), B_OK);
  ASSERT_EQ(Simple(B_END_TRANS), B_OK);
  auto fillAt = [&](uint32_t pos) {
    Result r = GetDirect(direct, pos, 0);
    return r.status == B_OK ? r.data[10] : static_cast<char>('0' + r.status % 10);
  };

  ASSERT_EQ(Simple(B_BEGIN_TRANS), B_OK);
  // Every record read along the key (more than are kept), with its position.
  std::vector<std::pair<uint32_t, uint32_t>> positions;  // id, position
  for (Result r = Get(walker, B_GET_FIRST, 0); r.status == B_OK; r = Get(walker, B_GET_NEXT, 0)) {
    uint32_t id = static_cast<uint8_t>(r.data[0]) | (static_cast<uint8_t>(r.data[1]) << 8);
    positions.emplace_back(id, Position(walker));
  }
  ASSERT_EQ(positions.size(), 5000u);
  for (const auto& [id, pos] : positions) {
    Result r = GetDirect(direct, pos, 0);
    ASSERT_EQ(r.status, B_OK);
    ASSERT_EQ(static_cast<uint8_t>(r.data[0]) | (static_cast<uint8_t>(r.data[1]) << 8), id);
  }
  const uint32_t p10 = positions[9].second, p11 = positions[10].second, p12 = positions[11].second;
  ASSERT_EQ(Get(writer, B_GET_EQUAL, 0, IdKey(10)).status, B_OK);
  ASSERT_EQ(Update(writer, IdRecord(24, 10, 'w')), B_OK);
  ASSERT_EQ(Get(writer, B_GET_EQUAL, 0, IdKey(11)).status, B_OK);
  ASSERT_EQ(Delete(writer), B_OK);
  EXPECT_EQ(fillAt(p10), 'w');
  EXPECT_EQ(GetDirect(direct, p11, 0).status, B_INVALID_RECORD_ADDRESS);
  // The handle's own update of a record it read by position.
  ASSERT_EQ(GetDirect(direct, p12, 0).status, B_OK);
  ASSERT_EQ(Update(direct, IdRecord(24, 12, 'd')), B_OK);
  EXPECT_EQ(fillAt(p12), 'd');
  ASSERT_EQ(Simple(B_ABORT_TRANS), B_OK);

  ASSERT_EQ(Simple(B_BEGIN_TRANS), B_OK);
  EXPECT_EQ(fillAt(p10), 'a');
  EXPECT_EQ(fillAt(p11), 'a');
  EXPECT_EQ(fillAt(p12), 'a');
  ASSERT_EQ(Simple(B_END_TRANS), B_OK);
  ASSERT_EQ(UpdateInAnotherProcess(10, 'o'), 0);
  ASSERT_EQ(Simple(B_BEGIN_TRANS), B_OK);
  EXPECT_EQ(fillAt(p10), 'o');
  ASSERT_EQ(Simple(B_END_TRANS), B_OK);
}

TEST_F(TransactionsTest, ForkedChildIsAClientOfItsOwn) {
  Block pa;
  ASSERT_EQ(Open(pa, a), B_OK);
  ASSERT_EQ(Get(pa, static_cast<uint16_t>(B_GET_EQUAL + int{B_SINGLE_NOWAIT_LOCK}), 0, IdKey(1)).status,
            B_OK);
  TempDir elsewhere;
  ASSERT_EQ(Create(elsewhere.File("E.dat"), IdSpec(24).Build()), B_OK);
  int child = InChild([&] {
    // The parent's position block means nothing here, and its lock is the
    // parent's, not the child's.
    if (Get(pa, B_GET_FIRST, 0).status != B_FILE_NOT_OPEN) return 201;
    Block mine;
    if (Open(mine, a) != B_OK) return 202;
    if (Get(mine, static_cast<uint16_t>(B_GET_EQUAL + int{B_SINGLE_NOWAIT_LOCK}), 0, IdKey(1)).status !=
        B_RECORD_LOCKED)
      return 203;
    return 0;
  });
  EXPECT_EQ(child, 0);
  // A child forked while the parent's transaction holds a directory cannot
  // use that directory; other directories work.
  ASSERT_EQ(Simple(B_BEGIN_TRANS), B_OK);
  ASSERT_EQ(Insert(pa, IdRecord(24, 9, 't')), B_OK);
  child = InChild([&] {
    Block mine;
    if (Open(mine, a) != B_IO_ERROR) return 204;
    if (Open(mine, elsewhere.File("E.dat")) != B_OK) return 205;
    return Insert(mine, IdRecord(24, 1, 'e')) == B_OK ? 0 : 206;
  });
  EXPECT_EQ(child, 0);
  ASSERT_EQ(Simple(B_END_TRANS), B_OK);
  EXPECT_EQ(Look(a).first, 2u);
  EXPECT_EQ(Look(elsewhere.File("E.dat")).first, 1u);
}

TEST_F(TransactionsTest, ManyProcessesWritingAtOnceAllSucceed) {
  constexpr int kProcesses = 4;
  constexpr uint32_t kEach = 150;
  std::vector<Child> children;
  for (int p = 0; p < kProcesses; ++p) {
    children.push_back(Spawn([&, p](ChildSide&) {
      RecmanSetDurabilityForTests(RecmanDurability::kNormal);
      Block pa, pbb;
      if (Open(pa, a) != B_OK || Open(pbb, b) != B_OK) return 200;
      for (uint32_t i = 0; i < kEach; ++i) {
        uint32_t id = 1000 + static_cast<uint32_t>(p) * kEach + i;
        if (i % 10 == 0) {
          if (Simple(B_BEGIN_TRANS) != B_OK) return 201;
          if (Insert(pa, IdRecord(24, id, 'm')) != B_OK) return 202;
          if (Insert(pbb, IdRecord(44, id, 'm')) != B_OK) return 203;
          if (Simple(B_END_TRANS) != B_OK) return 204;
        } else {
          int16_t st = Insert(pa, IdRecord(24, id, 'm'));
          if (st != B_OK) return static_cast<int>(st);
          if (Get(pa, B_GET_EQUAL, 0, IdKey(id)).status != B_OK) return 205;
          st = Update(pa, IdRecord(24, id, 'n'));
          if (st != B_OK) return static_cast<int>(st);
        }
      }
      return 0;
    }));
  }
  for (Child& c : children) EXPECT_EQ(c.Join(), 0);
  EXPECT_EQ(Look(a).first, 1u + kProcesses * kEach);
  EXPECT_EQ(Look(b).first, 1u + kProcesses * kEach / 10);
  std::string report;
  EXPECT_EQ(RecmanCheckFile(a, "", report), B_OK) << report;
}

}  // namespace
