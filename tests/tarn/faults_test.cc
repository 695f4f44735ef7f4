// The fault book: planned results come in order, skips and counts hold, and a book whose plans
// are used up or cleared lets every call run again (it then answers without its lock).
#include <gtest/gtest.h>

#include "tarn/server/faults.h"

namespace {

kxTarn::FaultPlan returning(const char* operation, int code, int count, int skip = 0) {
  kxTarn::FaultPlan plan;
  plan.operation = operation;
  plan.mode = tarn::FaultBook::kReturn;
  plan.skip = skip;
  plan.count = count;
  plan.exceptionName = "";
  plan.code = code;
  plan.stallMs = 0;
  return plan;
}

TEST(FaultBookTest, PlansRunInOrderAndUsedUpOrClearedPlansLetCallsRun) {
  tarn::FaultBook book;
  EXPECT_EQ(book.enter("get_point"), 0) << "no plan";

  book.plan(returning("get_point", 2042, 2, 1));
  book.plan(returning("set_point", 2043, 1));
  EXPECT_EQ(book.enter("get_point"), 0) << "the skipped call";
  EXPECT_EQ(book.enter("get_point"), 2042);
  EXPECT_EQ(book.enter("set_point"), 2043);
  EXPECT_EQ(book.enter("set_point"), 0) << "its one fault used up";
  EXPECT_EQ(book.enter("get_point"), 2042);
  EXPECT_EQ(book.enter("get_point"), 0) << "every plan used up";

  book.plan(returning("get_point", 2044, 1));
  EXPECT_EQ(book.enter("get_point"), 2044) << "a plan made after the book emptied";
  book.plan(returning("get_point", 2045, 5));
  book.plan(returning("remove_point", 2046, 0));
  EXPECT_EQ(book.enter("remove_point"), 0) << "a plan of no calls is no plan";
  book.clear();
  EXPECT_EQ(book.enter("get_point"), 0) << "cleared";

  EXPECT_THROW(
      {
        kxTarn::FaultPlan raise = returning("get_point", 0, 1);
        raise.mode = tarn::FaultBook::kRaise;
        raise.exceptionName = "TRANSIENT";
        book.plan(raise);
        book.enter("get_point");
      },
      CORBA::TRANSIENT);
  EXPECT_EQ(book.enter("get_point"), 0);
}

}  // namespace
