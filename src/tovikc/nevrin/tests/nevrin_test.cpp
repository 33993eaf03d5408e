// The pool's free list through reset, growth and refused sizes.
#include <gtest/gtest.h>

#include <vector>

#include "nevrin.h"

namespace {

std::vector<int> freeList(const NevrinPool *p) {
    std::vector<int> out;
    for (int i = p->freeHead; i != -1 && (int)out.size() <= p->capacity; i = p->records[i].nextFree) out.push_back(i);
    return out;
}

std::vector<int> range(int from, int to) {
    std::vector<int> v;
    for (int i = from; i < to; i++) v.push_back(i);
    return v;
}

TEST(Nevrin, pool_of_one_record) {
    NevrinPool *p = nevrinInit(1, 5);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->freeHead, 0);
    EXPECT_EQ(p->records[0].nextFree, -1);
    EXPECT_EQ(p->records[0].linkA, -1);
    nevrinNuke(p);
    nevrinNuke(nullptr);
}

TEST(Nevrin, reset_frees_used_records_in_index_order_and_keeps_values) {
    NevrinPool *p = nevrinInit(6, 2);
    // A search takes three records.
    for (int k = 0; k < 3; k++) {
        int i = p->freeHead;
        p->freeHead = p->records[i].nextFree;
        p->records[i] = {1, 7, 8, -1, 100 + i};
    }
    EXPECT_EQ(freeList(p), range(3, 6));
    nevrinReset(p);
    EXPECT_EQ(freeList(p), range(0, 6));
    EXPECT_EQ(p->records[1].flag, 0);
    EXPECT_EQ(p->records[1].linkB, -1);
    EXPECT_EQ(p->records[1].value, 101);
    nevrinNuke(p);
}

TEST(Nevrin, growth_chains_new_records_first_and_keeps_old_free_ones) {
    NevrinPool *p = nevrinInit(4, 3);
    p->freeHead = p->records[0].nextFree; // record 0 in use; 1..3 still free
    p->records[0].value = 42;
    ASSERT_EQ(nevrinGrow(p), p);
    EXPECT_EQ(p->capacity, 7);
    std::vector<int> want = {4, 5, 6, 1, 2, 3};
    EXPECT_EQ(freeList(p), want);
    EXPECT_EQ(p->records[0].value, 42);
    // Empty free list: the new records alone, in index order.
    p->freeHead = -1;
    ASSERT_EQ(nevrinResize(p, 10), p);
    EXPECT_EQ(freeList(p), range(7, 10));
    nevrinNuke(p);
}

TEST(Nevrin, refused_sizes_leave_the_pool_whole) {
    struct Case {
        int size, block;
    } bad[] = {{0, 10}, {-3, 10}, {10, 0}, {10, -1}};
    for (const Case &c : bad) EXPECT_EQ(nevrinInit(c.size, c.block), nullptr) << c.size << " " << c.block;
    NevrinPool *p = nevrinInit(5, 5);
    for (int n : {5, 4, 0, -1}) {
        EXPECT_EQ(nevrinResize(p, n), nullptr) << n;
        EXPECT_EQ(p->capacity, 5);
        EXPECT_EQ(freeList(p), range(0, 5));
    }
    p->blockSize = NEVRIN_MAX_CAPACITY;
    EXPECT_EQ(nevrinGrow(p), nullptr);
    EXPECT_EQ(p->capacity, 5);
    nevrinNuke(p);
}

} // namespace
