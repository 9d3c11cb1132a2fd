// The connection state machine, driven by a scripted socket.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>

#include "harness.h"

using namespace imageproto;

namespace {

using Statuses = std::vector<LONG>;

const ImageHeader k16x8{0, 0, 0, 16, 8, 1, 1};

std::vector<BYTE> Request(int x, int y, int dx, int dy, int incrx, int incry) {
    const RequestBytes b = encode(ImageRequest{x, y, dx, dy, incrx, incry});
    return {b.begin(), b.end()};
}

enum class From { Idle, Connecting, Requested, Receiving };

void BringTo(Harness& h, From state) {
    if (state == From::Idle) return;
    h.ctrl->RequestImage(0, 0, 16, 8, 1, 1);
    if (state == From::Connecting) return;
    h.sock->Connected();
    if (state == From::Requested) return;
    const std::vector<BYTE> reply = Reply(k16x8, Pixels(16, 8, 1));
    h.sock->Deliver({reply.begin(), reply.begin() + 40});
}

struct Row {
    const char* name;
    From from;
    std::function<void(Harness&)> event;
    Statuses statuses;  // fired by the event
    BOOL busy;          // afterwards
    bool open;          // connection still up afterwards
    bool receiving;     // an image in reception afterwards
};

TEST(ControlTransitions, EveryRowOfTheTable) {
    const auto partialRead = [](Harness& h) {
        const std::vector<BYTE> r = Reply(k16x8, Pixels(16, 8, 1));
        h.sock->Deliver({r.begin(), r.begin() + 50});
    };
    const auto wholeRead = [](Harness& h) { h.sock->Deliver(Reply(k16x8, Pixels(16, 8, 1))); };
    const auto restRead = [](Harness& h) {
        const std::vector<BYTE> r = Reply(k16x8, Pixels(16, 8, 1));
        h.sock->Deliver({r.begin() + 40, r.end()});
    };
    const Row rows[] = {
        {"idle, RequestImage",
         From::Idle,
         [](Harness& h) { h.ctrl->RequestImage(1, 2, 3, 4, 1, 1); },
         {},
         FALSE,
         false,
         false},
        {"receiving, RequestImage",
         From::Receiving,
         [](Harness& h) { h.ctrl->RequestImage(1, 2, 3, 4, 1, 1); },
         {},
         FALSE,
         false,
         false},
        {"receiving, Abort", From::Receiving, [](Harness& h) { h.ctrl->Abort(); }, {}, FALSE, false, false},
        {"connecting, Abort", From::Connecting, [](Harness& h) { h.ctrl->Abort(); }, {}, FALSE, false, false},
        {"connecting, connected",
         From::Connecting,
         [](Harness& h) { h.sock->Connected(); },
         {PR_REQUEST_SENT},
         TRUE,
         true,
         false},
        {"connecting, connect failed",
         From::Connecting,
         [](Harness& h) { h.sock->ConnectFails(WSAECONNREFUSED); },
         {PR_CONNECT_FAILED},
         FALSE,
         false,
         false},
        {"connecting, connected but send fails",
         From::Connecting,
         [](Harness& h) {
             h.sock->failSend = true;
             h.sock->Connected();
         },
         {PR_SEND_FAILED},
         TRUE,
         true,
         false},
        {"requested, first read with part of the image",
         From::Requested,
         partialRead,
         {PR_IMAGE_STARTED},
         TRUE,
         true,
         true},
        {"requested, first read with the whole image",
         From::Requested,
         wholeRead,
         {PR_IMAGE_STARTED, PR_IMAGE_READY},
         FALSE,
         false,
         false},
        {"receiving, read that does not finish",
         From::Receiving,
         [](Harness& h) { h.sock->Deliver(std::vector<BYTE>(5, 0)); },
         {},
         TRUE,
         true,
         true},
        {"receiving, read that finishes", From::Receiving, restRead, {PR_IMAGE_READY}, FALSE, false, false},
        {"requested, server closes",
         From::Requested,
         [](Harness& h) { h.sock->PeerCloses(); },
         {PR_CONNECTION_CLOSED},
         FALSE,
         false,
         false},
        {"receiving, server resets",
         From::Receiving,
         [](Harness& h) { h.sock->PeerCloses(WSAECONNRESET); },
         {PR_CONNECTION_CLOSED},
         FALSE,
         false,
         false},
        {"requested, read error",
         From::Requested,
         [](Harness& h) { h.sock->ReceiveError(WSAECONNRESET); },
         {PR_RECEIVE_FAILED},
         FALSE,
         false,
         false},
        {"receiving, read error",
         From::Receiving,
         [](Harness& h) { h.sock->ReceiveError(WSAENETDOWN); },
         {PR_RECEIVE_FAILED},
         FALSE,
         false,
         false},
        {"requested, send error",
         From::Requested,
         [](Harness& h) { h.sock->SendError(WSAENETDOWN); },
         {PR_SEND_FAILED},
         TRUE,
         true,
         false},
        {"receiving, send error",
         From::Receiving,
         [](Harness& h) { h.sock->SendError(WSAENETDOWN); },
         {PR_SEND_FAILED},
         TRUE,
         true,
         true},
        {"requested, writable without error",
         From::Requested,
         [](Harness& h) { h.sock->SendError(0); },
         {},
         TRUE,
         true,
         false},
        {"requested, an unknown notification",
         From::Requested,
         [](Harness& h) { h.sock->Notify(0x0FFF, 0); },
         {},
         TRUE,
         true,
         false},
        {"requested, negative total length",
         From::Requested,
         [](Harness& h) { h.sock->Deliver(Reply(k16x8, {}, 27)); },
         {PR_NO_MEMORY},
         FALSE,
         false,
         false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Harness h;
        BringTo(h, row.from);
        h.Take();
        row.event(h);
        EXPECT_EQ(h.Take(), row.statuses);
        EXPECT_EQ(h.ctrl->GetBusy(), row.busy);
        EXPECT_EQ(h.sock->connected, row.open);
        EXPECT_EQ(h.ctrl->GetExpected() > 0, row.receiving);
        if (!row.receiving) {
            EXPECT_EQ(h.ctrl->GetReceived(), 0);
        }
    }
}

TEST(ControlExchange, SingleImageSendsTheRequestAndClosesBeforeStatusZero) {
    Harness h;
    bool openAtZero = true;
    BOOL busyAtZero = TRUE, busyAtEight = FALSE, busyAtNine = FALSE;
    h.onStatus = [&](LONG s) {
        if (s == PR_IMAGE_READY) {
            openAtZero = h.sock->connected;
            busyAtZero = h.ctrl->GetBusy();
        }
        if (s == PR_IMAGE_STARTED) busyAtEight = h.ctrl->GetBusy();
        if (s == PR_REQUEST_SENT) busyAtNine = h.ctrl->GetBusy();
    };
    h.ctrl->RequestImage(100, 50, 320, 240, 2, 2);
    EXPECT_EQ(h.ctrl->GetBusy(), FALSE) << "not busy while connecting";
    ASSERT_EQ(h.sock->hosts, std::vector<std::string>{"camera"});
    EXPECT_EQ(h.sock->ports, std::vector<UINT>{2002});
    h.sock->Connected();
    const std::vector<BYTE> expected = {0x64, 0, 0, 0, 0x32, 0, 0, 0, 0x40, 1, 0, 0,
                                        0xF0, 0, 0, 0, 2,    0, 0, 0, 2,    0, 0, 0};
    ASSERT_EQ(h.sock->sent.size(), 1u);
    EXPECT_EQ(h.sock->sent[0], expected);
    const std::vector<BYTE> reply = Reply(100, 50, 320, 240, 2, 2, 3);
    EXPECT_EQ(reply.size(), 19228u);
    h.sock->Deliver(reply, {1000});
    EXPECT_EQ(h.Take(), (Statuses{PR_REQUEST_SENT, PR_IMAGE_STARTED, PR_IMAGE_READY}));
    EXPECT_FALSE(openAtZero);
    EXPECT_EQ(busyAtZero, FALSE);
    EXPECT_EQ(busyAtEight, TRUE);
    EXPECT_EQ(busyAtNine, TRUE);
    LONG x, y, w, r;
    h.ctrl->GetImgAttrib(&x, &y, &w, &r);
    EXPECT_EQ((std::vector<LONG>{x, y, w, r}), (std::vector<LONG>{100, 50, 160, 120}));
    EXPECT_EQ(std::memcmp(h.ctrl->GetPixelRows(), Pixels(160, 120, 3).data(), 160 * 120), 0);
}

TEST(ControlExchange, ReadsOfAnySizeGiveTheSameImage) {
    // 300 x 250 is larger than one read, so both read paths are used; 101 wide
    // has fill bytes in its rows.
    for (const auto& [width, rows] : {std::pair{300, 250}, std::pair{101, 9}}) {
        const std::vector<BYTE> reply = Reply(7, 9, width, rows, 1, 1, 5);
        Harness whole;
        whole.Start(width, rows);
        whole.sock->Deliver(reply);
        ASSERT_EQ(whole.Take(), (Statuses{PR_REQUEST_SENT, PR_IMAGE_STARTED, PR_IMAGE_READY}));
        const std::int64_t bytes = image_stride(width) * rows;
        const std::vector<BYTE> expected(whole.ctrl->GetPixelRows(), whole.ctrl->GetPixelRows() + bytes);

        const std::vector<std::vector<int>> splits = {
            {1}, {28, 1}, {29, 65536}, {65536}, {65537}, {7919}, {3, 20, 5, 1000}, {27, 2, 65535}, {40, 65536, 1, 13}};
        for (const std::vector<int>& sizes : splits) {
            SCOPED_TRACE(testing::Message() << width << "x" << rows << " first read " << sizes[0]);
            Harness h;
            h.Start(width, rows);
            h.sock->Deliver(reply, sizes);
            EXPECT_EQ(h.Take(), (Statuses{PR_REQUEST_SENT, PR_IMAGE_STARTED, PR_IMAGE_READY}));
            ASSERT_NE(h.ctrl->GetPixelRows(), nullptr);
            EXPECT_EQ(std::vector<BYTE>(h.ctrl->GetPixelRows(), h.ctrl->GetPixelRows() + bytes), expected);
            for (int asked : h.sock->readSizes) EXPECT_LE(asked, 65536);
        }
    }
}

TEST(ControlExchange, LiveStreamsOnOneConnectionAndReusesItsBuffers) {
    Harness h;
    h.ctrl->SetLive(TRUE);
    std::vector<BOOL> busyAfterZero;
    h.onStatus = [&](LONG s) {
        if (s == PR_REQUEST_SENT && h.sock->sent.size() > 1) busyAfterZero.push_back(h.ctrl->GetBusy());
    };
    h.Start(64, 32);
    std::vector<const BYTE*> rows, images;
    std::vector<const CBitmap*> bitmaps;
    std::vector<const uchar*> bits;
    for (int i = 0; i < 6; ++i) {
        h.sock->Deliver(Reply(0, 0, 64, 32, 1, 1, i), {1000});
        rows.push_back(h.ctrl->GetPixelRows());
        images.push_back(h.ctrl->GetImageBuffer());
        bitmaps.push_back(h.ctrl->GetDisplayBitmap());
        bits.push_back(h.ctrl->GetDisplayBitmap()->Image().constBits());
        EXPECT_EQ(std::memcmp(h.ctrl->GetPixelRows(), Pixels(64, 32, i).data(), 64 * 32), 0) << "image " << i;
    }
    Statuses expected = {PR_REQUEST_SENT};
    for (int i = 0; i < 6; ++i) expected.insert(expected.end(), {PR_IMAGE_STARTED, PR_IMAGE_READY, PR_REQUEST_SENT});
    EXPECT_EQ(h.Take(), expected);
    ASSERT_EQ(h.sock->sent.size(), 7u);
    for (const auto& request : h.sock->sent) EXPECT_EQ(request, Request(0, 0, 64, 32, 1, 1));
    EXPECT_TRUE(h.sock->connected);
    EXPECT_EQ(h.sock->creates, 1);
    EXPECT_EQ(busyAfterZero, std::vector<BOOL>(6, FALSE));
    // From the third image on, the buffers and bitmaps only trade places.
    for (int i = 3; i < 6; ++i) {
        EXPECT_EQ(rows[i], rows[i - 2]);
        EXPECT_EQ(images[i], images[i - 2]);
        EXPECT_EQ(bitmaps[i], bitmaps[i - 2]);
        EXPECT_EQ(bits[i], bits[i - 2]);
    }
}

// `live` switched at the points where it matters.
struct LiveSwitch {
    const char* name;
    BOOL liveAtStart;
    BOOL switchTo;
    bool inStatusZeroHandler;  // else: between two reads of the image
    Statuses tail;             // statuses after the image started
    bool openAfter;
    size_t requestsSent;
};

TEST(ControlExchange, LiveSwitchedOnAndOff) {
    const LiveSwitch cases[] = {
        {"off during a live reception", TRUE, FALSE, false, {PR_IMAGE_READY}, false, 1},
        {"on during a single reception", FALSE, TRUE, false, {PR_IMAGE_READY, PR_REQUEST_SENT}, true, 2},
        {"off in the status 0 handler", TRUE, FALSE, true, {PR_IMAGE_READY}, true, 1},
        {"on in the status 0 handler", FALSE, TRUE, true, {PR_IMAGE_READY, PR_SEND_FAILED}, false, 1},
    };
    for (const LiveSwitch& c : cases) {
        SCOPED_TRACE(c.name);
        Harness h;
        h.ctrl->SetLive(c.liveAtStart);
        bool openAtZero = false;
        h.onStatus = [&](LONG s) {
            if (s != PR_IMAGE_READY) return;
            openAtZero = h.sock->connected;
            if (c.inStatusZeroHandler) h.ctrl->SetLive(c.switchTo);
        };
        h.Start();
        const std::vector<BYTE> reply = Reply(k16x8, Pixels(16, 8, 2));
        h.sock->Deliver({reply.begin(), reply.begin() + 60});
        h.Take();
        if (!c.inStatusZeroHandler) h.ctrl->SetLive(c.switchTo);
        h.sock->Deliver({reply.begin() + 60, reply.end()});
        EXPECT_EQ(h.Take(), c.tail);
        EXPECT_EQ(openAtZero, c.inStatusZeroHandler ? bool(c.liveAtStart) : bool(c.switchTo));
        EXPECT_EQ(h.sock->connected, c.openAfter);
        EXPECT_EQ(h.sock->sent.size(), c.requestsSent);
        EXPECT_EQ(h.ctrl->GetLive(), c.switchTo);
    }
}

TEST(ControlExchange, CallsBackFromStatusHandlers) {
    {
        SCOPED_TRACE("Abort in the status 0 handler of live mode");
        Harness h;
        h.ctrl->SetLive(TRUE);
        h.onStatus = [&](LONG s) {
            if (s == PR_IMAGE_READY) h.ctrl->Abort();
        };
        h.Start();
        h.sock->Deliver(Reply(k16x8, Pixels(16, 8, 0)));
        EXPECT_EQ(h.Take(), (Statuses{PR_REQUEST_SENT, PR_IMAGE_STARTED, PR_IMAGE_READY, PR_SEND_FAILED}));
        EXPECT_FALSE(h.sock->connected);
        EXPECT_EQ(h.ctrl->GetLive(), TRUE);
    }
    {
        SCOPED_TRACE("RequestImage in the status 0 handler of live mode");
        Harness h;
        h.ctrl->SetLive(TRUE);
        h.onStatus = [&](LONG s) {
            if (s == PR_IMAGE_READY && h.sock->creates == 1) h.ctrl->RequestImage(0, 0, 16, 8, 1, 1);
        };
        h.Start();
        h.sock->Deliver(Reply(k16x8, Pixels(16, 8, 0)));
        EXPECT_EQ(h.Take(), (Statuses{PR_REQUEST_SENT, PR_IMAGE_STARTED, PR_IMAGE_READY, PR_SEND_FAILED}));
        EXPECT_EQ(h.sock->creates, 2);
        h.sock->Connected();
        h.sock->Deliver(Reply(k16x8, Pixels(16, 8, 1)));
        EXPECT_EQ(h.Take(), (Statuses{PR_REQUEST_SENT, PR_IMAGE_STARTED, PR_IMAGE_READY, PR_REQUEST_SENT}));
    }
    {
        SCOPED_TRACE("Abort in the status 8 handler of an image that came whole");
        Harness h;
        h.onStatus = [&](LONG s) {
            if (s == PR_IMAGE_STARTED) h.ctrl->Abort();
        };
        h.Start();
        h.sock->Deliver(Reply(k16x8, Pixels(16, 8, 0)));
        EXPECT_EQ(h.Take(), (Statuses{PR_REQUEST_SENT, PR_IMAGE_STARTED}));
        EXPECT_EQ(h.ctrl->GetPixelRows(), nullptr) << "nothing was displayed";
        EXPECT_EQ(h.ctrl->GetExpected(), 0);
    }
    {
        SCOPED_TRACE("a message loop in the status 8 handler delivers the rest of the image");
        Harness h;
        const std::vector<BYTE> reply = Reply(k16x8, Pixels(16, 8, 5));
        h.onStatus = [&](LONG s) {
            if (s == PR_IMAGE_STARTED) h.sock->Deliver({reply.begin() + 60, reply.end()});
        };
        h.Start();
        h.sock->Deliver({reply.begin(), reply.begin() + 60});
        EXPECT_EQ(h.Take(), (Statuses{PR_REQUEST_SENT, PR_IMAGE_STARTED, PR_IMAGE_READY}));
        EXPECT_EQ(std::memcmp(h.ctrl->GetPixelRows(), Pixels(16, 8, 5).data(), 128), 0);
    }
    {
        SCOPED_TRACE("GetImgAttrib and SetLive from the status 8 handler");
        Harness h;
        LONG seen[4] = {};
        h.onStatus = [&](LONG s) {
            if (s != PR_IMAGE_STARTED) return;
            h.ctrl->GetImgAttrib(&seen[0], &seen[1], &seen[2], &seen[3]);
            h.ctrl->SetLive(TRUE);
        };
        h.Start();
        h.sock->Deliver(Reply(4, 5, 16, 8, 2, 1, 0));
        EXPECT_EQ((std::vector<LONG>(seen, seen + 4)), (std::vector<LONG>{4, 5, 8, 8}));
        EXPECT_EQ(h.Take(), (Statuses{PR_REQUEST_SENT, PR_IMAGE_STARTED, PR_IMAGE_READY, PR_REQUEST_SENT}));
    }
}

TEST(ControlExchange, RequestImageWhileAnImageArrives) {
    Harness h;
    h.Start(16, 8);
    h.sock->Deliver(Reply(k16x8, Pixels(16, 8, 0)));
    h.ctrl->RequestImage(0, 0, 32, 4, 1, 1);
    h.sock->Connected();
    const std::vector<BYTE> first = Reply(0, 0, 20, 10, 1, 1, 1);
    h.sock->Deliver({first.begin(), first.begin() + 100});
    h.Take();
    // Dropped without an event; the old header stays until the new reply's first read.
    h.ctrl->RequestImage(0, 0, 32, 4, 1, 1);
    EXPECT_TRUE(h.Take().empty());
    LONG x, y, w, r;
    h.ctrl->GetImgAttrib(&x, &y, &w, &r);
    EXPECT_EQ(w, 20);
    h.sock->Connected();
    h.ctrl->GetImgAttrib(&x, &y, &w, &r);
    EXPECT_EQ(w, 20);
    h.sock->Deliver(Reply(0, 0, 32, 4, 1, 1, 2));
    EXPECT_EQ(h.Take(), (Statuses{PR_REQUEST_SENT, PR_IMAGE_STARTED, PR_IMAGE_READY}));
    h.ctrl->GetImgAttrib(&x, &y, &w, &r);
    EXPECT_EQ(w, 32);
    EXPECT_EQ(std::memcmp(h.ctrl->GetPixelRows(), Pixels(32, 4, 2).data(), 32 * 4), 0);
}

TEST(ControlExchange, AbortInLiveModeKeepsLiveAndTheNextRequestStreamsAgain) {
    Harness h;
    h.ctrl->SetLive(TRUE);
    h.Start();
    const std::vector<BYTE> reply = Reply(k16x8, Pixels(16, 8, 0));
    h.sock->Deliver({reply.begin(), reply.begin() + 50});
    h.ctrl->Abort();
    EXPECT_EQ(h.ctrl->GetLive(), TRUE);
    EXPECT_FALSE(h.sock->connected);
    EXPECT_EQ(h.ctrl->GetBusy(), FALSE);
    h.Take();
    h.Start();
    h.sock->Deliver(reply);
    h.sock->Deliver(reply);
    EXPECT_EQ(h.Take(), (Statuses{PR_REQUEST_SENT, PR_IMAGE_STARTED, PR_IMAGE_READY, PR_REQUEST_SENT, PR_IMAGE_STARTED,
                                  PR_IMAGE_READY, PR_REQUEST_SENT}));
}

TEST(ControlExchange, ServerClosingMidImageKeepsTheLastCompleteImage) {
    Harness h;
    h.Start();
    h.sock->Deliver(Reply(k16x8, Pixels(16, 8, 4)));
    const std::vector<BYTE> kept(h.ctrl->GetPixelRows(), h.ctrl->GetPixelRows() + 128);
    h.ctrl->RequestImage(0, 0, 16, 8, 1, 1);
    h.sock->Connected();
    const std::vector<BYTE> next = Reply(k16x8, Pixels(16, 8, 5));
    h.sock->Deliver({next.begin(), next.begin() + 90});
    h.Take();
    h.sock->PeerCloses();
    EXPECT_EQ(h.Take(), Statuses{PR_CONNECTION_CLOSED});
    EXPECT_EQ(std::vector<BYTE>(h.ctrl->GetPixelRows(), h.ctrl->GetPixelRows() + 128), kept);
    EXPECT_TRUE(h.ctrl->HasMemoryDC());
}

TEST(ControlExchange, ReadErrorReleasesBuffersAndDisplay) {
    Harness h;
    h.Start();
    h.sock->Deliver(Reply(k16x8, Pixels(16, 8, 4)));
    h.ctrl->RequestImage(0, 0, 16, 8, 1, 1);
    h.sock->Connected();
    h.Take();
    h.sock->ReceiveError(WSAECONNRESET);
    EXPECT_EQ(h.Take(), Statuses{PR_RECEIVE_FAILED});
    EXPECT_EQ(h.ctrl->GetPixelRows(), nullptr);
    EXPECT_EQ(h.ctrl->GetImageBuffer(), nullptr);
    EXPECT_FALSE(h.ctrl->HasMemoryDC());
    EXPECT_EQ(h.ctrl->GetDisplayBitmap(), nullptr);
    // The header keeps the last image's size; the next image of that size is shown again.
    EXPECT_EQ(h.ctrl->GetBitmapInfo().bmiHeader.biWidth, 16);
    h.ctrl->RequestImage(0, 0, 16, 8, 1, 1);
    h.sock->Connected();
    h.sock->Deliver(Reply(k16x8, Pixels(16, 8, 6)));
    EXPECT_EQ(std::memcmp(h.ctrl->GetPixelRows(), Pixels(16, 8, 6).data(), 128), 0);
    EXPECT_TRUE(h.ctrl->HasMemoryDC());
}

TEST(ControlExchange, ConnectThatFailsAtOnceIsReportedLater) {
    const struct {
        const char* name;
        int error;
        bool reported;
    } cases[] = {
        {"pending", WSAEWOULDBLOCK, false},
        {"no such host", WSAHOST_NOT_FOUND, true},
        {"empty name", WSAEINVAL, true},
        {"no error number", 0, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Harness h;
        h.sock->connectError = c.error;
        h.ctrl->RequestImage(0, 0, 1, 1, 1, 1);
        EXPECT_TRUE(h.Take().empty()) << "never from inside RequestImage";
        ASSERT_EQ(h.sock->reportedFailures.size(), c.reported ? 1u : 0u);
        if (!c.reported) continue;
        EXPECT_NE(h.sock->reportedFailures[0], 0);
        h.sock->ConnectFails(h.sock->reportedFailures[0]);
        EXPECT_EQ(h.Take(), Statuses{PR_CONNECT_FAILED});
        EXPECT_EQ(h.ctrl->GetBusy(), FALSE);
    }
}

// Replies that do not keep to the rules.
struct OddReply {
    const char* name;
    ImageHeader header;
    std::vector<BYTE> pixels;
    std::optional<std::int32_t> total;
    Statuses statuses;  // after status 9, with live mode on
    bool shown;         // the pixel rows now hold the reply's image
};

TEST(ControlExchange, RepliesThatBreakTheRules) {
    const std::vector<BYTE> p16x8 = Pixels(16, 8, 9);
    std::vector<BYTE> surplus = p16x8;
    surplus.insert(surplus.end(), 70000, 0xAB);
    const OddReply cases[] = {
        {"more bytes than the geometry needs, all announced",
         k16x8,
         surplus,
         {},
         {PR_IMAGE_STARTED, PR_IMAGE_READY, PR_REQUEST_SENT},
         true},
        {"fewer bytes than the geometry needs",
         k16x8,
         {p16x8.begin(), p16x8.begin() + 100},
         {},
         {PR_IMAGE_STARTED, PR_BAD_GEOMETRY, PR_IMAGE_READY, PR_REQUEST_SENT},
         false},
        {"an empty image with a geometry",
         k16x8,
         {},
         {},
         {PR_IMAGE_STARTED, PR_BAD_GEOMETRY, PR_IMAGE_READY, PR_REQUEST_SENT},
         false},
        {"an empty image without a geometry",
         ImageHeader{0, 0, 0, 0, 0, 0, 0},
         {},
         {},
         {PR_IMAGE_STARTED, PR_BAD_GEOMETRY, PR_IMAGE_READY, PR_REQUEST_SENT},
         false},
        {"zero step",
         ImageHeader{0, 0, 0, 16, 8, 0, 1},
         p16x8,
         {},
         {PR_IMAGE_STARTED, PR_BAD_GEOMETRY, PR_IMAGE_READY, PR_REQUEST_SENT},
         false},
        {"negative size",
         ImageHeader{0, 0, 0, -16, 8, 1, 1},
         p16x8,
         {},
         {PR_IMAGE_STARTED, PR_BAD_GEOMETRY, PR_IMAGE_READY, PR_REQUEST_SENT},
         false},
        {"geometry whose rows overflow 32 bits",
         ImageHeader{0, 0, 0, INT_MAX, INT_MAX, 1, 1},
         p16x8,
         {},
         {PR_IMAGE_STARTED, PR_BAD_GEOMETRY, PR_IMAGE_READY, PR_REQUEST_SENT},
         false},
        {"total length below the header size", k16x8, p16x8, 0, {PR_NO_MEMORY}, false},
        {"most negative total length", k16x8, p16x8, INT_MIN, {PR_NO_MEMORY}, false},
    };
    for (const OddReply& c : cases) {
        SCOPED_TRACE(c.name);
        Harness h;
        h.ctrl->SetLive(TRUE);
        h.Start();
        h.Take();
        // Surplus bytes beyond the announced count come in the same read as the end.
        std::vector<BYTE> bytes = Reply(c.header, c.pixels, c.total);
        h.sock->Deliver(bytes, {int(bytes.size())});
        EXPECT_EQ(h.Take(), c.statuses);
        if (c.shown) {
            EXPECT_EQ(std::memcmp(h.ctrl->GetPixelRows(), p16x8.data(), p16x8.size()), 0);
        } else {
            EXPECT_EQ(h.ctrl->GetPixelRows(), nullptr);
        }
    }
}

TEST(ControlExchange, SurplusBytesInTheLastReadAreDropped) {
    Harness h;
    h.ctrl->SetLive(TRUE);
    h.Start();
    std::vector<BYTE> bytes = Reply(k16x8, Pixels(16, 8, 3));
    bytes.insert(bytes.end(), 9, 0xFF);
    h.sock->Deliver(bytes, {60, 1000});
    EXPECT_EQ(h.Take(), (Statuses{PR_REQUEST_SENT, PR_IMAGE_STARTED, PR_IMAGE_READY, PR_REQUEST_SENT}));
    EXPECT_EQ(std::memcmp(h.ctrl->GetPixelRows(), Pixels(16, 8, 3).data(), 128), 0);
    // And the stream goes on with the next reply intact.
    h.sock->Deliver(Reply(k16x8, Pixels(16, 8, 4)), {3, 100});
    EXPECT_EQ(h.Take(), (Statuses{PR_IMAGE_STARTED, PR_IMAGE_READY, PR_REQUEST_SENT}));
    EXPECT_EQ(std::memcmp(h.ctrl->GetPixelRows(), Pixels(16, 8, 4).data(), 128), 0);
}

// The first bytes of a header, then the exchange ends: the next exchange reads
// its own header from its first byte.
TEST(ControlExchange, AHeaderCutShortIsForgotten) {
    const struct {
        const char* name;
        std::function<void(Harness&)> interrupt;
        Statuses statuses;
    } cases[] = {
        {"Abort", [](Harness& h) { h.ctrl->Abort(); }, {}},
        {"RequestImage", [](Harness& h) { h.ctrl->RequestImage(0, 0, 16, 8, 1, 1); }, {}},
        {"server closes", [](Harness& h) { h.sock->PeerCloses(); }, {PR_CONNECTION_CLOSED}},
        {"read error", [](Harness& h) { h.sock->ReceiveError(WSAECONNRESET); }, {PR_RECEIVE_FAILED}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Harness h;
        h.Start();
        const std::vector<BYTE> cut = Reply(ImageHeader{0, 1, 2, 3, 4, 5, 6}, Pixels(16, 8, 1));
        h.sock->Deliver({cut.begin(), cut.begin() + 10});
        h.Take();
        c.interrupt(h);
        EXPECT_EQ(h.Take(), c.statuses);
        h.Start();
        h.sock->Deliver(Reply(k16x8, Pixels(16, 8, 2)), {20, 1000});
        EXPECT_EQ(h.Take(), (Statuses{PR_REQUEST_SENT, PR_IMAGE_STARTED, PR_IMAGE_READY}));
        ASSERT_NE(h.ctrl->GetPixelRows(), nullptr);
        EXPECT_EQ(std::memcmp(h.ctrl->GetPixelRows(), Pixels(16, 8, 2).data(), 128), 0);
    }
}

TEST(ControlProperties, ReadWriteAndModifiedFlag) {
    Harness h;
    EXPECT_EQ(h.ctrl->GetLive(), FALSE);
    h.ctrl->SetModifiedFlag(FALSE);
    h.ctrl->SetBusy(TRUE);
    EXPECT_EQ(h.ctrl->GetBusy(), FALSE);
    EXPECT_EQ(h.ctrl->IsModified(), FALSE) << "writing Busy changes nothing";
    h.ctrl->SetServer("camera");
    EXPECT_EQ(h.ctrl->IsModified(), TRUE) << "even when the same string is written";
    h.ctrl->SetModifiedFlag(FALSE);
    h.ctrl->SetLive(5);
    EXPECT_EQ(h.ctrl->GetLive(), TRUE);
    EXPECT_EQ(h.ctrl->IsModified(), TRUE);
    h.ctrl->SetPort(70000);
    EXPECT_EQ(h.ctrl->GetPort(), 70000);
    h.ctrl->SetServer(nullptr);
    EXPECT_EQ(h.ctrl->GetServer(), "");
    // Changing server or port leaves the connection alone.
    h.Start();
    h.ctrl->SetPort(1);
    EXPECT_TRUE(h.sock->connected);
    EXPECT_EQ(h.sock->ports.back(), 70000u);
}

TEST(ControlStatusTable, NamesEveryFiredCode) {
    for (LONG code : {0, 1, 2, 3, 4, 6, 7, 8, 9}) EXPECT_NE(FindPictureStatus(code), nullptr) << code;
    EXPECT_EQ(FindPictureStatus(5), nullptr);
    EXPECT_STREQ(FindPictureStatus(PR_REQUEST_SENT)->name, "PR_REQUEST_SENT");
}

}  // namespace
