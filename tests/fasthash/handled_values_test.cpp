// Handled values (value kind 99): the table owns one handle per entry and
// hands out copies; every handle it owns is released exactly once.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "fasthash/fast_hash_table.h"
#include "general_test_support.h"

namespace linemint {
namespace {

using test::Arg;
using test::CountingHandler;

class HandledValuesTest : public test::FastTableTest {};

TEST_F(HandledValuesTest, EveryHandleIsReleasedExactlyOnceThroughoutALifetime) {
  CountingHandler handler;  // outlives everything that holds its handles
  {
    const Handle mine = handler.newValue();  // the caller's own value
    const Arg given = Arg::of<Handle>(mine);
    const Arg none = Arg::of<Handle>(0);
    FastHashTable t;
    t.setValueHandler(&handler);
    ASSERT_EQ(t.create(KeyKind::kText, ValueKind::kHandled), 1);
    const Arg k1 = Arg::text("one");
    const Arg k2 = Arg::text("two");
    const Arg k3 = Arg::text("three");

    ASSERT_EQ(t.insert(k1.ref(), given.ref()), 1);
    ASSERT_EQ(t.insert(k2.ref(), none.ref()), 1);
    ASSERT_EQ(t.insert(k3.ref(), given.ref()), 1);
    EXPECT_EQ(handler.copyCalls, 2);
    const Handle stored1 = static_cast<Handle>(t.get(k1.ref()).payload);
    EXPECT_EQ(handler.copyCalls, 2);  // get hands out the stored handle itself
    EXPECT_NE(stored1, mine);

    ASSERT_EQ(t.insert(k1.ref(), given.ref()), 2);  // replace
    EXPECT_FALSE(handler.isAlive(stored1));
    EXPECT_VALID(t);

    HandledValue copy;
    EXPECT_EQ(t.getHandledValue(k1.ref(), &copy), 1);
    EXPECT_EQ(t.getHandledValue(k2.ref(), &copy), 1);  // the first copy goes back
    EXPECT_EQ(t.getHandledValue(Arg::text("absent").ref(), &copy), 0);

    // Walks through one variable, with and without the key.
    HandledValue walked;
    OwnedText key;
    int entries = 0;
    while (t.next(&key, &walked) == 1) ++entries;
    EXPECT_EQ(entries, 3);
    t.resetCursor();
    while (t.nextValue(&walked) == 1) {
    }

    OwnedArray values;
    ASSERT_EQ(t.valuesToArray(&values), 3);
    ASSERT_EQ(t.valuesToArray(&values), 3);  // the earlier copies go back

    ASSERT_EQ(t.remove(k3.ref()), 1);
    EXPECT_VALID(t);

    // create over the table releases what it still holds (k1's handle; k2's is 0).
    const int releasedBefore = handler.releaseCalls;
    ASSERT_EQ(t.create(KeyKind::kInt32, ValueKind::kHandled), 1);
    EXPECT_EQ(handler.releaseCalls, releasedBefore + 1);

    for (int32_t k = 0; k < 40; ++k) ASSERT_EQ(t.insert(Arg::of(k).ref(), k % 4 ? given.ref() : none.ref()), 1);
    for (int32_t k = 0; k < 40; k += 3) ASSERT_EQ(t.remove(Arg::of(k).ref()), 1);  // halving moves nodes, not handles
    EXPECT_VALID(t);
    t.destroy();
    t.destroy();

    handler.releaseValue(mine);
  }
  EXPECT_EQ(handler.misuse, 0);
  EXPECT_EQ(handler.aliveCount(), 0);
  EXPECT_EQ(handler.releaseCalls, handler.newCalls + handler.copyCalls);
}

TEST_F(HandledValuesTest, DestroyReleasesEachNonZeroHandleOnce) {
  CountingHandler handler;
  FastHashTable t;
  t.setValueHandler(&handler);
  ASSERT_EQ(t.create(KeyKind::kInt64, ValueKind::kHandled), 1);
  const Handle mine = handler.newValue();
  for (int64_t k = 0; k < 4; ++k) {
    const Arg v = Arg::of<Handle>(k == 2 ? 0 : mine);
    ASSERT_EQ(t.insert(Arg::of(k).ref(), v.ref()), 1);
  }
  const int before = handler.releaseCalls;
  t.destroy();
  EXPECT_EQ(handler.releaseCalls, before + 3);
  handler.releaseValue(mine);
  EXPECT_EQ(handler.aliveCount(), 0);
  EXPECT_EQ(handler.misuse, 0);
}

TEST_F(HandledValuesTest, CopiesAreMadeOnlyWhereTheCallerGetsOne) {
  CountingHandler handler;
  FastHashTable t;
  t.setValueHandler(&handler);
  ASSERT_EQ(t.create(KeyKind::kInt32, ValueKind::kHandled), 1);
  const Handle mine = handler.newValue();
  const Arg k = Arg::of(1);
  const Arg z = Arg::of(2);

  ASSERT_EQ(t.insert(k.ref(), Arg::of<Handle>(mine).ref()), 1);
  EXPECT_EQ(handler.copyCalls, 1);
  const Handle stored = static_cast<Handle>(t.get(k.ref()).payload);
  EXPECT_EQ(t.get(k.ref()).tag, 0x80000301u);
  EXPECT_TRUE(handler.isAlive(stored));

  HandledValue a;
  HandledValue b;
  EXPECT_EQ(t.getHandledValue(k.ref(), &a), 1);
  EXPECT_EQ(t.getHandledValue(k.ref(), &b), 1);
  EXPECT_EQ(handler.copyCalls, 3);
  EXPECT_NE(a.value(), stored);
  EXPECT_NE(a.value(), b.value());
  EXPECT_EQ(a.handler(), &handler);

  const int newBefore = handler.newCalls;
  ASSERT_EQ(t.insert(z.ref(), Arg::of<Handle>(0).ref()), 1);
  EXPECT_EQ(handler.copyCalls, 3);  // 0 is stored as it is
  EXPECT_EQ(t.get(z.ref()).payload, 0u);
  EXPECT_EQ(t.getHandledValue(z.ref(), &a), 1);
  EXPECT_EQ(handler.newCalls, newBefore + 1);

  // A null handler is ignored; the installed one stays, also across create.
  t.setValueHandler(nullptr);
  EXPECT_EQ(t.record().valueHandler, &handler);
  ASSERT_EQ(t.create(KeyKind::kInt32, ValueKind::kHandled), 1);
  EXPECT_EQ(t.insert(k.ref(), Arg::of<Handle>(mine).ref()), 1);

  // adjustValue is refused and changes nothing.
  EXPECT_EQ(t.adjustValue(k.ref(), Arg::of<int32_t>(1).ref(), AdjustOp::add), 0);
  EXPECT_TRUE(handler.isAlive(static_cast<Handle>(t.get(k.ref()).payload)));

  t.destroy();
  a.reset();
  b.reset();
  handler.releaseValue(mine);
  EXPECT_EQ(handler.aliveCount(), 0);
  EXPECT_EQ(handler.misuse, 0);
}

TEST_F(HandledValuesTest, GetHandledValueOutsideAKind99Table) {
  CountingHandler handler;
  {
    FastHashTable t;
    HandledValue held(handler.newValue(), &handler);
    const Handle old = held.value();
    const Arg k = Arg::of(1);

    // Without a handler: 0, and the variable is left alone.
    EXPECT_EQ(t.getHandledValue(k.ref(), &held), 0);
    EXPECT_EQ(held.value(), old);
    ASSERT_EQ(t.create(KeyKind::kInt32, ValueKind::kHandled), 1);
    EXPECT_EQ(t.insert(k.ref(), Arg::of<Handle>(0).ref()), 0);
    EXPECT_EQ(t.getCount(), 0);
    EXPECT_EQ(t.getHandledValue(k.ref(), &held), 0);
    EXPECT_EQ(held.value(), old);
    EXPECT_EQ(handler.copyCalls + handler.releaseCalls, 0);

    // A kind-3 table with a handler: no lookup, the old copy goes back and a
    // new empty handle arrives.
    t.setValueHandler(&handler);
    ASSERT_EQ(t.create(KeyKind::kInt32, ValueKind::kInt32), 1);
    ASSERT_EQ(t.insert(k.ref(), Arg::of<int32_t>(5).ref()), 1);
    EXPECT_EQ(t.getHandledValue(k.ref(), &held), 0);
    EXPECT_FALSE(handler.isAlive(old));
    EXPECT_TRUE(handler.isAlive(held.value()));
    EXPECT_EQ(handler.newCalls, 2);
  }
  EXPECT_EQ(handler.aliveCount(), 0);
  EXPECT_EQ(handler.misuse, 0);
}

}  // namespace
}  // namespace linemint
