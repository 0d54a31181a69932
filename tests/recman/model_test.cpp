// Model-based test: random operation sequences on two handles of one file,
// each result compared with a plain in-memory model of ordered keys.
//
// The model knows nothing of sort keys or SQL: it orders records with
// comparison functions written straight from the key types (numbers compared
// as numbers, texts through the collating table, descending segments
// reversed), duplicates by an insertion counter, and keeps each handle's
// currency as "the entry it stands on".  Any wrong order, lost record or
// wrong status shows as a mismatch, reported with the seed and step.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <random>
#include <sstream>

#include "recman/check.h"
#include "tests/recman/recman_test_util.h"

using namespace rt;

namespace {

constexpr uint16_t kLen = 32;

struct MSeg {
  uint16_t off, len, flags;
  uint8_t type, nullValue;
};
struct MKey {
  std::vector<MSeg> segs;
  bool dup, mod;
  int nullMode;  // 0 none, 1 all segments, 2 any segment
  uint16_t len;
};

// Layout: 0-3 uint32 (key 0 unique); 4-6 text through the collating table and
// 7-8 int16 descending (key 1, duplicates); 9-12 zero-terminated text, null
// when all zero (key 2, duplicates); 13 int8 and 14-15 uint16 (key 3, unique,
// not modifiable); 16-17 text without case and 18-19 text, null when any
// segment is all 'x' (key 4, duplicates, descending second segment).
std::vector<MKey> ModelKeys() {
  std::vector<MKey> k(5);
  k[0] = {{{0, 4, KF_BINARY | KF_MODIFIABLE, KT_UNSIGNED, 0}}, false, true, 0, 4};
  k[1] = {{{4, 3, KF_ALT_COLLATING | KF_DUPLICATES | KF_MODIFIABLE, KT_STRING, 0},
           {7, 2, KF_EXTENDED_TYPE | KF_DESCENDING | KF_DUPLICATES | KF_MODIFIABLE, KT_INTEGER, 0}},
          true,
          true,
          0,
          5};
  k[2] = {
      {{9, 4, KF_EXTENDED_TYPE | KF_NULL | KF_DUPLICATES | KF_MODIFIABLE, KT_ZSTRING, 0}}, true, true, 1, 4};
  k[3] = {{{13, 1, KF_EXTENDED_TYPE, KT_INTEGER, 0}, {14, 2, KF_EXTENDED_TYPE, KT_UNSIGNED, 0}},
          false,
          false,
          0,
          3};
  k[4] = {{{16, 2, KF_NO_CASE | KF_MANUAL | KF_DUPLICATES | KF_MODIFIABLE, KT_STRING, 'x'},
           {18, 2, KF_DESCENDING | KF_MANUAL | KF_DUPLICATES | KF_MODIFIABLE, KT_STRING, 'x'}},
          true,
          true,
          2,
          4};
  return k;
}

SpecBuilder ModelSpec(const std::vector<MKey>& keys) {
  SpecBuilder s;
  s.recordLength = kLen;
  s.pageSize = 1024;
  for (const MKey& k : keys) {
    std::vector<Segment> segs;
    for (const MSeg& m : k.segs) {
      uint16_t flags = m.flags;
      if (m.type == KT_INTEGER || m.type == KT_ZSTRING || (m.type == KT_UNSIGNED && !(flags & KF_BINARY)))
        flags |= KF_EXTENDED_TYPE;
      segs.push_back({static_cast<uint16_t>(m.off + 1), m.len, flags, m.type, m.nullValue});
    }
    s.keys.push_back(segs);
  }
  s.UseUpperAcs();
  return s;
}

uint8_t Upper(uint8_t c) { return c >= 'a' && c <= 'z' ? static_cast<uint8_t>(c - 32) : c; }

int CmpSeg(const MSeg& s, const uint8_t* a, const uint8_t* b) {
  int c = 0;
  if (s.type == KT_INTEGER || s.type == KT_UNSIGNED) {
    uint64_t ua = 0, ub = 0;
    for (int i = s.len - 1; i >= 0; --i) {
      ua = (ua << 8) | a[i];
      ub = (ub << 8) | b[i];
    }
    if (s.type == KT_INTEGER) {
      int shift = 64 - 8 * s.len;
      int64_t sa = static_cast<int64_t>(ua << shift) >> shift,
              sb = static_cast<int64_t>(ub << shift) >> shift;
      c = sa < sb ? -1 : sa > sb ? 1 : 0;
    } else {
      c = ua < ub ? -1 : ua > ub ? 1 : 0;
    }
  } else {
    bool fold = s.flags & (KF_ALT_COLLATING | KF_NO_CASE);
    size_t la = s.len, lb = s.len;
    if (s.type == KT_ZSTRING) {
      la = strnlen(reinterpret_cast<const char*>(a), s.len);
      lb = strnlen(reinterpret_cast<const char*>(b), s.len);
    }
    for (size_t i = 0; i < std::min(la, lb) && c == 0; ++i) {
      uint8_t x = fold ? Upper(a[i]) : a[i], y = fold ? Upper(b[i]) : b[i];
      c = x < y ? -1 : x > y ? 1 : 0;
    }
    if (c == 0) c = la < lb ? -1 : la > lb ? 1 : 0;
  }
  return (s.flags & KF_DESCENDING) ? -c : c;
}

struct MRec {
  std::string data;
  uint64_t seq[5] = {};
  uint64_t version = 0;
};

enum class P { kNone, kOn, kGap };

struct MCur {
  int lk = -1;
  P l = P::kNone;
  std::string lrec;
  uint64_t lseq = 0;
  P p = P::kNone;
  uint32_t pos = 0;
  uint64_t ver = 0;
  uint32_t single = 0;
  std::vector<uint32_t> multi;
};

class Model {
 public:
  explicit Model(std::vector<MKey> keys) : keys_(std::move(keys)) {}

  const uint8_t* B(const std::string& s) const { return reinterpret_cast<const uint8_t*>(s.data()); }

  bool NonNull(int k, const std::string& d) const {
    const MKey& key = keys_[k];
    if (key.nullMode == 0) return true;
    bool any = false, all = true;
    for (const MSeg& s : key.segs) {
      bool n = true;
      for (int i = 0; i < s.len; ++i) n = n && static_cast<uint8_t>(d[s.off + i]) == s.nullValue;
      any = any || n;
      all = all && n;
    }
    return key.nullMode == 1 ? !all : !any;
  }
  int CmpKey(int k, const std::string& a, const std::string& b) const {
    for (const MSeg& s : keys_[k].segs) {
      int c = CmpSeg(s, B(a) + s.off, B(b) + s.off);
      if (c != 0) return c;
    }
    return 0;
  }
  int CmpEntry(int k, const std::string& a, uint64_t sa, const std::string& b, uint64_t sb) const {
    int c = CmpKey(k, a, b);
    if (c != 0 || !keys_[k].dup) return c;
    return sa < sb ? -1 : sa > sb ? 1 : 0;
  }
  std::string KeyValue(int k, const std::string& d) const {
    std::string v;
    for (const MSeg& s : keys_[k].segs) v += d.substr(s.off, s.len);
    return v;
  }
  std::string RecordFromKey(int k, const std::string& value) const {
    std::string r(kLen, '\0');
    size_t at = 0;
    for (const MSeg& s : keys_[k].segs) {
      r.replace(s.off, s.len, value.substr(at, s.len));
      at += s.len;
    }
    return r;
  }
  // Positions of the records in key k's index, in key order.
  std::vector<uint32_t> Index(int k) const {
    std::vector<uint32_t> v;
    for (const auto& [pos, r] : recs)
      if (NonNull(k, r.data)) v.push_back(pos);
    std::sort(v.begin(), v.end(), [&](uint32_t a, uint32_t b) {
      return CmpEntry(k, recs.at(a).data, recs.at(a).seq[k], recs.at(b).data, recs.at(b).seq[k]) < 0;
    });
    return v;
  }

  std::vector<MKey> keys_;
  std::map<uint32_t, MRec> recs;
  uint64_t counter = 0;
  uint64_t versions = 0;
  uint32_t maxPos = 0;
};

struct Expect {
  int16_t status = 0;
  uint32_t pos = 0;  // record delivered (status 0)
};

class ModelRun {
 public:
  ModelRun(const std::string& path, uint32_t seed)
      : path_(path), seed_(seed), rng_(seed), model_(ModelKeys()) {}

  int Rand(int n) { return static_cast<int>(rng_() % static_cast<uint32_t>(n)); }

  std::string RandomRecord() {
    std::string r(kLen, '.');
    PutLe(r, 0, static_cast<uint32_t>(Rand(40)) * (Rand(4) == 0 ? 70000u : 1u), 4);
    static const char kText[] = "aAbBcC";
    for (int i = 4; i < 7; ++i) r[i] = kText[Rand(Rand(3) == 0 ? 6 : 2)];
    PutLe(r, 7, static_cast<uint16_t>(static_cast<int16_t>(Rand(7) - 3) * (Rand(3) == 0 ? 1000 : 1)), 2);
    for (int i = 9; i < 13; ++i) r[i] = Rand(3) == 0 ? '\0' : "xyz"[Rand(3)];
    if (Rand(4) == 0) r.replace(9, 4, std::string(4, '\0'));
    r[13] = static_cast<char>(Rand(6) - 3);
    PutLe(r, 14, static_cast<uint16_t>(Rand(3) == 0 ? 65535 - Rand(3) : Rand(10)), 2);
    static const char kCase[] = "xXaAbB";
    for (int i = 16; i < 20; ++i) r[i] = kCase[Rand(6)];
    if (Rand(5) == 0) r.replace(16, 2, "xx");
    for (int i = 20; i < kLen; ++i) r[i] = static_cast<char>('a' + Rand(26));
    return r;
  }

  std::string Where() const {
    std::ostringstream o;
    o << "seed " << seed_ << " step " << step_ << " op " << lastOp_ << "\nrecent:";
    for (const std::string& t : trace_) o << "\n  " << t;
    return o.str();
  }
  void Trace(const std::string& t) {
    trace_.push_back(std::to_string(step_) + ": " + t);
    if (trace_.size() > 400) trace_.erase(trace_.begin());
  }

  // Compares one engine result with the model's expectation.
  bool Check(const Expect& e, const Result& r, int key, bool keyOnly = false) {
    if (r.status != e.status) {
      ADD_FAILURE() << Where() << ": status " << r.status << " expected " << e.status;
      return false;
    }
    if (e.status != B_OK) return true;
    const MRec& want = model_.recs.at(e.pos);
    if (!keyOnly && r.data != want.data) {
      if (key >= 0) {
        std::ostringstream o;
        for (uint32_t p : model_.Index(key))
          o << " [" << p << ":" << model_.KeyValue(key, model_.recs.at(p).data) << "/"
            << model_.recs.at(p).seq[key] << "]";
        Trace("model index:" + o.str());
        std::ostringstream w;
        Block walk;
        Open(walk, path_);
        for (Result x = Get(walk, B_GET_FIRST, static_cast<int8_t>(key)); x.status == B_OK;
             x = Get(walk, B_GET_NEXT, static_cast<int8_t>(key)))
          w << " [" << Position(walk) << ":" << model_.KeyValue(key, x.data) << "]";
        Close(walk);
        Trace("engine index:" + w.str());
      }
      ADD_FAILURE() << Where() << ": wrong record delivered: got [" << r.data << "] expected [" << want.data
                    << "] at " << e.pos;
      return false;
    }
    if (key >= 0 && r.key.substr(0, model_.keys_[key].len) != model_.KeyValue(key, want.data)) {
      ADD_FAILURE() << Where() << ": wrong key value returned";
      return false;
    }
    return true;
  }

  void TakeLogical(MCur& c, int k, uint32_t pos) {
    const MRec& r = model_.recs.at(pos);
    c.lk = k;
    c.l = P::kOn;
    c.lrec = r.data;
    c.lseq = r.seq[k];
    c.p = P::kOn;
    c.pos = pos;
    c.ver = r.version;
  }

  // Lock bookkeeping after a successful locked read (single process: no 84).
  int16_t ModelLock(MCur& c, uint32_t pos, uint16_t bias) {
    if (bias == 0) return B_OK;
    if (bias == B_SINGLE_NOWAIT_LOCK || bias == B_SINGLE_WAIT_LOCK) {
      if (!c.multi.empty()) return B_INCOMPATIBLE_LOCK_TYPE;
      c.single = pos;
    } else {
      if (c.single != 0) return B_INCOMPATIBLE_LOCK_TYPE;
      if (std::find(c.multi.begin(), c.multi.end(), pos) == c.multi.end()) c.multi.push_back(pos);
    }
    return B_OK;
  }

  void DropLocks(uint32_t pos) {
    for (MCur& c : cur_) {
      if (c.single == pos) c.single = 0;
      c.multi.erase(std::remove(c.multi.begin(), c.multi.end(), pos), c.multi.end());
    }
  }

  bool GetKeyed(int h, uint16_t op, uint16_t bias, bool keyOnly) {
    MCur& c = cur_[h];
    int k = Rand(10) == 0 ? 5 : Rand(5);
    if ((op == B_GET_NEXT || op == B_GET_PREVIOUS) && c.lk >= 0 && Rand(8) != 0) k = c.lk;
    std::string search;
    if (k < 5) {
      if (!model_.recs.empty() && Rand(2) == 0) {
        auto it = model_.recs.begin();
        std::advance(it, Rand(static_cast<int>(model_.recs.size())));
        search = model_.KeyValue(k, it->second.data);
      } else {
        search = model_.KeyValue(k, RandomRecord());
      }
    }
    uint16_t code = static_cast<uint16_t>(op + bias + (keyOnly ? 50 : 0));
    Result r = Get(block_[h], code, static_cast<int8_t>(k), search);
    Expect e;
    if (k >= 5) {
      e.status = B_INVALID_KEY_NUMBER;
      return Check(e, r, -1);
    }
    if ((op == B_GET_NEXT || op == B_GET_PREVIOUS) && c.l == P::kNone) {
      e.status = B_INVALID_POSITIONING;
      return Check(e, r, -1);
    }
    if ((op == B_GET_NEXT || op == B_GET_PREVIOUS) && c.lk != k) {
      e.status = B_DIFFERENT_KEY_NUMBER;
      return Check(e, r, -1);
    }
    std::vector<uint32_t> idx = model_.Index(k);
    std::string sr = model_.RecordFromKey(k, search);
    auto rec = [&](uint32_t p) -> const std::string& { return model_.recs.at(p).data; };
    long found = -1;
    int16_t missing = B_END_OF_FILE;
    long n = static_cast<long>(idx.size());
    switch (op) {
      case B_GET_FIRST: found = n > 0 ? 0 : -1; break;
      case B_GET_LAST: found = n - 1; break;
      case B_GET_EQUAL:
        missing = B_KEY_NOT_FOUND;
        for (long i = 0; i < n && found < 0; ++i)
          if (model_.CmpKey(k, rec(idx[i]), sr) == 0) found = i;
        break;
      case B_GET_GE:
        for (long i = 0; i < n && found < 0; ++i)
          if (model_.CmpKey(k, rec(idx[i]), sr) >= 0) found = i;
        break;
      case B_GET_GREATER:
        for (long i = 0; i < n && found < 0; ++i)
          if (model_.CmpKey(k, rec(idx[i]), sr) > 0) found = i;
        break;
      case B_GET_LE:
        for (long i = n - 1; i >= 0 && found < 0; --i)
          if (model_.CmpKey(k, rec(idx[i]), sr) <= 0) found = i;
        break;
      case B_GET_LESS:
        for (long i = n - 1; i >= 0 && found < 0; --i)
          if (model_.CmpKey(k, rec(idx[i]), sr) < 0) found = i;
        break;
      case B_GET_NEXT:
        for (long i = 0; i < n && found < 0; ++i)
          if (model_.CmpEntry(k, rec(idx[i]), model_.recs.at(idx[i]).seq[k], c.lrec, c.lseq) > 0) found = i;
        break;
      default:
        for (long i = n - 1; i >= 0 && found < 0; --i)
          if (model_.CmpEntry(k, rec(idx[i]), model_.recs.at(idx[i]).seq[k], c.lrec, c.lseq) < 0) found = i;
        break;
    }
    if (found < 0) {
      Trace("h" + std::to_string(h) + " get " + std::to_string(op) + " key " + std::to_string(k) +
            " -> none");
      e.status = missing;
      return Check(e, r, -1);
    }
    e.pos = idx[found];
    Trace("h" + std::to_string(h) + " get " + std::to_string(op) + " key " + std::to_string(k) + " -> pos " +
          std::to_string(e.pos) + " status " + std::to_string(r.status));
    e.status = ModelLock(c, e.pos, bias);
    if (e.status != B_OK) return Check(e, r, -1);
    TakeLogical(c, k, e.pos);
    return Check(e, r, k, keyOnly);
  }

  bool Step(int h, uint16_t op, uint16_t bias) {
    MCur& c = cur_[h];
    Result r = Get(block_[h], static_cast<uint16_t>(op + bias), 0);
    Expect e;
    auto& recs = model_.recs;
    std::map<uint32_t, MRec>::iterator it = recs.end();
    switch (op) {
      case B_STEP_FIRST: it = recs.begin(); break;
      case B_STEP_LAST:
        if (!recs.empty()) it = std::prev(recs.end());
        break;
      case B_STEP_NEXT: it = recs.upper_bound(c.p == P::kNone ? 0 : c.pos); break;
      default:
        if (c.p != P::kNone) {
          auto lb = recs.lower_bound(c.pos);
          if (lb != recs.begin()) it = std::prev(lb);
        }
        break;
    }
    if (it == recs.end()) {
      e.status = B_END_OF_FILE;
      return Check(e, r, -1);
    }
    e.pos = it->first;
    e.status = ModelLock(c, e.pos, bias);
    if (e.status != B_OK) return Check(e, r, -1);
    c.lk = -1;
    c.l = P::kNone;
    c.p = P::kOn;
    c.pos = e.pos;
    c.ver = it->second.version;
    return Check(e, r, -1);
  }

  bool DoInsert(int h) {
    MCur& c = cur_[h];
    std::string d = RandomRecord();
    int kn = Rand(6) - 1;  // -1: no currency change
    std::string data = d;
    uint32_t len = kLen;
    char kb[256] = {};
    int16_t st = BTRCALL(B_INSERT, block_[h].get(), data.data(), &len, kb, 255, static_cast<int8_t>(kn));
    Expect e;
    for (int k = 0; k < 5 && e.status == B_OK; ++k) {
      if (model_.keys_[k].dup || !model_.NonNull(k, d)) continue;
      for (const auto& [p, r] : model_.recs)
        if (model_.NonNull(k, r.data) && model_.CmpKey(k, r.data, d) == 0) e.status = B_DUPLICATE_KEY;
    }
    if (st != e.status) {
      ADD_FAILURE() << Where() << ": insert status " << st << " expected " << e.status;
      return false;
    }
    if (st != B_OK) return true;
    // The new record is the last one physically; a third handle finds it.
    Result last = Get(probe_, B_STEP_LAST, 0);
    if (last.status != B_OK || last.data != d) {
      ADD_FAILURE() << Where() << ": inserted record is not the last physically";
      return false;
    }
    uint32_t pos = Position(probe_);
    if (pos <= model_.maxPos) {
      ADD_FAILURE() << Where() << ": position " << pos << " not above " << model_.maxPos;
      return false;
    }
    model_.maxPos = pos;
    MRec r;
    r.data = d;
    ++model_.counter;
    for (int k = 0; k < 5; ++k) r.seq[k] = model_.counter;
    r.version = ++model_.versions;
    model_.recs[pos] = r;
    if (kn >= 0) {
      c.p = P::kOn;
      c.pos = pos;
      c.ver = r.version;
      c.lk = kn;
      if (model_.NonNull(kn, d)) {
        c.l = P::kOn;
        c.lrec = d;
        c.lseq = r.seq[kn];
      } else {
        c.l = P::kNone;
      }
      if (std::string(kb, model_.keys_[kn].len) != model_.KeyValue(kn, d)) {
        ADD_FAILURE() << Where() << ": insert returned a wrong key";
        return false;
      }
    }
    return true;
  }

  bool DoUpdate(int h) {
    MCur& c = cur_[h];
    std::string d;
    auto it = c.p == P::kOn ? model_.recs.find(c.pos) : model_.recs.end();
    if (it != model_.recs.end()) {
      d = it->second.data;
      std::string fresh = RandomRecord();
      int fields = Rand(3) + 1;
      for (int i = 0; i < fields; ++i) {
        static const int kFrom[] = {0, 4, 7, 9, 13, 16, 20};
        static const int kTo[] = {4, 7, 9, 13, 16, 20, 32};
        int f = Rand(7);
        if (f == 4 && Rand(3) != 0) f = 6;  // rarely touch the unmodifiable key
        d.replace(kFrom[f], kTo[f] - kFrom[f], fresh.substr(kFrom[f], kTo[f] - kFrom[f]));
      }
    } else {
      d = RandomRecord();
    }
    int16_t st = Update(block_[h], d, static_cast<int8_t>(Rand(5)));
    Expect e;
    if (c.p != P::kOn) {
      e.status = B_INVALID_POSITIONING;
    } else if (it == model_.recs.end() || it->second.version != c.ver) {
      e.status = B_CONFLICT;
    } else {
      const std::string& old = it->second.data;
      for (int k = 0; k < 5 && e.status == B_OK; ++k) {
        bool on = model_.NonNull(k, old), nn = model_.NonNull(k, d);
        bool changed = on != nn || (on && model_.CmpKey(k, old, d) != 0);
        if (!changed) continue;
        if (!model_.keys_[k].mod) {
          e.status = B_MODIFIABLE_KEY_CHANGED;
        } else if (nn && !model_.keys_[k].dup) {
          for (const auto& [p, r] : model_.recs)
            if (p != c.pos && model_.NonNull(k, r.data) && model_.CmpKey(k, r.data, d) == 0)
              e.status = B_DUPLICATE_KEY;
        }
      }
    }
    if (st != e.status) {
      ADD_FAILURE() << Where() << ": update status " << st << " expected " << e.status;
      return false;
    }
    if (st != B_OK) return true;
    MRec& r = it->second;
    for (int k = 0; k < 5; ++k) {
      bool on = model_.NonNull(k, r.data), nn = model_.NonNull(k, d);
      bool changed = on != nn || (on && model_.CmpKey(k, r.data, d) != 0);
      if (changed && nn && model_.keys_[k].dup) r.seq[k] = ++model_.counter;
    }
    r.data = d;
    r.version = ++model_.versions;
    c.ver = r.version;
    if (c.lk >= 0 && c.l == P::kOn) {
      if (model_.NonNull(c.lk, d)) {
        c.lrec = d;
        c.lseq = r.seq[c.lk];
      } else {
        c.l = P::kGap;
      }
    }
    if (c.single == c.pos) c.single = 0;
    return true;
  }

  bool DoDelete(int h) {
    MCur& c = cur_[h];
    int16_t st = Delete(block_[h]);
    Expect e;
    auto it = c.p == P::kOn ? model_.recs.find(c.pos) : model_.recs.end();
    if (c.p != P::kOn) {
      e.status = B_INVALID_POSITIONING;
    } else if (it == model_.recs.end() || it->second.version != c.ver) {
      e.status = B_CONFLICT;
    }
    if (st != e.status) {
      ADD_FAILURE() << Where() << ": delete status " << st << " expected " << e.status;
      return false;
    }
    if (st != B_OK) return true;
    model_.recs.erase(it);
    DropLocks(c.pos);
    c.p = P::kGap;
    if (c.l == P::kOn) c.l = P::kGap;
    return true;
  }

  bool DoPositionAndDirect(int h) {
    MCur& c = cur_[h];
    int16_t st;
    uint32_t pos = Position(block_[h], &st);
    int16_t want = c.p == P::kOn ? B_OK : B_INVALID_POSITIONING;
    if (st != want || (st == B_OK && pos != c.pos)) {
      ADD_FAILURE() << Where() << ": get position " << st << "/" << pos << " expected " << want << "/"
                    << c.pos;
      return false;
    }
    // Direct read of a known, deleted or made-up position.
    uint32_t target = Rand(4) == 0 ? static_cast<uint32_t>(Rand(static_cast<int>(model_.maxPos) + 3)) : pos;
    if (!model_.recs.empty() && Rand(2) == 0) {
      auto it = model_.recs.begin();
      std::advance(it, Rand(static_cast<int>(model_.recs.size())));
      target = it->first;
    }
    int k = Rand(5);
    uint16_t bias = Rand(4) == 0 ? uint16_t{B_SINGLE_NOWAIT_LOCK} : uint16_t{0};
    Result r = GetDirect(block_[h], target, static_cast<int8_t>(k), bias);
    Expect e;
    auto it = model_.recs.find(target);
    if (target == 0 || it == model_.recs.end()) {
      e.status = B_INVALID_RECORD_ADDRESS;
      return Check(e, r, -1);
    }
    e.pos = target;
    e.status = ModelLock(c, target, bias);
    if (e.status != B_OK) return Check(e, r, -1);
    c.p = P::kOn;
    c.pos = target;
    c.ver = it->second.version;
    c.lk = k;
    if (model_.NonNull(k, it->second.data)) {
      c.l = P::kOn;
      c.lrec = it->second.data;
      c.lseq = it->second.seq[k];
    } else {
      c.l = P::kNone;
    }
    return Check(e, r, k);
  }

  bool CheckEverything() {
    Stat s = GetStat(block_[0]);
    if (s.status != B_OK || s.records() != model_.recs.size()) {
      ADD_FAILURE() << Where() << ": stat " << s.status << " count " << s.records() << " expected "
                    << model_.recs.size();
      return false;
    }
    std::string report;
    if (RecmanCheckFile(path_, "", report) != B_OK) {
      ADD_FAILURE() << Where() << ": check failed: " << report;
      return false;
    }
    Block walk;
    Open(walk, path_);
    for (int k = 0; k < 5; ++k) {
      std::vector<uint32_t> idx = model_.Index(k);
      Result r = Get(walk, B_GET_FIRST, static_cast<int8_t>(k));
      for (uint32_t p : idx) {
        if (r.status != B_OK || r.data != model_.recs.at(p).data) {
          ADD_FAILURE() << Where() << ": full walk of key " << k << " differs";
          Close(walk);
          return false;
        }
        r = Get(walk, B_GET_NEXT, static_cast<int8_t>(k));
      }
      if (r.status != B_END_OF_FILE) {
        ADD_FAILURE() << Where() << ": full walk of key " << k << " goes on past the model";
        Close(walk);
        return false;
      }
    }
    Close(walk);
    return true;
  }

  bool Run(int steps) {
    if (Create(path_, ModelSpec(model_.keys_).Build(), 0) != B_OK) return false;
    for (int h = 0; h < 2; ++h)
      if (Open(block_[h], path_) != B_OK) return false;
    if (Open(probe_, path_) != B_OK) return false;
    bool inTransaction = false;
    std::map<uint32_t, MRec> saved;
    uint32_t savedMax = 0;
    uint64_t savedCounter = 0;
    for (step_ = 0; step_ < steps; ++step_) {
      int h = Rand(4) == 0 ? 1 : 0;
      int what = Rand(100);
      uint16_t bias = 0;
      int b = Rand(10);
      if (b == 0) bias = B_SINGLE_NOWAIT_LOCK;
      if (b == 1) bias = B_MULTI_NOWAIT_LOCK;
      bool ok = true;
      if (what < 18) {
        lastOp_ = "insert";
        ok = DoInsert(h);
      } else if (what < 28) {
        lastOp_ = "update";
        ok = DoUpdate(h);
      } else if (what < 34) {
        lastOp_ = "delete";
        ok = DoDelete(h);
      } else if (what < 62) {
        static const uint16_t kOps[] = {B_GET_EQUAL, B_GET_NEXT, B_GET_PREVIOUS, B_GET_GREATER,
                                        B_GET_GE,    B_GET_LESS, B_GET_LE,       B_GET_FIRST,
                                        B_GET_LAST,  B_GET_NEXT, B_GET_NEXT};
        uint16_t op = kOps[Rand(11)];
        lastOp_ = "get " + std::to_string(op) + "+" + std::to_string(bias);
        ok = GetKeyed(h, op, bias, Rand(12) == 0);
      } else if (what < 70) {
        static const uint16_t kSteps[] = {B_STEP_FIRST, B_STEP_LAST, B_STEP_NEXT, B_STEP_PREVIOUS,
                                          B_STEP_NEXT};
        uint16_t op = kSteps[Rand(5)];
        lastOp_ = "step " + std::to_string(op);
        ok = Step(h, op, bias);
      } else if (what < 80) {
        lastOp_ = "position/direct";
        ok = DoPositionAndDirect(h);
      } else if (what < 83) {
        lastOp_ = "unlock";
        uint32_t len = 0;
        int8_t kn = Rand(2) == 0 ? 0 : kUnlockAllMultiple;
        ok = BTRCALL(B_UNLOCK, block_[h].get(), nullptr, &len, nullptr, 0, kn) == B_OK;
        if (kn == 0) {
          cur_[h].single = 0;
        } else {
          cur_[h].multi.clear();
        }
      } else if (what < 87) {
        lastOp_ = "transaction";
        if (!inTransaction) {
          ok = Simple(B_BEGIN_TRANS) == B_OK;
          saved = model_.recs;
          savedMax = model_.maxPos;
          savedCounter = model_.counter;
          inTransaction = true;
        } else if (Rand(2) == 0) {
          ok = Simple(B_END_TRANS) == B_OK;
          inTransaction = false;
        } else {
          ok = Simple(B_ABORT_TRANS) == B_OK;
          // Positions and insertion numbers handed out inside the aborted
          // transaction are handed out again, as the engine does.
          model_.recs = saved;
          model_.maxPos = savedMax;
          model_.counter = savedCounter;
          inTransaction = false;
        }
      } else if (what < 89) {
        lastOp_ = "reopen";
        ok = Close(block_[h]) == B_OK && Open(block_[h], path_) == B_OK;
        if (Rand(8) == 0) {  // a reset closes every handle of the process
          ok = ok && Reset() == B_OK && Open(block_[0], path_) == B_OK && Open(block_[1], path_) == B_OK &&
               Open(probe_, path_) == B_OK;
          cur_[1 - h] = MCur{};
          if (inTransaction) {
            model_.recs = saved;
            model_.maxPos = savedMax;
            model_.counter = savedCounter;
            inTransaction = false;
          }
        }
        cur_[h] = MCur{};
      } else if (what < 90) {
        lastOp_ = "check";
        ok = CheckEverything();
      } else {
        static const uint16_t kOps[] = {B_GET_NEXT, B_GET_PREVIOUS};
        uint16_t op = kOps[Rand(4) == 0 ? 1 : 0];
        lastOp_ = "run of get " + std::to_string(op);
        for (int i = 0; i < 6 && ok; ++i) ok = GetKeyed(h, op, 0, false);
      }
      if (what < 34 || (what >= 70 && what < 90)) Trace("h" + std::to_string(h) + " " + lastOp_);
      if (ok && paranoid_) ok = CheckEverything();
      if (!ok) return false;
    }
    if (inTransaction) Simple(B_END_TRANS);
    lastOp_ = "final check";
    bool ok = CheckEverything();
    Reset();
    return ok;
  }

 private:
  std::string path_;
  uint32_t seed_;
  std::mt19937 rng_;
  Model model_;
  Block block_[2];
  Block probe_;
  MCur cur_[2];
  int step_ = 0;
  std::string lastOp_;
  std::vector<std::string> trace_;
  bool paranoid_ = std::getenv("RECMAN_MODEL_PARANOID") != nullptr;
};

TEST(ModelTest, RandomSequencesAgreeWithTheModel) {
  // Durability is not under test here; leave out the fsyncs for speed.
  RecmanSetDurabilityForTests(RecmanDurability::kOff);
  TempDir dir;
  const char* env = std::getenv("RECMAN_MODEL_SEQUENCES");
#if defined(__SANITIZE_ADDRESS__)
  constexpr int kDefaultSequences = 400;  // the sanitised build runs many times slower
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
  constexpr int kDefaultSequences = 400;
#else
  constexpr int kDefaultSequences = 2000;
#endif
#else
  constexpr int kDefaultSequences = 2000;
#endif
  int sequences = env ? std::atoi(env) : kDefaultSequences;
  for (int s = 0; s < sequences; ++s) {
    uint32_t seed =
        (std::getenv("RECMAN_MODEL_SEED") ? static_cast<uint32_t>(std::atoi(std::getenv("RECMAN_MODEL_SEED")))
                                          : 1000u) +
        static_cast<uint32_t>(s);
    ModelRun run(dir.File("M" + std::to_string(s % 7) + ".dat"), seed);
    ASSERT_TRUE(run.Run(s % 50 == 0 ? 400 : 60)) << "seed " << seed;
  }
  RecmanSetDurabilityForTests(RecmanDurability::kFull);
}

}  // namespace
