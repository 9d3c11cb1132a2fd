// zivcam's live stream into one reused Image, timed like the reference
// client: the same command line, the same output line (first word "zivcam").
//
// usage: bench_zivcam_stream --port P [--host 127.0.0.1] --size WxH [--images N]
#include "bench_common.h"

#include "zivcam/camera.h"

int main(int argc, char** argv) {
    ziv::bench::ClientArgs args;
    if (const auto status = ziv::bench::parse_client_args("bench_zivcam_stream", argc, argv, args)) return *status;
    try {
        ziv::Camera cam(args.host, args.port, std::chrono::seconds(10));
        cam.start_stream({0, 0, args.width, args.height, 1, 1});
        ziv::Image image;
        for (int i = 0; i < 3; ++i) cam.next(image);  // warm-up: connection, buffer grown and touched
        std::uint64_t payload = 0;
        const auto start = std::chrono::steady_clock::now();
        for (int i = 0; i < args.images; ++i) {
            cam.next(image);
            payload += std::uint64_t(image.geometry().pixel_bytes());
        }
        const double s = ziv::bench::seconds_since(start);
        if (payload != std::uint64_t(args.images) * std::uint64_t(args.width) * std::uint64_t(args.height)) {
            std::fprintf(stderr, "bench_zivcam_stream: the server delivered another size than requested\n");
            return 2;
        }
        std::printf("zivcam %dx%d images/s %.1f GB/s %.3f ms/image %.4f images %d\n", args.width, args.height,
                    args.images / s, double(payload) / s / 1e9, s * 1e3 / args.images, args.images);
    } catch (const ziv::Error& e) {
        std::fprintf(stderr, "bench_zivcam_stream: %s\n", e.what());
        return 2;
    }
    return 0;
}
