// The local hash table against a plain model of its contract (bucket
// series, bucket of a key, chain order, growth), with the reuse of deleted
// entries' room; and the parse's per-parse caches across grammars.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <list>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "GDPC_Hash.h"
#include "GD_hash.h"
#include "gd.h"
#include "ipc.h"
#include "parse_words.h"
#include "pc.h"
#include "rtn_io.h"

using namespace rtn;

namespace {

// The table as its contract gives it: chains of keys, new keys at the head,
// growth re-chaining every entry at the head of its new chain, walking the
// old buckets in order.
struct Model {
  static constexpr int kWidth[] = {1, 2, 4, 6, 8, 10, 12, 14, 15, 16, 17, 18, 19, 20, 21, 22, 23};
  std::vector<std::list<std::string>> buckets;
  int level = 0;
  int entries = 0;
  explicit Model(int sizeHint) {
    level = sizeHint > 0 ? (int)std::floor(std::log(4.0 * sizeHint) / std::log(4.0)) : 0;
    buckets.assign(GDPC_BucketCount(level), {});
  }
  size_t Bucket(const std::string &k) const {
    uint32_t h = 0;
    for (char c : k) h = h * 9 + (uint32_t)(int32_t)(int8_t)c;
    uint32_t mask = (uint32_t)((1ull << (kWidth[level] + 3)) - 1);
    return (h & mask) % buckets.size();
  }
  bool Has(const std::string &k) const {
    for (auto &x : buckets[Bucket(k)])
      if (x == k) return true;
    return false;
  }
  void Create(const std::string &k) {
    if (Has(k)) return;
    buckets[Bucket(k)].push_front(k);
    if (++entries >= (GDPC_BucketCount(level) + 1) / 2 && GDPC_BucketCount(level + 1) > 0) {
      std::vector<std::list<std::string>> old = std::move(buckets);
      level++;
      buckets.assign(GDPC_BucketCount(level), {});
      for (auto &chain : old)
        for (auto &x : chain) buckets[Bucket(x)].push_front(x);
    }
  }
  void Delete(const std::string &k) {
    buckets[Bucket(k)].remove(k);
    entries--;
  }
  std::vector<std::string> Walk() const {
    std::vector<std::string> out;
    for (auto &chain : buckets)
      for (auto &x : chain) out.push_back(x);
    return out;
  }
};

std::vector<std::string> Walk(const GDH_HashTable &t) {
  std::vector<std::string> out;
  HashWalk w;
  for (GDH_HashEntry *e = GDH_FirstHashEntry(t, w); e; e = GDH_NextHashEntry(w)) out.push_back(e->key);
  return out;
}

// Keys like the parse's, of many lengths: short ones, and some longer than
// any size class of the entries' room.
std::string Key(std::mt19937 &rng) {
  static const char *kinds[] = {"DO %d x_%d", "%d %d PT", "PAC %d %d 0 1 %d 2", "GDP a_%d_%d"};
  char buf[64];
  snprintf(buf, sizeof buf, kinds[rng() % 4], (int)(rng() % 5000), (int)(rng() % 300));
  std::string k = buf;
  if (rng() % 50 == 0) k += std::string(200 + rng() % 300, (char)('a' + rng() % 26));
  return k;
}

TEST(LocalHash, FollowsTheModelThroughGrowthAndDeletes) {
  for (int hint : {0, 2, 300}) {
    std::mt19937 rng(hint + 1);
    GDH_HashTable t;
    GDH_InitHashTable(t, 0, hint);
    Model m(hint);
    std::vector<std::string> live;
    // Growth through several levels, with deletes between, so that freed
    // room is taken again by later keys.
    for (int round = 0; round < 6; round++) {
      for (int i = 0; i < 3000; i++) {
        std::string k = Key(rng);
        bool isNew = false;
        GDH_HashEntry *e = GDH_CreateHashEntry(t, k.c_str(), &isNew);
        ASSERT_EQ(isNew, !m.Has(k)) << k;
        if (isNew) {
          e->value = (intptr_t)live.size();
          live.push_back(k);
        }
        m.Create(k);
        ASSERT_STREQ(e->key, k.c_str());
      }
      for (int i = 0; i < 1000 && !live.empty(); i++) {
        size_t j = rng() % live.size();
        GDH_HashEntry *e = GDH_FindHashEntry(t, live[j].c_str());
        ASSERT_NE(e, nullptr) << live[j];
        GDH_DeleteHashEntry(e);
        m.Delete(live[j]);
        ASSERT_EQ(GDH_FindHashEntry(t, live[j].c_str()), nullptr);
        live[j] = live.back();
        live.pop_back();
      }
      ASSERT_EQ(t.bucketCount, (int)m.buckets.size());
      ASSERT_EQ(t.entryCount, m.entries);
      ASSERT_EQ(Walk(t), m.Walk());
    }
    // Every live key is found whole, and the hashed forms agree.
    for (const std::string &k : live) {
      GDH_HashEntry *e = GDH_FindHashEntry(t, k.c_str());
      ASSERT_NE(e, nullptr);
      EXPECT_EQ(e, GDH_FindHashEntryHashed(t, k.data(), k.size(), GDH_HashMore(0, k.data(), k.size())));
      EXPECT_EQ(e->key, k);
    }
    GDH_DeleteHashTable(t);
  }
}

TEST(LocalHash, KeysDifferingOnlyInLengthOrTailAreDistinct) {
  GDH_HashTable t;
  GDH_InitHashTable(t, 0, 0);
  const char *keys[] = {"DO 1 a", "DO 1 a_", "DO 1 ", "DO 1", "DO 11 a", ""};
  for (const char *k : keys) {
    bool isNew = false;
    GDH_CreateHashEntry(t, k, &isNew);
    EXPECT_TRUE(isNew) << k;
  }
  for (const char *k : keys) EXPECT_STREQ(GDH_FindHashEntry(t, k)->key, k);
  // A key with bytes above 127 hashes them as signed values.
  std::string high = "caf\xc3\xa9 T";
  GDH_CreateHashEntry(t, high.c_str(), nullptr);
  EXPECT_NE(GDH_FindHashEntryHashed(t, high.data(), high.size(), GDH_HashMore(0, high.data(), high.size())),
            nullptr);
  GDH_DeleteHashTable(t);
}

// ---------------------------------------------------------------------------
// The parse keeps facts of a grammar for the length of one parse: parses
// alternating between two grammars, and repeated, answer as parses made
// alone do.

std::string FixtureDir() {
  const char *src = getenv("TOVIK_SOURCE");
  if (src) return std::string(src) + "/src/contrib-sh/pkgs/quorlet/tests/fixtures";
  return QUORLET_FIXTURES;
}

struct Net {
  std::string dir;
  ParserControl top;
  ParserControl *net = nullptr;
  InputParserControl ipc;
  Net(const std::string &fixture, const char *name) {
    char tmpl[] = "/tmp/hash_testXXXXXX";
    dir = mkdtemp(tmpl);
    EXPECT_EQ(system(("cp " + FixtureDir() + "/" + fixture + "/*.gra " + dir).c_str()), 0);
    char home[4096];
    EXPECT_NE(getcwd(home, sizeof home), nullptr);
    EXPECT_EQ(chdir(dir.c_str()), 0);
    RTN_InitPC(&top);
    top.fRebuild = 1;
    net = RTN_Create(&top, name, ".gra", RS_GRA);
    EXPECT_EQ(chdir(home), 0);
    RTN_ZeroInputParserControl(&ipc);
    ipc.probbeam = 1;
    if (!net || RTN_InitParse(net, &ipc)) {
      ADD_FAILURE() << top.pres;
      net = nullptr;
      return;
    }
    ipc.nbest = 1, ipc.prune = 2, ipc.upper = 1, ipc.lookback = -1, ipc.framewindow = 255, ipc.maxfi = 1;
    ipc.tcl = 1;
  }
  ~Net() {
    RTN_FreeInputParserControl(&ipc, net);
    if (net && net != &top) {
      GS_DeleteResult(RTN_Free(net));
      delete net;
    }
    GS_DeleteResult(RTN_Free(&top));
    EXPECT_EQ(system(("rm -rf " + dir).c_str()), 0);
  }
  std::string Parse(const std::string &input) { return ParseWords(net, &ipc, input); }
};

TEST(ParseFacts, SuccessiveAndAlternatingParsesAnswerAsParsesAlone) {
  RTN_SetChannelWriter([](void *, const char *) {});
  const std::vector<std::string> flights = {"uh i want to fly to um new york", "i want to fly to boston please",
                                            "show me flights to san francisco", "to to new new york"};
  const std::vector<std::string> order = {"give me coffee no i mean tea", "give me tea", "coffee tea coffee"};
  // Each input on a grammar of its own, parsed once.
  std::vector<std::string> alone;
  for (auto &s : flights) {
    Net f("flights", "flights");
    ASSERT_NE(f.net, nullptr);
    alone.push_back(f.Parse(s));
  }
  for (auto &s : order) {
    Net o("repair", "order");
    ASSERT_NE(o.net, nullptr);
    alone.push_back(o.Parse(s));
  }
  Net f("flights", "flights"), o("repair", "order");
  ASSERT_NE(f.net, nullptr);
  ASSERT_NE(o.net, nullptr);
  for (int round = 0; round < 3; round++) {
    for (size_t i = 0; i < std::max(flights.size(), order.size()); i++) {
      if (i < flights.size()) {
        EXPECT_EQ(f.Parse(flights[i]), alone[i]) << flights[i];
      }
      if (i < order.size()) {
        EXPECT_EQ(o.Parse(order[i]), alone[flights.size() + i]) << order[i];
      }
    }
  }
  EXPECT_EQ(alone[0], "flights:[i,want,to,fly,to,city_fs:[new,york]]");
  RTN_SetChannelWriter(nullptr);
}

}  // namespace
