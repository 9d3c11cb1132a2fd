// The wire codec and the size rule.
#include "imageproto.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <vector>

using namespace imageproto;

namespace {

std::vector<std::uint8_t> bytes(std::initializer_list<int> list) {
    std::vector<std::uint8_t> v;
    for (int b : list) v.push_back(static_cast<std::uint8_t>(b));
    return v;
}

template <size_t N>
std::vector<std::uint8_t> bytes(const std::array<std::uint8_t, N>& a) {
    return {a.begin(), a.end()};
}

TEST(ImageProtocol, RequestOfTheWorkedExample) {
    const ImageRequest r{100, 50, 320, 240, 2, 2};
    const auto expected =
        bytes({0x64, 0, 0, 0, 0x32, 0, 0, 0, 0x40, 0x01, 0, 0, 0xF0, 0, 0, 0, 2, 0, 0, 0, 2, 0, 0, 0});
    EXPECT_EQ(bytes(encode(r)), expected);
    EXPECT_EQ(decode_request(expected.data()), r);
}

TEST(ImageProtocol, HeaderOfTheWorkedExample) {
    // 160 x 120 pixels after the steps: 19200 pixel bytes and 28 header bytes.
    const std::int64_t pixels = image_pixel_count(320, 240, 2, 2);
    ASSERT_EQ(pixels, 19200);
    const ImageHeader h{static_cast<std::int32_t>(kHeaderSize + pixels), 100, 50, 320, 240, 2, 2};
    const auto expected = bytes(
        {0x1C, 0x4B, 0, 0, 0x64, 0, 0, 0, 0x32, 0, 0, 0, 0x40, 0x01, 0, 0, 0xF0, 0, 0, 0, 2, 0, 0, 0, 2, 0, 0, 0});
    EXPECT_EQ(bytes(encode(h)), expected);
    const ImageHeader back = decode_header(expected.data());
    EXPECT_EQ(back, h);
    EXPECT_EQ(back.total, 19228);
    EXPECT_EQ(announced_pixels(back), 19200);
}

TEST(ImageProtocol, ExtremeValuesSurviveTheRoundTrip) {
    const std::int32_t values[] = {0, 1, -1, INT32_MAX, INT32_MIN, 0x01020304, -0x01020304};
    for (std::int32_t v : values) {
        SCOPED_TRACE(v);
        const ImageHeader h{v, v, ~v, v ^ 0x55, v, 7, v};
        std::uint8_t buf[kHeaderSize];
        encode(h, buf);
        EXPECT_EQ(decode_header(buf), h);
        const ImageRequest r{v, v, 1, v, v, -7};
        std::uint8_t rbuf[kRequestSize];
        encode(r, rbuf);
        EXPECT_EQ(decode_request(rbuf), r);
    }
    // Little-endian regardless of the field: the lowest byte first.
    const auto b = encode(ImageRequest{-2, 0, 0, 0, 0, 0});
    EXPECT_EQ(bytes(b)[0], 0xFE);
    EXPECT_EQ(bytes(b)[3], 0xFF);
}

TEST(ImageProtocol, SizeRule) {
    struct Case {
        std::int64_t size, step, count;
    };
    const Case cases[] = {
        {640, 3, 214},
        {480, 1, 480},
        {10, 3, 4},
        {9, 3, 3},
        {1, 5, 1},
        {0, 4, 0},
        {-7, 2, -3},  // truncated toward zero; the remainder is negative
        {INT32_MAX, 1, INT32_MAX},
        {INT32_MAX, INT32_MAX, 1},
        {INT32_MIN, -1, 2147483648LL},  // would overflow in 32 bits
        {5, 0, 0},                      // no quotient: reported as 0
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.size << " / " << c.step);
        EXPECT_EQ(image_width(c.size, c.step), c.count);
        EXPECT_EQ(image_rows(c.size, c.step), c.count);
    }
    struct StrideCase {
        std::int64_t width, stride;
    };
    const StrideCase strides[] = {{214, 216}, {101, 104}, {4, 4}, {1, 4}, {0, 0}, {INT32_MAX, 2147483648LL}};
    for (const auto& c : strides) EXPECT_EQ(image_stride(c.width), c.stride) << c.width;
}

TEST(ImageProtocol, PixelCountNeverOverflowsAndNeedsAValidGeometry) {
    EXPECT_EQ(image_pixel_count(INT32_MAX, INT32_MAX, 1, 1), std::int64_t(INT32_MAX) * INT32_MAX);
    EXPECT_EQ(image_stride(INT32_MAX) * image_rows(INT32_MAX, 1), 2147483648LL * INT32_MAX);
    EXPECT_EQ(image_pixel_count(640, 480, 0, 1), 0);
    EXPECT_EQ(image_pixel_count(-640, 480, 1, 1), 0);
    EXPECT_EQ(image_pixel_count(640, 480, 1, -1), 0);
    EXPECT_EQ(image_pixel_count(ImageHeader{0, 0, 0, 10, 10, 3, 3}), 16);
    EXPECT_EQ(announced_pixels(ImageHeader{INT32_MIN, 0, 0, 0, 0, 0, 0}), std::int64_t(INT32_MIN) - 28);
}

}  // namespace
