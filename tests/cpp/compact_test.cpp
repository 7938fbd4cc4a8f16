// Compact value holders of the monitor rows.
#include "fhr_core/model/compact.hpp"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <utility>
#include <vector>

namespace {

using fhr_core::InlineText;
using fhr_core::OptionalValue;

TEST(OptionalValue, BehavesLikeAnOptionalDouble) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double values[] = {0.0, -0.0, 140.25, -1.0, INFINITY, -INFINITY, 1e-310, nan, -nan};
    for (const double v : values) {
        const OptionalValue stored(v);
        ASSERT_TRUE(stored.has_value()) << v;
        EXPECT_EQ(std::bit_cast<std::uint64_t>(*stored), std::bit_cast<std::uint64_t>(v)) << v;
        const std::optional<double> back = stored;
        EXPECT_EQ(std::bit_cast<std::uint64_t>(*back), std::bit_cast<std::uint64_t>(v));
    }
    OptionalValue absent;
    EXPECT_FALSE(absent.has_value());
    EXPECT_FALSE(static_cast<std::optional<double>>(absent).has_value());
    EXPECT_EQ(absent, std::nullopt);
    EXPECT_EQ(absent.value_or(7.0), 7.0);
    absent = 3.5;
    EXPECT_EQ(absent, 3.5);
    absent = std::optional<double>();
    EXPECT_FALSE(absent);
}

TEST(OptionalValue, TheAbsenceMarkerNeverSwallowsAPresentValue) {
    // Every NaN payload, the marker's own included, stays a present NaN.
    for (const std::uint64_t sign : {std::uint64_t{0}, std::uint64_t{1} << 63}) {
        const double marker = std::bit_cast<double>(0x7FF4'0000'0000'A85Eull | sign);
        const OptionalValue stored(marker);
        ASSERT_TRUE(stored.has_value());
        EXPECT_TRUE(std::isnan(*stored));
        EXPECT_EQ(std::signbit(*stored), sign != 0);
    }
}

TEST(InlineText, HoldsShortAndLongTextsAcrossCopiesAndMoves) {
    // Inline lengths of each copy width (1-3, 4-7, 8-15, 16-30 bytes) in distinct characters, so that a piece
    // written before it was read shows.
    const std::string texts[] = {"", "abc", "abcdefg", "0123456789abcde", "2024-03-10 14:05:09.250",
                                 "0123456789abcdefghijklmnopqrst", std::string(31, 'y'), std::string(32, 'w'),
                                 "2024-03-10 14:05:09.250+02:00:00:00:00", std::string(1000, 'z')};
    for (const std::string& text : texts) {
        InlineText a(text);
        EXPECT_EQ(a, text);
        EXPECT_EQ(a.size(), text.size());
        InlineText b = a;                 // copy
        EXPECT_EQ(b, text);
        InlineText c = std::move(a);      // move
        EXPECT_EQ(c, text);
        EXPECT_TRUE(a.empty());           // NOLINT: moved-from is empty by design
        a = c;                            // copy-assign into a used object
        EXPECT_EQ(a, text);
        a = a;                            // self-assignment keeps the text
        EXPECT_EQ(a, text);
        a.assign(a.view().substr(a.size() / 2));  // assign from its own characters
        EXPECT_EQ(a, text.substr(text.size() / 2));
        b = std::move(c);
        EXPECT_EQ(b, text);
    }
    std::vector<InlineText> many(1000, InlineText(std::string(40, 'q')));
    many.resize(5000);  // reallocation moves heap-held texts
    EXPECT_EQ(many[999], std::string(40, 'q'));
    EXPECT_TRUE(many[4999].empty());
}

}  // namespace
