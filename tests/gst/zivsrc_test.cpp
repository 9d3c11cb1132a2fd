// zivsrc in a real pipeline (zivsrc ! appsink), the plugin found through
// GST_PLUGIN_PATH, against camsim in-process or a silent peer on 127.0.0.1.

#include "model.h"
#include "server.h"

#include <gst/app/gstappsink.h>
#include <gst/gst.h>
#include <gst/video/video.h>
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <netinet/in.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using ziv::camsim::Options;
using ziv::camsim::Server;
using Clock = std::chrono::steady_clock;

// camsim in this process, on a port of the system's choice.
struct Camsim {
    explicit Camsim(Options o = {}) : server((o.port = 0, o)) {
        std::string error;
        EXPECT_TRUE(server.start(error)) << error;
    }
    ~Camsim() { server.stop(); }
    Server server;
};

// A socket on 127.0.0.1 with a port of the system's choice: listening (a peer
// that accepts, takes the request and never answers) or only bound (nothing
// listening: connections are refused, and no one else takes the port).
class Peer {
public:
    explicit Peer(bool listening) : fd_(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        EXPECT_EQ(::bind(fd_, reinterpret_cast<sockaddr*>(&a), len), 0);
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len);
        port_ = ntohs(a.sin_port);
        if (!listening) return;
        EXPECT_EQ(::listen(fd_, 4), 0);
        thread_ = std::thread([this] {
            pollfd p{fd_, POLLIN, 0};
            while (!done_ && ::poll(&p, 1, 50) == 0) {}
            if (done_) return;
            const int c = ::accept(fd_, nullptr, nullptr);
            char request[24];
            size_t got = 0;
            pollfd q{c, POLLIN, 0};
            while (!done_ && got < sizeof request)
                if (::poll(&q, 1, 50) > 0) {
                    const ssize_t n = ::recv(c, request + got, sizeof request - got, 0);
                    if (n <= 0) break;
                    got += size_t(n);
                }
            requested_ = got == sizeof request;
            while (!done_) std::this_thread::sleep_for(std::chrono::milliseconds(10));
            ::close(c);
        });
    }
    ~Peer() {
        done_ = true;
        if (thread_.joinable()) thread_.join();
        ::close(fd_);
    }
    int port() const { return port_; }
    bool requested() const { return requested_; }

private:
    int fd_;
    int port_ = 0;
    std::atomic<bool> done_{false}, requested_{false};
    std::thread thread_;
};

// GStreamer with the build's plugin folder alone and a registry of the
// build's: the system's plugins are not scanned, appsink is made from its library.
void start_gstreamer() {
    static const bool started = [] {
        g_setenv("GST_PLUGIN_PATH", ZIV_GST_PLUGIN_DIR, TRUE);
        g_setenv("GST_PLUGIN_SYSTEM_PATH", ZIV_GST_PLUGIN_DIR, TRUE);
        g_setenv("GST_REGISTRY", ZIV_GST_REGISTRY, TRUE);
#ifdef ZIV_GST_SCAN_IN_PROCESS
        g_setenv("GST_REGISTRY_FORK", "no", TRUE);
#endif
        gst_init(nullptr, nullptr);
        return gst_element_register(nullptr, "appsink", GST_RANK_NONE, GST_TYPE_APP_SINK);
    }();
    ASSERT_TRUE(started);
}

// zivsrc name=src port=P PROPS ! appsink name=sink
class Pipeline {
public:
    Pipeline(int port, const std::string& props) {
        start_gstreamer();
        const std::string line = "zivsrc name=src port=" + std::to_string(port) + " " + props +
                                 " ! appsink name=sink sync=false max-buffers=2";
        GError* error = nullptr;
        pipeline_ = gst_parse_launch(line.c_str(), &error);
        EXPECT_EQ(error, nullptr) << error->message << " (is the plugin on GST_PLUGIN_PATH?)";
        if (!pipeline_) return;
        src_ = gst_bin_get_by_name(GST_BIN(pipeline_), "src");
        sink_ = gst_bin_get_by_name(GST_BIN(pipeline_), "sink");
        bus_ = gst_element_get_bus(pipeline_);
    }
    ~Pipeline() {
        if (!pipeline_) return;
        gst_element_set_state(pipeline_, GST_STATE_NULL);
        gst_object_unref(bus_);
        gst_object_unref(sink_);
        gst_object_unref(src_);
        gst_object_unref(pipeline_);
    }
    bool ok() const { return pipeline_ != nullptr; }
    GstElement* element() const { return pipeline_; }
    GstElement* src() const { return src_; }
    void play() { ASSERT_NE(gst_element_set_state(pipeline_, GST_STATE_PLAYING), GST_STATE_CHANGE_FAILURE); }
    // The next image, or null after 5 s.
    GstSample* pull() { return gst_app_sink_try_pull_sample(GST_APP_SINK(sink_), 5 * GST_SECOND); }
    // The first message of `type` on the bus within 5 s, or null.
    GstMessage* wait_for(GstMessageType type) { return gst_bus_timed_pop_filtered(bus_, 5 * GST_SECOND, type); }

private:
    GstElement* pipeline_ = nullptr;
    GstElement* src_ = nullptr;
    GstElement* sink_ = nullptr;
    GstBus* bus_ = nullptr;
};

std::string message_text(GstMessage* m) {
    GError* error = nullptr;
    gchar* debug = nullptr;
    if (GST_MESSAGE_TYPE(m) == GST_MESSAGE_ERROR) gst_message_parse_error(m, &error, &debug);
    else gst_message_parse_warning(m, &error, &debug);
    std::string text = std::string(error->message) + " | " + (debug ? debug : "");
    g_error_free(error);
    g_free(debug);
    return text;
}

std::string window_props(const imageproto::ImageRequest& r) {
    return "x=" + std::to_string(r.x) + " y=" + std::to_string(r.y) + " dx=" + std::to_string(r.dx) +
           " dy=" + std::to_string(r.dy) + " incrx=" + std::to_string(r.incrx) + " incry=" + std::to_string(r.incry);
}

struct WindowCase {
    imageproto::ImageRequest request;
    int width, rows, stride;
};

TEST(ZivSrc, BuffersAreTheCamerasImagesAtTheDefaultStrideWithRisingTimestamps) {
    const WindowCase cases[] = {
        {{0, 0, 640, 480, 1, 1}, 640, 480, 640},
        {{3, 5, 101, 37, 2, 3}, 51, 13, 52},         // steps; rows padded to 4
        {{1200, 1000, 200, 100, 1, 1}, 80, 24, 80},  // clipped by the 1280x1024 sensor
        {{1277, 0, 9, 3, 1, 1}, 3, 3, 4},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(window_props(c.request));
        Camsim camsim;
        Pipeline p(camsim.server.port(), window_props(c.request));
        ASSERT_TRUE(p.ok());
        p.play();
        // The same replies camsim sends, from a model of its own: images 0 to 5.
        ziv::camsim::ImageModel model(ziv::camsim::FrameSource::pattern(1280, 1024));
        ziv::camsim::Session session(model);
        GstClockTime last = GST_CLOCK_TIME_NONE;
        std::vector<GstSample*> held;  // kept while more images pass: their memory must not be reused
        for (int frame = 0; frame < 6; ++frame) {
            GstSample* sample = p.pull();
            ASSERT_NE(sample, nullptr) << "frame " << frame;
            GstVideoInfo info;
            ASSERT_TRUE(gst_video_info_from_caps(&info, gst_sample_get_caps(sample)));
            EXPECT_EQ(GST_VIDEO_INFO_FORMAT(&info), GST_VIDEO_FORMAT_GRAY8);
            EXPECT_EQ(GST_VIDEO_INFO_WIDTH(&info), c.width);
            EXPECT_EQ(GST_VIDEO_INFO_HEIGHT(&info), c.rows);
            EXPECT_EQ(GST_VIDEO_INFO_PLANE_STRIDE(&info, 0), c.stride);
            const GstClockTime pts = GST_BUFFER_PTS(gst_sample_get_buffer(sample));
            EXPECT_TRUE(GST_CLOCK_TIME_IS_VALID(pts));
            if (GST_CLOCK_TIME_IS_VALID(last)) {
                EXPECT_GT(pts, last);
            }
            last = pts;
            held.push_back(sample);
        }
        for (size_t frame = 0; frame < held.size(); ++frame) {
            const auto reply = session.build_reply(c.request);
            const std::uint8_t* want = reply.data() + imageproto::kHeaderSize;
            GstBuffer* buffer = gst_sample_get_buffer(held[frame]);
            GstMapInfo map;
            ASSERT_TRUE(gst_buffer_map(buffer, &map, GST_MAP_READ));
            ASSERT_GE(map.size, size_t(c.stride * c.rows));
            int wrong = 0;
            for (int r = 0; r < c.rows; ++r)
                for (int i = 0; i < c.stride; ++i)
                    wrong += map.data[r * c.stride + i] != (i < c.width ? want[r * c.width + i] : 0);
            EXPECT_EQ(wrong, 0) << "bytes differing from camsim's image " << frame << " (fill bytes: 0)";
            gst_buffer_unmap(buffer, &map);
            gst_sample_unref(held[frame]);
        }
        GstQuery* latency = gst_query_new_latency();
        ASSERT_TRUE(gst_element_query(p.src(), latency));
        gboolean live = FALSE;
        GstClockTime min = 0, max = 0;
        gst_query_parse_latency(latency, &live, &min, &max);
        EXPECT_TRUE(live);
        EXPECT_GT(min, 0u);
        EXPECT_LE(min, max);
        gst_query_unref(latency);
    }
}

TEST(ZivSrc, NewCapsWhenTheWindowChangesWhilePlaying) {
    Camsim camsim;
    Pipeline p(camsim.server.port(), "dx=64 dy=48");
    ASSERT_TRUE(p.ok());
    p.play();
    GstSample* sample = p.pull();
    ASSERT_NE(sample, nullptr);
    gst_sample_unref(sample);
    g_object_set(p.src(), "dx", 32, "incry", 2, nullptr);
    // Images already asked for (and queued at the sink) still have the old
    // window: the new one comes within a few.
    GstVideoInfo info;
    for (int i = 0; i < 10; ++i) {
        sample = p.pull();
        ASSERT_NE(sample, nullptr);
        ASSERT_TRUE(gst_video_info_from_caps(&info, gst_sample_get_caps(sample)));
        if (GST_VIDEO_INFO_WIDTH(&info) != 64) break;
        gst_sample_unref(sample);
        sample = nullptr;
    }
    EXPECT_EQ(GST_VIDEO_INFO_WIDTH(&info), 32);
    EXPECT_EQ(GST_VIDEO_INFO_HEIGHT(&info), 24);
    EXPECT_EQ(GST_VIDEO_INFO_PAR_N(&info), 1);
    EXPECT_EQ(GST_VIDEO_INFO_PAR_D(&info), 2);
    if (sample) gst_sample_unref(sample);
}

TEST(ZivSrc, FailuresAreElementErrorsWithTheReason) {
    Peer refusing(false), silent(true);
    Options lying;
    lying.wrong_length = 5;
    Camsim liar(lying);
    const struct {
        const char* name;
        int port;
        const char* props;
        const char* text;
    } cases[] = {
        {"nothing listening", refusing.port(), "", "Could not connect to the camera at 127.0.0.1:"},
        {"silent camera", silent.port(), "timeout=300", "stayed silent longer than the time-out"},
        {"wrong length", liar.server.port(), "", "does not fit the request"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Pipeline p(c.port, c.props);
        ASSERT_TRUE(p.ok());
        p.play();
        GstMessage* m = p.wait_for(GST_MESSAGE_ERROR);
        ASSERT_NE(m, nullptr) << "no error within 5 s";
        EXPECT_EQ(GST_MESSAGE_SRC(m), GST_OBJECT(p.src()));
        const std::string text = message_text(m);
        EXPECT_NE(text.find(c.text), std::string::npos) << text;
        EXPECT_NE(text.find(std::to_string(c.port)), std::string::npos) << text;
        gst_message_unref(m);
    }
}

TEST(ZivSrc, StoppingWhileTheCameraIsSilentReturnsAtOnce) {
    Peer silent(true);
    Pipeline p(silent.port(), "timeout=60000");
    ASSERT_TRUE(p.ok());
    p.play();
    const auto deadline = Clock::now() + std::chrono::seconds(5);
    while (!silent.requested() && Clock::now() < deadline) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    ASSERT_TRUE(silent.requested()) << "the request never came";
    const auto start = Clock::now();
    EXPECT_EQ(gst_element_set_state(p.element(), GST_STATE_NULL), GST_STATE_CHANGE_SUCCESS);
    EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(500));
}

TEST(ZivSrc, ReconnectsWithAWarningAfterTheCameraClosesTheConnection) {
    // 64x48 images of 3100 bytes with their header.
    const struct {
        const char* name;
        std::int64_t max_requests, close_after;
        bool reconnect;
    } cases[] = {
        {"closed after two replies", 2, -1, true},
        {"closed within the second image", 0, 3100 + 1000, true},
        {"closed, no reconnect", 2, -1, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Options o;
        o.max_requests = c.max_requests;
        o.close_after = c.close_after;
        Camsim camsim(o);
        Pipeline p(camsim.server.port(), std::string("dx=64 dy=48 reconnect=") + (c.reconnect ? "true" : "false"));
        ASSERT_TRUE(p.ok());
        p.play();
        const int images = c.reconnect ? 5 : 1;
        for (int i = 0; i < images; ++i) {
            GstSample* sample = p.pull();
            ASSERT_NE(sample, nullptr) << "image " << i;
            gst_sample_unref(sample);
        }
        // Closed with the next request unread, camsim's end resets the
        // connection: "closed" or "could not receive", depending on the race.
        GstMessage* m = p.wait_for(c.reconnect ? GST_MESSAGE_WARNING : GST_MESSAGE_ERROR);
        ASSERT_NE(m, nullptr);
        const std::string text = message_text(m);
        EXPECT_NE(text.find("127.0.0.1:" + std::to_string(camsim.server.port())), std::string::npos) << text;
        EXPECT_EQ(text.find("Connecting again") != std::string::npos, c.reconnect) << text;
        gst_message_unref(m);
    }
}

}  // namespace
