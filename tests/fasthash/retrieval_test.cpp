// get with its tags, adjustValue's arithmetic, remove with halving, and the
// accessors.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include "fasthash/fast_hash_table.h"
#include "general_test_support.h"

namespace linemint {
namespace {

using test::Arg;
using test::contents;

class RetrievalTest : public test::FastTableTest {};

// The keys of the table in walk order.
std::vector<int32_t> walkInt32Keys(FastHashTable& t) {
  t.resetCursor();
  return test::restOfWalk(t);
}

struct NumberTagRow {
  int32_t valueKind;
  uint64_t field;  // 4 or 8 bytes, as the kind stores them
  uint32_t tag;
};

TEST_F(RetrievalTest, GetHandsOutTheFieldWithTheKindsTag) {
  const NumberTagRow rows[] = {
      {ValueKind::kInt16, 0x0001FFFFu, 0x80000201u},
      {ValueKind::kInt32, 0xFFFFFFF9u, 0x80000301u},
      {ValueKind::kInt64, 0x8102030405060708u, 0x80000401u},
      {ValueKind::kFloat, 0x3FC00000u, 0x80000501u},
      {ValueKind::kDouble, 0xC002000000000000u, 0x80000601u},
      {ValueKind::kBool, 0xFFFFFFFFu, 0x80000002u},
      {ValueKind::kDateTime, 0x40E5F90000000000u, 0x80000003u},
  };
  for (const NumberTagRow& row : rows) {
    SCOPED_TRACE(row.valueKind);
    FastHashTable t;
    ASSERT_EQ(t.create(KeyKind::kInt64, row.valueKind), 1);
    const bool wide = valueSizeOf(row.valueKind) == 8;
    const Arg value = wide ? Arg::of<uint64_t>(row.field) : Arg::of<uint32_t>(static_cast<uint32_t>(row.field));
    const Arg key = Arg::of<int64_t>(-5);
    ASSERT_EQ(t.insert(key.ref(), value.ref()), 1);

    int32_t found = -1;
    TaggedValue v = t.get(key.ref(), &found);
    EXPECT_EQ(found, 1);
    EXPECT_EQ(v.tag, row.tag);
    if (wide) EXPECT_EQ(v.payload, row.field);
    else EXPECT_EQ(static_cast<uint32_t>(v.payload), row.field);

    const Arg missing = Arg::of<int64_t>(6);
    found = -1;
    v = t.get(missing.ref(), &found);
    EXPECT_EQ(found, 0);
    EXPECT_EQ(v.payload, 0u);
    EXPECT_EQ(v.tag, row.tag);
  }
}

TEST_F(RetrievalTest, GetOnAnObjectWithoutTableFindsNothing) {
  FastHashTable t;
  const Arg key = Arg::of<int32_t>(1);
  int32_t found = -1;
  TaggedValue v = t.get(key.ref(), &found);
  EXPECT_EQ(found, 0);
  EXPECT_EQ(v.payload, 0u);
  EXPECT_EQ(v.tag, 0x80000301u);

  ASSERT_EQ(t.create(KeyKind::kInt32, ValueKind::kDouble), 1);
  ASSERT_EQ(t.insert(key.ref(), Arg::of<double>(1.0).ref()), 1);
  t.destroy();
  v = t.get(key.ref(), &found);
  EXPECT_EQ(found, 0);
  EXPECT_EQ(v.tag, 0x80000601u);  // the destroyed table's kind stays
}

TEST_F(RetrievalTest, GetCopiesTextAndBufferValuesAnew) {
  FastHashTable texts;
  ASSERT_EQ(texts.create(KeyKind::kText, ValueKind::kText), 1);
  const Arg k1 = Arg::text("one");
  const Arg k2 = Arg::text("two");
  ASSERT_EQ(texts.insert(k1.ref(), Arg::text("hello").ref()), 1);
  ASSERT_EQ(texts.insert(k2.ref(), Arg::text("").ref()), 1);

  TaggedValue a = texts.get(k1.ref());
  TaggedValue b = texts.get(k1.ref());
  ASSERT_NE(a.text, nullptr);
  ASSERT_NE(b.text, nullptr);
  EXPECT_NE(a.text.get(), b.text.get());
  EXPECT_EQ(a.payload, reinterpret_cast<uintptr_t>(a.text.get()));
  EXPECT_EQ(contents(a.text.get()), "hello");
  EXPECT_EQ(contents(b.text.get()), "hello");
  EXPECT_EQ(a.tag, 0x80000004u);

  int32_t found = 0;
  TaggedValue empty = texts.get(k2.ref(), &found);
  EXPECT_EQ(found, 1);
  EXPECT_EQ(empty.payload, 0u);
  EXPECT_EQ(empty.text, nullptr);

  FastHashTable buffers;
  ASSERT_EQ(buffers.create(KeyKind::kBytes, ValueKind::kBytes), 1);
  const Arg bk = Arg::bytes(std::string_view("k\0y", 3));
  ASSERT_EQ(buffers.insert(bk.ref(), Arg::bytes(std::string_view("a\0b", 3)).ref()), 1);
  TaggedValue c = buffers.get(bk.ref(), &found);
  EXPECT_EQ(found, 1);
  EXPECT_EQ(c.tag, 0x80000005u);
  EXPECT_EQ(c.payload, reinterpret_cast<uintptr_t>(c.buffer.get()));
  EXPECT_EQ(contents(c.buffer.get()), std::string("a\0b", 3));
  // An absent key and a key that differs only after a NUL are other keys.
  EXPECT_EQ(buffers.get(Arg::bytes(std::nullopt).ref(), &found).payload, 0u);
  EXPECT_EQ(found, 0);
  buffers.get(Arg::bytes(std::string_view("k\0z", 3)).ref(), &found);
  EXPECT_EQ(found, 0);
}

struct IntegerAdjustRow {
  int32_t valueKind;
  int64_t initial;
  int64_t operand;
  AdjustOp op;
  int64_t expected;
};

// Stores v in the width of the kind's caller variable (kind 2: a 4-byte field).
Arg storedArg(int32_t valueKind, int64_t v) {
  return valueKind == ValueKind::kInt64 ? Arg::of<int64_t>(v) : Arg::of<int32_t>(static_cast<int32_t>(v));
}
Arg operandArg(int32_t valueKind, int64_t v) {
  switch (valueKind) {
    case ValueKind::kInt16: return Arg::of<int16_t>(static_cast<int16_t>(v));
    case ValueKind::kInt32: return Arg::of<int32_t>(static_cast<int32_t>(v));
    default: return Arg::of<int64_t>(v);
  }
}

TEST_F(RetrievalTest, IntegerAdjustWrapsAndNeverFaultsOnDivision) {
  constexpr int64_t i32min = std::numeric_limits<int32_t>::min();
  constexpr int64_t i32max = std::numeric_limits<int32_t>::max();
  constexpr int64_t i64min = std::numeric_limits<int64_t>::min();
  constexpr int64_t i64max = std::numeric_limits<int64_t>::max();
  const AdjustOp unknown = static_cast<AdjustOp>(9);
  const IntegerAdjustRow rows[] = {
      {3, 7, -2, AdjustOp::divide, -3},
      {3, -7, 2, AdjustOp::divide, -3},
      {3, i32max, 1, AdjustOp::add, i32min},
      {3, i32min, 1, AdjustOp::subtract, i32max},
      {3, 65536, 65536, AdjustOp::multiply, 0},
      {3, i32min, -1, AdjustOp::divide, i32min},
      {3, 42, 0, AdjustOp::divide, 42},
      {3, 42, 5, unknown, 42},
      {2, 32767, 1, AdjustOp::add, -32768},
      {2, -32768, 1, AdjustOp::subtract, 32767},
      {2, 300, 300, AdjustOp::multiply, 24464},  // 90000 mod 2^16
      {2, -32768, -1, AdjustOp::divide, -32768},
      {2, -7, 2, AdjustOp::divide, -3},
      {2, 9, 0, AdjustOp::divide, 9},
      {4, int64_t{1} << 62, 4, AdjustOp::multiply, 0},
      {4, i64max, 1, AdjustOp::add, i64min},
      {4, i64min, -1, AdjustOp::divide, i64min},
      {4, -9, 2, AdjustOp::divide, -4},
      {4, -9, 0, AdjustOp::divide, -9},
  };
  for (const IntegerAdjustRow& row : rows) {
    SCOPED_TRACE(::testing::Message() << "kind " << row.valueKind << ": " << row.initial << " op "
                                      << static_cast<int32_t>(row.op) << " " << row.operand);
    FastHashTable t;
    ASSERT_EQ(t.create(KeyKind::kInt32, row.valueKind), 1);
    const Arg key = Arg::of<int32_t>(3);
    ASSERT_EQ(t.insert(key.ref(), storedArg(row.valueKind, row.initial).ref()), 1);
    const Arg operand = operandArg(row.valueKind, row.operand);
    int64_t result = 0x5A5A5A5A5A5A5A5A;  // only the kind's width may be written
    ASSERT_EQ(t.adjustValue(key.ref(), operand.ref(), row.op, &result), 1);
    const TaggedValue v = t.get(key.ref());
    switch (row.valueKind) {
      case ValueKind::kInt16:
        EXPECT_EQ(v.asInt16(), row.expected);
        EXPECT_EQ(static_cast<int16_t>(result), row.expected);
        EXPECT_EQ(static_cast<uint64_t>(result) >> 16, 0x5A5A5A5A5A5Au);
        break;
      case ValueKind::kInt32:
        EXPECT_EQ(v.asInt32(), row.expected);
        EXPECT_EQ(static_cast<int32_t>(result), row.expected);
        EXPECT_EQ(static_cast<uint64_t>(result) >> 32, 0x5A5A5A5Au);
        break;
      default:
        EXPECT_EQ(v.asInt64(), row.expected);
        EXPECT_EQ(result, row.expected);
        break;
    }
    EXPECT_VALID(t);
  }
}

TEST_F(RetrievalTest, SixteenBitAdjustKeepsTheUpperHalfOfTheField) {
  FastHashTable t;
  ASSERT_EQ(t.create(KeyKind::kInt32, ValueKind::kInt16), 1);
  const Arg key = Arg::of<int32_t>(1);
  ASSERT_EQ(t.insert(key.ref(), Arg::of<uint32_t>(0x7FFF0005u).ref()), 1);
  int16_t result = 0;
  ASSERT_EQ(t.adjustValue(key.ref(), Arg::of<int16_t>(-10).ref(), AdjustOp::add, &result), 1);
  EXPECT_EQ(result, -5);
  EXPECT_EQ(static_cast<uint32_t>(t.get(key.ref()).payload), 0x7FFFFFFBu);
  // Without a result variable the value still changes.
  ASSERT_EQ(t.adjustValue(key.ref(), Arg::of<int16_t>(-3).ref(), AdjustOp::multiply), 1);
  EXPECT_EQ(static_cast<uint32_t>(t.get(key.ref()).payload), 0x7FFF000Fu);
}

struct FloatAdjustRow {
  int32_t valueKind;
  double initial;
  double operand;
  AdjustOp op;
  double expected;  // NaN: the result is a NaN
};

TEST_F(RetrievalTest, FloatAdjustFollowsIeeeArithmetic) {
  const double inf = std::numeric_limits<double>::infinity();
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const FloatAdjustRow rows[] = {
      {5, 1, 0, AdjustOp::divide, inf},     {6, 1, 0, AdjustOp::divide, inf},
      {6, -1, 0, AdjustOp::divide, -inf},   {5, 0, 0, AdjustOp::divide, nan},
      {5, 0.5, 0.25, AdjustOp::add, 0.75},  {6, 3, 1.5, AdjustOp::multiply, 4.5},
      {6, 1, 3, AdjustOp::subtract, -2},    {5, 16777216, 1, AdjustOp::add, 16777216},  // float rounding
      {6, 2.5, 7, static_cast<AdjustOp>(-1), 2.5},
  };
  for (const FloatAdjustRow& row : rows) {
    SCOPED_TRACE(::testing::Message() << "kind " << row.valueKind << ": " << row.initial << " op "
                                      << static_cast<int32_t>(row.op) << " " << row.operand);
    FastHashTable t;
    ASSERT_EQ(t.create(KeyKind::kText, row.valueKind), 1);
    const Arg key = Arg::text("x");
    const bool single = row.valueKind == ValueKind::kFloat;
    const Arg initial = single ? Arg::of<float>(static_cast<float>(row.initial)) : Arg::of<double>(row.initial);
    const Arg operand = single ? Arg::of<float>(static_cast<float>(row.operand)) : Arg::of<double>(row.operand);
    ASSERT_EQ(t.insert(key.ref(), initial.ref()), 1);
    double result = 0;
    float singleResult = 0;
    ASSERT_EQ(t.adjustValue(key.ref(), operand.ref(), row.op, single ? static_cast<void*>(&singleResult) : &result), 1);
    const TaggedValue v = t.get(key.ref());
    const double stored = single ? static_cast<double>(v.asFloat()) : v.asDouble();
    const double delivered = single ? static_cast<double>(singleResult) : result;
    if (std::isnan(row.expected)) {
      EXPECT_TRUE(std::isnan(stored));
      EXPECT_TRUE(std::isnan(delivered));
    } else {
      EXPECT_EQ(stored, row.expected);
      EXPECT_EQ(delivered, row.expected);
    }
  }
}

TEST_F(RetrievalTest, AdjustIsRefusedWithoutArithmeticOrEntry) {
  for (const int32_t kind : {7, 8, 10, 11, 99}) {
    SCOPED_TRACE(kind);
    test::CountingHandler handler;  // outlives the table
    FastHashTable t;
    t.setValueHandler(&handler);
    ASSERT_EQ(t.create(KeyKind::kInt32, kind), 1);
    const Arg key = Arg::of<int32_t>(1);
    const Arg value = kind == 10 ? Arg::text("t") : kind == 11 ? Arg::bytes("b") : Arg::of<uint64_t>(kind == 99 ? 0 : 1);
    ASSERT_EQ(t.insert(key.ref(), value.ref()), 1);
    const uint64_t before = t.get(key.ref()).payload;
    int64_t result = 77;
    EXPECT_EQ(t.adjustValue(key.ref(), Arg::of<int64_t>(1).ref(), AdjustOp::add, &result), 0);
    EXPECT_EQ(result, 77);
    if (kind != 10 && kind != 11) {
      EXPECT_EQ(t.get(key.ref()).payload, before);
    }
  }

  FastHashTable t;
  int32_t result = 77;
  const Arg key = Arg::of<int32_t>(1);
  const Arg one = Arg::of<int32_t>(1);
  EXPECT_EQ(t.adjustValue(key.ref(), one.ref(), AdjustOp::add, &result), 0);  // not created
  ASSERT_EQ(t.create(KeyKind::kInt32, ValueKind::kInt32), 1);
  EXPECT_EQ(t.adjustValue(key.ref(), one.ref(), AdjustOp::add, &result), 0);  // not stored
  EXPECT_EQ(result, 77);
  EXPECT_EQ(t.getCount(), 0);
}

TEST_F(RetrievalTest, RemoveUnlinksHeadMiddleAndTailOfAChain) {
  // With 16 buckets, 5, 21 and 37 share bucket 5 in this order.
  const struct {
    int32_t removed;
    std::vector<int32_t> left;
  } rows[] = {{5, {21, 37}}, {21, {5, 37}}, {37, {5, 21}}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.removed);
    FastHashTable t;
    ASSERT_EQ(t.create(KeyKind::kInt32, ValueKind::kInt32), 1);
    for (int32_t k : {5, 21, 37}) ASSERT_EQ(t.insert(Arg::of(k).ref(), Arg::of(k * 10).ref()), 1);
    const Arg key = Arg::of(row.removed);
    EXPECT_EQ(t.remove(key.ref()), 1);
    EXPECT_VALID(t);
    EXPECT_EQ(t.getCount(), 2);
    EXPECT_EQ(walkInt32Keys(t), row.left);
    EXPECT_EQ(t.contains(key.ref()), 0);
    EXPECT_EQ(t.remove(key.ref()), 0);
    EXPECT_EQ(t.getCount(), 2);
    for (int32_t k : row.left) EXPECT_EQ(t.get(Arg::of(k).ref()).asInt32(), k * 10);
    EXPECT_EQ(t.insert(key.ref(), Arg::of(1).ref()), 1);  // a new entry again
    EXPECT_VALID(t);
  }
}

TEST_F(RetrievalTest, RemoveGivesBackNodesAndValueBlocksOfEveryKeyKind) {
  for (const int32_t keyKind : {3, 4, 10, 11}) {
    for (const int32_t valueKind : {3, 6, 10, 11}) {
      SCOPED_TRACE(::testing::Message() << "kinds " << keyKind << "/" << valueKind);
      FastHashTable t;
      ASSERT_EQ(t.create(keyKind, valueKind, std::nullopt, std::nullopt, 0), 1);
      const std::string long_(300, 'q');  // value blocks of a large class too
      for (int i = 0; i < 40; ++i) {
        const std::string s = std::to_string(i) + (i % 3 == 0 ? long_ : "");
        const Arg value = valueKind == 10 ? Arg::text(s) : valueKind == 11 ? Arg::bytes(s) : Arg::of<uint64_t>(i);
        ASSERT_EQ(t.insert(Arg::key(keyKind, i, s).ref(), value.ref()), 1);
      }
      for (int i = 0; i < 40; i += 2) {
        const std::string s = std::to_string(i) + (i % 3 == 0 ? long_ : "");
        ASSERT_EQ(t.remove(Arg::key(keyKind, i, s).ref()), 1);
        ASSERT_VALID(t);  // also: the pool holds exactly the remaining blocks
      }
      EXPECT_EQ(t.getCount(), 20);
    }
  }
}

TEST_F(RetrievalTest, RemoveRefusesWhatCannotBeStored) {
  FastHashTable t;
  const Arg absent = Arg::text(std::nullopt);
  EXPECT_EQ(t.remove(absent.ref()), 0);  // not created
  ASSERT_EQ(t.create(KeyKind::kText, ValueKind::kInt32), 1);
  EXPECT_EQ(t.remove(Arg::text("a").ref()), 0);  // empty table
  ASSERT_EQ(t.insert(Arg::text("a").ref(), Arg::of(1).ref()), 1);
  EXPECT_EQ(t.remove(absent.ref()), 0);
  EXPECT_EQ(t.remove(Arg::text("").ref()), 0);
  EXPECT_EQ(t.remove(Arg::text("b").ref()), 0);
  EXPECT_EQ(t.getCount(), 1);
  EXPECT_VALID(t);
}

// Bucket count expected on a table grown to 128 buckets once removals have
// left `count` entries.
int32_t halvedBucketCount(int32_t count) {
  if (count > 16) return 128;
  if (count > 8) return 64;
  if (count > 4) return 32;
  return 16;
}

TEST_F(RetrievalTest, RemovalHalvesFrom128DownTo16) {
  for (const int32_t autoShrink : {1, 0}) {
    SCOPED_TRACE(::testing::Message() << "autoShrink " << autoShrink);
    FastHashTable t;
    ASSERT_EQ(t.create(KeyKind::kInt32, ValueKind::kInt32, std::nullopt, std::nullopt, autoShrink), 1);
    for (int32_t k = 0; k < 96; ++k) ASSERT_EQ(t.insert(Arg::of(k).ref(), Arg::of(k).ref()), 1);
    ASSERT_EQ(t.getBucketCount(), 128);
    for (int32_t k = 0; k < 96; ++k) {
      ASSERT_EQ(t.remove(Arg::of(k).ref()), 1);
      const int32_t left = 95 - k;
      ASSERT_EQ(t.getCount(), left);
      ASSERT_EQ(t.getBucketCount(), autoShrink ? halvedBucketCount(left) : 128) << "with " << left << " left";
      ASSERT_VALID(t);
      for (int32_t rest = k + 1; rest < 96; ++rest) ASSERT_EQ(t.get(Arg::of(rest).ref()).asInt32(), rest);
    }
  }
}

TEST_F(RetrievalTest, RemovalThatEmptiesTheTableDoesNotHalve) {
  FastHashTable t;
  ASSERT_EQ(t.create(KeyKind::kInt32, ValueKind::kInt32, 256), 1);
  ASSERT_EQ(t.insert(Arg::of(1).ref(), Arg::of(1).ref()), 1);
  ASSERT_EQ(t.insert(Arg::of(2).ref(), Arg::of(2).ref()), 1);
  ASSERT_EQ(t.remove(Arg::of(1).ref()), 1);
  EXPECT_EQ(t.getBucketCount(), 128);  // once per removal, however sparse
  ASSERT_EQ(t.remove(Arg::of(2).ref()), 1);
  EXPECT_EQ(t.getBucketCount(), 128);
  EXPECT_EQ(t.getCount(), 0);
  EXPECT_VALID(t);
  EXPECT_EQ(t.remove(Arg::of(2).ref()), 0);
}

TEST_F(RetrievalTest, AccessorsReportTheRecordAsItStands) {
  FastHashTable t;
  EXPECT_EQ(t.getBucketCount(), 0);
  EXPECT_EQ(t.getCount(), 0);
  EXPECT_EQ(t.getKeyKind(), 0);
  EXPECT_EQ(t.getValueKind(), 0);

  ASSERT_EQ(t.create(KeyKind::kBytes, ValueKind::kDouble, 100), 1);
  ASSERT_EQ(t.insert(Arg::bytes("k").ref(), Arg::of(1.0).ref()), 1);
  EXPECT_EQ(t.getBucketCount(), 64);
  EXPECT_EQ(t.getCount(), 1);
  EXPECT_EQ(t.getKeyKind(), 11);
  EXPECT_EQ(t.getValueKind(), 6);

  t.destroy();
  EXPECT_EQ(t.getBucketCount(), 0);
  EXPECT_EQ(t.getCount(), 0);
  EXPECT_EQ(t.getKeyKind(), 11);
  EXPECT_EQ(t.getValueKind(), 6);

  ASSERT_EQ(t.create(5, 9), 1);
  EXPECT_EQ(t.getKeyKind(), 3);
  EXPECT_EQ(t.getValueKind(), 3);
}

}  // namespace
}  // namespace linemint
