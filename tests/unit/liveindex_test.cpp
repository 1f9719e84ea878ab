#include <gtest/gtest.h>

#include <map>
#include <random>
#include <vector>

#include "liveindex.h"
#include "objects.h"
#include "pool.h"

using namespace korbin;

// Random inserts and removals against a plain map: the index must find
// exactly the live entry of each pointer, through growth and removed slots.
TEST(LiveIndexTest, AgreesWithAPlainMapThroughGrowthAndRemovals) {
    PoolFreeAll();
    LiveIndex index;
    std::vector<InterceptedInterface> entries(5000);
    std::map<const void*, InterceptedInterface*> model;
    std::mt19937 random(7);
    // Pointers on 16-byte steps, as heap objects come.
    auto pointerOf = [](size_t i) { return reinterpret_cast<void*>(0x10000 + i * 16); };
    for (int step = 0; step < 40000; ++step) {
        size_t i = random() % entries.size();
        InterceptedInterface& e = entries[i];
        e.pointer = pointerOf(i);
        if (model.count(e.pointer)) {
            index.Remove(&e);
            model.erase(e.pointer);
        } else {
            ASSERT_TRUE(index.Insert(&e));
            model[e.pointer] = &e;
        }
        if (step % 997 == 0) {
            for (size_t j = 0; j < entries.size(); ++j) {
                auto it = model.find(pointerOf(j));
                ASSERT_EQ(index.Find(pointerOf(j)), it == model.end() ? nullptr : it->second) << j;
            }
        }
    }
    EXPECT_EQ(index.size(), model.size());
    EXPECT_EQ(index.Find(nullptr), nullptr);
    index.Clear();
    EXPECT_EQ(index.Find(pointerOf(1)), nullptr);
    PoolFreeAll();
}

TEST(LiveIndexTest, ReinsertedPointerFindsItsNewEntry) {
    PoolFreeAll();
    LiveIndex index;
    InterceptedInterface first{}, second{};
    first.pointer = second.pointer = reinterpret_cast<void*>(0x4000);
    ASSERT_TRUE(index.Insert(&first));
    index.Remove(&first);
    EXPECT_EQ(index.Find(first.pointer), nullptr);
    ASSERT_TRUE(index.Insert(&second));
    EXPECT_EQ(index.Find(first.pointer), &second);
    PoolFreeAll();
}
