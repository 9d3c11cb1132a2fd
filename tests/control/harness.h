// A control on a scripted socket, with every PictureReady status recorded and
// an optional action run from inside the status handler.
#pragma once

#include <cstring>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "function_sink.h"
#include "imageproto.h"
#include "scripted_socket.h"
#include "zivcontrolctrl.h"

// Pixel (x, y) of test image number `seed`.
inline BYTE PatternPixel(int x, int y, int seed) { return BYTE(x * 3 + y * 7 + seed * 11); }

inline std::vector<BYTE> Pixels(int width, int rows, int seed) {
    std::vector<BYTE> p(size_t(width) * rows);
    for (int y = 0; y < rows; ++y)
        for (int x = 0; x < width; ++x) p[size_t(y) * width + x] = PatternPixel(x, y, seed);
    return p;
}

// A whole reply: header with the geometry and total length 28 + pixels, then
// the pixels; `total` overrides the length field.
inline std::vector<BYTE> Reply(const imageproto::ImageHeader& geometry, const std::vector<BYTE>& pixels,
                               std::optional<std::int32_t> total = {}) {
    imageproto::ImageHeader h = geometry;
    h.total = total ? *total : std::int32_t(imageproto::kHeaderSize + pixels.size());
    std::vector<BYTE> bytes(imageproto::kHeaderSize + pixels.size());
    imageproto::encode(h, bytes.data());
    if (!pixels.empty()) std::memcpy(bytes.data() + imageproto::kHeaderSize, pixels.data(), pixels.size());
    return bytes;
}

inline std::vector<BYTE> Reply(int x, int y, int dx, int dy, int incrx, int incry, int seed) {
    const imageproto::ImageHeader h{0, x, y, dx, dy, incrx, incry};
    return Reply(h, Pixels(int(imageproto::image_width(dx, incrx)), int(imageproto::image_rows(dy, incry)), seed));
}

struct Harness {
    ScriptedSocket* sock;
    std::unique_ptr<CZiVControlCtrl> ctrl;
    std::vector<LONG> statuses;
    std::function<void(LONG)> onStatus;  // runs inside the handler

    Harness() {
        auto socket = std::make_unique<ScriptedSocket>();
        sock = socket.get();
        ctrl = std::make_unique<CZiVControlCtrl>(std::move(socket));
        ctrl->SetServer("camera");
        ctrl->SetPort(2002);
        FunctionSink::Advise(ctrl->GetControllingUnknown(), DIID__DZiVControlEvents,
                             [this](DISPID dispid, LONG status) {
                                 EXPECT_EQ(dispid, 1);
                                 statuses.push_back(status);
                                 if (onStatus) onStatus(status);
                             });
    }

    // RequestImage and a successful connect: the request is on the wire.
    void Start(int dx = 16, int dy = 8, int incrx = 1, int incry = 1) {
        ctrl->RequestImage(0, 0, dx, dy, incrx, incry);
        sock->Connected();
    }
    std::vector<LONG> Take() {
        std::vector<LONG> s;
        s.swap(statuses);
        return s;
    }
};
