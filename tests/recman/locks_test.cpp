// Record locks: between processes (no-wait, wait, death of the holder) and
// their release rules within one handle.
#include <gtest/gtest.h>

#include "tests/recman/recman_test_util.h"

using namespace rt;

namespace {

SpecBuilder LockSpec() { return IdSpec(44); }

std::string Rec(uint32_t id, char fill = 'r') { return IdRecord(44, id, fill); }

uint16_t Op(uint16_t op, uint16_t bias) { return static_cast<uint16_t>(op + bias); }

class LocksTest : public OpenFileTest {
 protected:
  void SetUp() override { CreateWith("L.dat", LockSpec(), {Rec(1), Rec(2), Rec(3)}); }

  // Status of a no-wait single-lock get equal on `id` in another process.
  int OtherProcessLocks(uint32_t id) {
    return InChild([&] {
      Block other;
      if (Open(other, path) != B_OK) return 200;
      return static_cast<int>(Get(other, Op(B_GET_EQUAL, B_SINGLE_NOWAIT_LOCK), 0, IdKey(id)).status);
    });
  }

  // Status of another process's update of record 1 (filled with 'o') after
  // its own read.
  int OtherProcessUpdatesRecordOne() {
    return InChild([&] {
      Block other;
      if (Open(other, path) != B_OK) return 200;
      if (Get(other, B_GET_EQUAL, 0, IdKey(1)).status != B_OK) return 201;
      return static_cast<int>(Update(other, Rec(1, 'o')));
    });
  }
};

TEST_F(LocksTest, LockedRecordGives84ToAnotherProcessButStaysReadable) {
  ASSERT_EQ(Get(pb, Op(B_GET_EQUAL, B_SINGLE_NOWAIT_LOCK), 0, IdKey(2)).status, B_OK);
  int other = InChild([&] {
    Block o;
    if (Open(o, path) != B_OK) return 200;
    if (Get(o, Op(B_GET_EQUAL, B_SINGLE_NOWAIT_LOCK), 0, IdKey(2)).status != B_RECORD_LOCKED) return 201;
    if (Get(o, B_GET_EQUAL, 0, IdKey(2)).status != B_OK) return 202;  // plain reads go on
    if (Update(o, Rec(2, 'x')) != B_RECORD_LOCKED) return 203;        // changes do not
    if (Delete(o) != B_RECORD_LOCKED) return 204;
    if (Get(o, Op(B_GET_EQUAL, B_SINGLE_NOWAIT_LOCK), 0, IdKey(3)).status != B_OK) return 205;
    return 0;
  });
  EXPECT_EQ(other, 0);
  uint32_t len = 0;
  ASSERT_EQ(BTRCALL(B_UNLOCK, pb.get(), nullptr, &len, nullptr, 0, 0), B_OK);
  EXPECT_EQ(OtherProcessLocks(2), B_OK);
}

TEST_F(LocksTest, WaitBiasBlocksUntilTheHolderReleases) {
  ASSERT_EQ(Get(pb, Op(B_GET_EQUAL, B_SINGLE_NOWAIT_LOCK), 0, IdKey(1)).status, B_OK);
  Child waiter = Spawn([&](ChildSide& side) {
    Block o;
    if (Open(o, path) != B_OK) return 200;
    side.Tell('r');
    int16_t st = Get(o, Op(B_GET_EQUAL, B_SINGLE_WAIT_LOCK), 0, IdKey(1)).status;
    side.Tell('g');
    return static_cast<int>(st);
  });
  ASSERT_EQ(waiter.Heard(), 'r');
  EXPECT_EQ(waiter.Heard(300), 0) << "the waiting process went on while the record was locked";
  ASSERT_EQ(Update(pb, Rec(1, 'u')), B_OK);  // an update releases the single lock
  EXPECT_EQ(waiter.Heard(), 'g');
  EXPECT_EQ(waiter.Join(), B_OK);
}

TEST_F(LocksTest, LockOfAKilledProcessIsGone) {
  Child holder = Spawn([&](ChildSide& side) {
    Block o;
    if (Open(o, path) != B_OK) return 200;
    if (Get(o, Op(B_GET_EQUAL, B_SINGLE_NOWAIT_LOCK), 0, IdKey(3)).status != B_OK) return 201;
    return side.TellAndWait('l');
  });
  ASSERT_EQ(holder.Heard(), 'l');
  EXPECT_EQ(Get(pb, Op(B_GET_EQUAL, B_SINGLE_NOWAIT_LOCK), 0, IdKey(3)).status, B_RECORD_LOCKED);
  holder.Kill();
  // The kernel drops a lock file's locks with the process; a server drops
  // its session's locks once it sees the connection gone, a moment later.
  int16_t st = B_RECORD_LOCKED;
  for (int attempt = 0; attempt < 500 && st == B_RECORD_LOCKED; ++attempt) {
    st = Get(pb, Op(B_GET_EQUAL, B_SINGLE_NOWAIT_LOCK), 0, IdKey(3)).status;
    if (st == B_RECORD_LOCKED) poll(nullptr, 0, 10);
  }
  EXPECT_EQ(st, B_OK);
  // The dead holder's lock still counts in the lock file: the writer asks
  // the kernel, which holds nothing for it.
  ASSERT_EQ(Get(pb, B_GET_EQUAL, 0, IdKey(2)).status, B_OK);
  EXPECT_EQ(Update(pb, Rec(2, 'k')), B_OK);
  EXPECT_EQ(OtherProcessUpdatesRecordOne(), B_OK);
}

// Writes need no question to the kernel while no station holds a record
// lock, yet a lock taken in the middle of a transaction that already wrote
// is seen by its next write, and so is its release.
TEST_F(LocksTest, ALockTakenWhileATransactionWritesIsSeenByItsNextWrite) {
  if (OnServer())
    GTEST_SKIP() << "the server store answers such a write at the transaction's end (StoresTest)";
  Child holder = Spawn([&](ChildSide& side) {
    Block o;
    if (Open(o, path) != B_OK) return 200;
    side.Wait();
    if (Get(o, Op(B_GET_EQUAL, B_SINGLE_NOWAIT_LOCK), 0, IdKey(2)).status != B_OK) return 201;
    side.Tell('l');
    side.Wait();
    uint32_t len = 0;
    if (BTRCALL(B_UNLOCK, o.get(), nullptr, &len, nullptr, 0, 0) != B_OK) return 202;
    return side.TellAndWait('u');
  });
  ASSERT_EQ(Simple(B_BEGIN_TRANS), B_OK);
  ASSERT_EQ(Get(pb, B_GET_EQUAL, 0, IdKey(1)).status, B_OK);
  ASSERT_EQ(Update(pb, Rec(1, 'a')), B_OK);
  holder.Tell('g');
  ASSERT_EQ(holder.Heard(), 'l');
  ASSERT_EQ(Get(pb, B_GET_EQUAL, 0, IdKey(2)).status, B_OK);
  EXPECT_EQ(Update(pb, Rec(2, 'b')), B_RECORD_LOCKED);
  EXPECT_EQ(Delete(pb), B_RECORD_LOCKED);
  ASSERT_EQ(Get(pb, B_GET_EQUAL, 0, IdKey(3)).status, B_OK);
  EXPECT_EQ(Update(pb, Rec(3, 'c')), B_OK);  // another record of the same file
  holder.Tell('r');
  ASSERT_EQ(holder.Heard(), 'u');
  ASSERT_EQ(Get(pb, B_GET_EQUAL, 0, IdKey(2)).status, B_OK);
  EXPECT_EQ(Update(pb, Rec(2, 'b')), B_OK);
  ASSERT_EQ(Simple(B_END_TRANS), B_OK);
  holder.Tell('e');
  EXPECT_EQ(holder.Join(), 0);
}

TEST_F(LocksTest, WaitingProcessGetsTheLockWhenTheHolderIsKilled) {
  Child holder = Spawn([&](ChildSide& side) {
    Block o;
    if (Open(o, path) != B_OK) return 200;
    if (Get(o, Op(B_GET_EQUAL, B_MULTI_NOWAIT_LOCK), 0, IdKey(2)).status != B_OK) return 201;
    return side.TellAndWait('l');
  });
  ASSERT_EQ(holder.Heard(), 'l');
  Child waiter = Spawn([&](ChildSide& side) {
    Block o;
    if (Open(o, path) != B_OK) return 200;
    side.Tell('r');
    int16_t st = Get(o, Op(B_GET_EQUAL, B_MULTI_WAIT_LOCK), 0, IdKey(2)).status;
    side.Tell('g');
    return static_cast<int>(st);
  });
  ASSERT_EQ(waiter.Heard(), 'r');
  EXPECT_EQ(waiter.Heard(300), 0);
  holder.Kill();
  EXPECT_EQ(waiter.Heard(), 'g');
  EXPECT_EQ(waiter.Join(), B_OK);
}

TEST_F(LocksTest, NextSingleLockReadReleasesThePreviousOne) {
  ASSERT_EQ(Get(pb, Op(B_GET_EQUAL, B_SINGLE_NOWAIT_LOCK), 0, IdKey(1)).status, B_OK);
  ASSERT_EQ(Get(pb, B_GET_NEXT, 0).status, B_OK);  // a plain read keeps it
  EXPECT_EQ(OtherProcessLocks(1), B_RECORD_LOCKED);
  ASSERT_EQ(Get(pb, Op(B_GET_NEXT, B_SINGLE_NOWAIT_LOCK), 0).status, B_OK);
  EXPECT_EQ(OtherProcessLocks(1), B_OK);
  EXPECT_EQ(OtherProcessLocks(3), B_RECORD_LOCKED);
}

TEST_F(LocksTest, MultipleLocksAccumulateUntilUnlocked) {
  ASSERT_EQ(Get(pb, Op(B_GET_EQUAL, B_MULTI_NOWAIT_LOCK), 0, IdKey(1)).status, B_OK);
  uint32_t pos1 = Position(pb);
  ASSERT_EQ(Get(pb, Op(B_GET_NEXT, B_MULTI_NOWAIT_LOCK), 0).status, B_OK);
  ASSERT_EQ(Update(pb, Rec(2, 'm')), B_OK);  // an update keeps multiple locks
  EXPECT_EQ(OtherProcessLocks(1), B_RECORD_LOCKED);
  EXPECT_EQ(OtherProcessLocks(2), B_RECORD_LOCKED);
  // Mixing lock kinds on one handle is refused.
  EXPECT_EQ(Get(pb, Op(B_GET_NEXT, B_SINGLE_NOWAIT_LOCK), 0).status, B_INCOMPATIBLE_LOCK_TYPE);
  uint8_t data[4];
  for (int i = 0; i < 4; ++i) data[i] = static_cast<uint8_t>((pos1 >> (8 * i)) & 0xFF);
  uint32_t len = 4;
  ASSERT_EQ(BTRCALL(B_UNLOCK, pb.get(), data, &len, nullptr, 0, kUnlockOneMultiple), B_OK);
  EXPECT_EQ(OtherProcessLocks(1), B_OK);
  EXPECT_EQ(OtherProcessLocks(2), B_RECORD_LOCKED);
  ASSERT_EQ(BTRCALL(B_UNLOCK, pb.get(), data, &len, nullptr, 0, kUnlockAllMultiple), B_OK);
  EXPECT_EQ(OtherProcessLocks(2), B_OK);
}

TEST_F(LocksTest, CloseAndResetReleaseLocks) {
  Block second;
  ASSERT_EQ(Open(second, path), B_OK);
  ASSERT_EQ(Get(pb, Op(B_GET_EQUAL, B_SINGLE_NOWAIT_LOCK), 0, IdKey(1)).status, B_OK);
  ASSERT_EQ(Get(second, Op(B_GET_EQUAL, B_SINGLE_NOWAIT_LOCK), 0, IdKey(2)).status, B_OK);
  // One process is one client: its own handles do not block each other.
  EXPECT_EQ(Get(second, Op(B_GET_EQUAL, B_SINGLE_NOWAIT_LOCK), 0, IdKey(1)).status, B_OK);
  ASSERT_EQ(Close(second), B_OK);
  EXPECT_EQ(OtherProcessLocks(1), B_RECORD_LOCKED);  // still held through pb
  ASSERT_EQ(Reset(), B_OK);
  EXPECT_EQ(OtherProcessLocks(1), B_OK);
}

TEST_F(LocksTest, DeleteReleasesTheLockOfTheDeletedRecord) {
  ASSERT_EQ(Get(pb, Op(B_GET_EQUAL, B_SINGLE_NOWAIT_LOCK), 0, IdKey(2)).status, B_OK);
  uint32_t pos = Position(pb);
  ASSERT_EQ(Delete(pb), B_OK);
  ASSERT_EQ(Insert(pb, Rec(2)), B_OK);
  EXPECT_NE(Position(pb), pos);  // positions are never reused
  EXPECT_EQ(OtherProcessLocks(2), B_OK);
}

TEST_F(LocksTest, RecordChangedSinceReadGivesConflict) {
  ASSERT_EQ(Get(pb, B_GET_EQUAL, 0, IdKey(1)).status, B_OK);
  int other = OtherProcessUpdatesRecordOne();
  ASSERT_EQ(other, B_OK);
  EXPECT_EQ(Update(pb, Rec(1, 'p')), B_CONFLICT);
  EXPECT_EQ(Delete(pb), B_CONFLICT);
  ASSERT_EQ(Get(pb, B_GET_EQUAL, 0, IdKey(1)).status, B_OK);
  EXPECT_EQ(Update(pb, Rec(1, 'p')), B_OK);
}

// A forked child starts its own versions: were it to go on from its parent's,
// the parent's next update would give the record the version the child gave
// it, and a handle that read the child's record would overwrite that update.
TEST_F(LocksTest, AChildsVersionsAreNotItsParents) {
  int other = OtherProcessUpdatesRecordOne();
  ASSERT_EQ(other, B_OK);
  Block reader, writer;
  ASSERT_EQ(Open(reader, path), B_OK);
  ASSERT_EQ(Open(writer, path), B_OK);
  ASSERT_EQ(Get(reader, B_GET_EQUAL, 0, IdKey(1)).status, B_OK);
  ASSERT_EQ(Get(writer, B_GET_EQUAL, 0, IdKey(1)).status, B_OK);
  ASSERT_EQ(Update(writer, Rec(1, 'w')), B_OK);
  EXPECT_EQ(Update(reader, Rec(1, 'p')), B_CONFLICT) << "the writer's update would be lost";
}

}  // namespace
