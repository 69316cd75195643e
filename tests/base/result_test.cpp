#include "base/result.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <tuple>
#include <type_traits>

namespace {

// A Status, successful or not, never becomes a Result by itself: a success turned into a
// failure with no detail is the mistake this rules out at compile time.
static_assert(!std::is_constructible_v<base::Result<int>, base::Status>);
static_assert(!std::is_convertible_v<base::Status, base::Result<std::string>>);
static_assert(std::is_convertible_v<base::Error, base::Result<int>>);
static_assert(std::is_convertible_v<base::Error, base::Status>);
static_assert(!std::is_default_constructible_v<base::Error>);

TEST(ResultTest, AFailureKeepsItsKindAndDetailThroughEveryHop) {
    const base::Status refused = base::Status::failure(base::Failure::Busy, "drive A: is mounted");
    const base::Result<int> passedOn = refused.error();
    const base::Status back = passedOn.status();
    for (const auto& [ok, kind, detail] :
         {std::tuple{refused.ok(), refused.kind(), refused.message()},
          std::tuple{passedOn.ok(), passedOn.kind(), passedOn.message()},
          std::tuple{back.ok(), back.kind(), back.message()}}) {
        EXPECT_FALSE(ok);
        EXPECT_EQ(kind, base::Failure::Busy);
        EXPECT_EQ(detail, "drive A: is mounted");
    }
    const base::Result<int> value = 7;
    EXPECT_TRUE(value.status().ok());
    EXPECT_EQ(*value, 7);
}

// A success has no failure kind to report, so no test of a kind can mistake it for one.
TEST(ResultTest, ASuccessReportsNoKind) {
    const base::Result<int> value = 7;
    EXPECT_EQ(value.kind(), std::nullopt);
    EXPECT_EQ(base::Status::success().kind(), std::nullopt);
    EXPECT_EQ(value.status().kind(), std::nullopt);
    EXPECT_NE(base::Status::success().kind(), base::Failure::Other);
}

#ifndef NDEBUG
TEST(ResultDeathTest, ASuccessHasNoErrorToPassOn) {
    EXPECT_DEATH((void)base::Status::success().error(), "carries no error");
}

TEST(ResultDeathTest, AFailureHasNoValueToRead) {
    base::Result<std::string> failed = base::Status::failure(base::Failure::IoError, "sector 5");
    EXPECT_DEATH((void)failed.value(), "carries no value");
    EXPECT_DEATH((void)*failed, "carries no value");
    EXPECT_DEATH((void)failed->size(), "carries no value");
}
#endif

}  // namespace
