// The reference protocol client: one connection, one request at a time for
// the whole window with steps 1, each reply read with recv of 65536 bytes and
// one memcpy per read into a reused image buffer. Prints images/s and the
// payload rate (pixel bytes only).
//
// usage: bench_bare_client --port P [--host 127.0.0.1] --size WxH [--images N]

#include "bench_common.h"
#include "imageproto.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace {

int fail(const char* message) {
    std::fprintf(stderr, "bench_bare_client: %s\n", message);
    return 2;
}

bool send_all(int fd, const void* data, size_t n) {
    const auto* p = static_cast<const char*>(data);
    while (n > 0) {
        const ssize_t w = ::send(fd, p, n, MSG_NOSIGNAL);
        if (w <= 0) return false;
        p += w;
        n -= size_t(w);
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    ziv::bench::ClientArgs args;
    if (const auto status = ziv::bench::parse_client_args("bench_bare_client", argc, argv, args)) return *status;
    const char* host = args.host.c_str();
    const int port = args.port, width = args.width, height = args.height, images = args.images;

    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(std::uint16_t(port));
    if (::inet_pton(AF_INET, host, &addr.sin_addr) != 1) return fail("bad host address");
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) return fail("cannot connect");
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);

    const auto request = imageproto::encode(imageproto::ImageRequest{0, 0, width, height, 1, 1});
    std::vector<std::uint8_t> receive(65536);
    std::vector<std::uint8_t> image;
    std::uint8_t header[imageproto::kHeaderSize];
    std::uint64_t payload = 0;

    // One image: returns its pixel count, or -1 on a protocol or connection error.
    auto one_image = [&]() -> std::int64_t {
        if (!send_all(fd, request.data(), request.size())) return -1;
        size_t have = 0;  // header bytes collected
        std::int64_t expected = -1, got = 0;
        while (expected < 0 || got < expected) {
            const ssize_t n = ::recv(fd, receive.data(), receive.size(), 0);
            if (n <= 0) return -1;
            size_t used = 0;
            if (expected < 0) {
                used = std::min(size_t(n), sizeof header - have);
                std::memcpy(header + have, receive.data(), used);
                have += used;
                if (have < sizeof header) continue;
                expected = imageproto::announced_pixels(imageproto::decode_header(header));
                if (expected < 0) return -1;
                if (image.size() < size_t(expected)) image.resize(size_t(expected));
            }
            const size_t take = std::min<std::int64_t>(std::int64_t(n - used), expected - got);
            std::memcpy(image.data() + got, receive.data() + used, take);
            got += std::int64_t(take);
        }
        return expected;
    };

    // Warm-up: connection, buffers allocated and touched.
    for (int i = 0; i < 3; ++i)
        if (one_image() < 0) return fail("connection or protocol error");
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < images; ++i) {
        const std::int64_t n = one_image();
        if (n < 0) return fail("connection or protocol error");
        payload += std::uint64_t(n);
    }
    const double s = ziv::bench::seconds_since(start);
    ::close(fd);
    if (payload != std::uint64_t(images) * std::uint64_t(width) * std::uint64_t(height))
        return fail("the server delivered another size than requested (is its sensor large enough?)");
    std::printf("bare %dx%d images/s %.1f GB/s %.3f ms/image %.4f images %d\n", width, height, images / s,
                double(payload) / s / 1e9, s * 1e3 / images, images);
    return 0;
}
