// The reference expansion of 8-bit grey to 32-bit pixels 0xFFvvvvvv over a
// reused buffer, the one conversion a display of the image cannot avoid.
// Prints the time per image.
//
// usage: bench_expand --size WxH [--images N]

#include "bench_common.h"

#include <cstdint>
#include <vector>

namespace {

__attribute__((noinline)) void expand(const std::uint8_t* src, std::uint32_t* dst, size_t n) {
    for (size_t i = 0; i < n; ++i) dst[i] = 0xFF000000u | (std::uint32_t(src[i]) * 0x010101u);
}

}  // namespace

int main(int argc, char** argv) {
    int width = 0, height = 0, images = 0;
    const ziv::cmdline::CommandLine command_line{
        .program = "bench_expand",
        .options = {ziv::bench::size_option(width, height),
                    ziv::bench::images_option(images, "images to time (default: about 500 MB of pixels)")},
    };
    if (const auto status = command_line.parse_main(argc, argv)) return *status;
    const size_t n = size_t(width) * size_t(height);
    if (images == 0) images = std::max(10, int(5e8 / double(n)));

    std::vector<std::uint8_t> grey(n);
    for (size_t i = 0; i < n; ++i) grey[i] = std::uint8_t(i * 7 + i / 4093);
    std::vector<std::uint32_t> pixels(n);
    expand(grey.data(), pixels.data(), n);  // pages touched before timing

    const auto start = std::chrono::steady_clock::now();
    for (int k = 0; k < images; ++k) {
        grey[size_t(k) % n] = std::uint8_t(k);  // a different image each time
        expand(grey.data(), pixels.data(), n);
    }
    const double s = ziv::bench::seconds_since(start);
    volatile std::uint32_t sink = pixels[n / 2] ^ pixels[size_t(images) % n];
    (void)sink;
    std::printf("expand %dx%d ms/image %.3f images/s %.1f images %d\n", width, height, s * 1e3 / images, images / s,
                images);
    return 0;
}
