#include <gtest/gtest.h>

#include "ui/VersionCaption.h"

TEST(VersionCaptionTest, MonthAndDayShowTwoDigits) {
    const struct {
        int stamp;
        const char* caption;
    } cases[] = {
        {20250225, "批打印软件 V2025.02.25"}, {20250101, "批打印软件 V2025.01.01"},
        {20241231, "批打印软件 V2024.12.31"}, {20251009, "批打印软件 V2025.10.09"},
        {20250910, "批打印软件 V2025.09.10"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.stamp);
        EXPECT_STREQ(c.caption, FormatVersionCaption(c.stamp));
    }
}
