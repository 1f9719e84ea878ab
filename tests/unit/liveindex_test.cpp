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
// A pointer freed and taken again by a new object comes back in another entry.
TEST(LiveIndexTest, AgreesWithAPlainMapThroughGrowthRemovalsAndReusedPointers) {
    PoolFreeAll();
    LiveIndex index;
    constexpr size_t kPointers = 5000;
    std::vector<InterceptedInterface> entries(2 * kPointers);
    std::map<const void*, InterceptedInterface*> model;
    std::mt19937 random(7);
    // Pointers on 16-byte steps, as heap objects come.
    auto pointerOf = [](size_t i) { return reinterpret_cast<void*>(0x10000 + i * 16); };
    for (int step = 0; step < 40000; ++step) {
        const size_t i = random() % kPointers;
        auto live = model.find(pointerOf(i));
        if (live != model.end()) {
            index.Remove(live->second);
            model.erase(live);
        } else {
            InterceptedInterface& e = entries[i + kPointers * (random() % 2)];
            e.pointer = pointerOf(i);
            ASSERT_TRUE(index.Insert(&e));
            model[e.pointer] = &e;
        }
        if (step % 997 == 0) {
            for (size_t j = 0; j < kPointers; ++j) {
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
