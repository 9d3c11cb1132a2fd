// zivsrc: the element and the plugin that registers it.
//
// The streaming thread runs create(): it waits for the next reply's header
// (ziv::Camera::begin_frame), stamps the buffer with the pipeline clock's
// running time at that moment, renegotiates when the delivered geometry
// differs from the last one, takes a buffer from the pool and lets the camera
// read the pixels straight into it, rows at GStreamer's default GRAY8 stride
// (a multiple of 4, the same as the image size rule's). Stopping the pipeline
// calls unlock(), which cancels the camera's blocking wait at once.

#include "zivsrc.h"

#include <zivcam/camera.h>

#include <gst/video/video.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <source_location>
#include <string>

GST_DEBUG_CATEGORY_STATIC(ziv_src_debug);
#define GST_CAT_DEFAULT ziv_src_debug

namespace {

constexpr const char* kDefaultServer = "127.0.0.1";
constexpr int kDefaultPort = 2002;
constexpr ziv::Window kDefaultWindow{0, 0, 640, 480, 1, 1};
constexpr guint kDefaultTimeoutMs = 5000;
// Between a failure and the next connection when reconnecting: long enough
// not to hammer a camera that is restarting, short enough to lose little.
constexpr auto kReconnectPause = std::chrono::milliseconds(500);

enum Property {
    PROP_0,
    PROP_SERVER,
    PROP_PORT,
    PROP_X,
    PROP_Y,
    PROP_DX,
    PROP_DY,
    PROP_INCRX,
    PROP_INCRY,
    PROP_TIMEOUT,
    PROP_RECONNECT,
};

// What a failure of the camera is called on the bus.
struct FailureText {
    ziv::ErrorKind kind;
    GstResourceError code;
    const char* text;
};
constexpr FailureText kFailureTexts[] = {
    {ziv::ErrorKind::Connect, GST_RESOURCE_ERROR_OPEN_READ, "Could not connect to the camera"},
    {ziv::ErrorKind::ConnectionClosed, GST_RESOURCE_ERROR_READ, "The camera closed the connection"},
    {ziv::ErrorKind::ShortReply, GST_RESOURCE_ERROR_READ, "The camera closed the connection within an image"},
    {ziv::ErrorKind::BadHeader, GST_RESOURCE_ERROR_READ, "The camera's reply does not fit the request"},
    {ziv::ErrorKind::Timeout, GST_RESOURCE_ERROR_READ, "The camera stayed silent longer than the time-out"},
    {ziv::ErrorKind::Send, GST_RESOURCE_ERROR_WRITE, "Could not send the image request to the camera"},
    {ziv::ErrorKind::Receive, GST_RESOURCE_ERROR_READ, "Could not receive from the camera"},
    {ziv::ErrorKind::NoMemory, GST_RESOURCE_ERROR_FAILED, "No memory for the camera's image"},
    {ziv::ErrorKind::Cancelled, GST_RESOURCE_ERROR_FAILED, "The camera's wait was cancelled"},
    {ziv::ErrorKind::Usage, GST_RESOURCE_ERROR_FAILED, "The camera was used out of order"},
};

const FailureText& failure_text(ziv::ErrorKind kind) {
    for (const auto& f : kFailureTexts)
        if (f.kind == kind) return f;
    return kFailureTexts[std::size(kFailureTexts) - 1];
}

struct Settings {
    std::string server = kDefaultServer;
    int port = kDefaultPort;
    ziv::Window window = kDefaultWindow;
    guint timeout_ms = kDefaultTimeoutMs;
    bool reconnect = false;
};

// The element's C++ state, behind one pointer in the GObject instance.
struct State {
    std::mutex mutex;  // guards the members up to `flushing`
    Settings settings;
    bool window_changed = false;          // a window property was set while streaming
    GstCaps* caps = nullptr;              // of the geometry delivered last; null before the first reply
    std::unique_ptr<ziv::Camera> camera;  // from start() to stop()
    bool flushing = false;                // between unlock() and unlock_stop()
    std::condition_variable wake;         // ends the reconnect pause on unlock()

    // The streaming thread's own.
    bool negotiated = false;  // caps and pool made for `geometry`
    ziv::Geometry geometry{};
    GstVideoInfo info{};
    guint64 frames = 0;
    bool discont = false;
    GstClockTime latency = 0;  // reported: the longest pixel transfer seen, with a margin
};

}  // namespace

struct _GstZivSrc {
    GstPushSrc parent;
    State* state;
};

G_DEFINE_TYPE(GstZivSrc, gst_ziv_src, GST_TYPE_PUSH_SRC)

namespace {

GstStaticPadTemplate src_template =
    GST_STATIC_PAD_TEMPLATE("src", GST_PAD_SRC, GST_PAD_ALWAYS, GST_STATIC_CAPS(GST_VIDEO_CAPS_MAKE("GRAY8")));

State& state_of(gpointer self) { return *GST_ZIV_SRC(self)->state; }

// An error or warning on the bus, with the caller's place in the source.
void post(GstZivSrc* self, GstMessageType type, GstResourceError code, const std::string& text,
          const std::string& debug, const std::source_location where = std::source_location::current()) {
    gst_element_message_full(GST_ELEMENT(self), type, GST_RESOURCE_ERROR, code, g_strdup(text.c_str()),
                             g_strdup(debug.c_str()), where.file_name(), where.function_name(), int(where.line()));
}

std::string where(const Settings& s) { return " at " + s.server + ":" + std::to_string(s.port) + "."; }

// The running time of the pipeline's clock now; none without a clock.
GstClockTime running_time_now(GstElement* element) {
    GstClock* clock = gst_element_get_clock(element);
    if (!clock) return GST_CLOCK_TIME_NONE;
    const GstClockTime now = gst_clock_get_time(clock);
    const GstClockTime base = gst_element_get_base_time(element);
    gst_object_unref(clock);
    return now > base ? now - base : 0;
}

GstCaps* caps_for(const ziv::Geometry& g, GstVideoInfo& info) {
    gst_video_info_set_format(&info, GST_VIDEO_FORMAT_GRAY8, guint(g.width), guint(g.rows));
    // Each pixel spans incrx sensor columns and incry sensor rows.
    gint n = 1, d = 1;
    gst_util_fraction_multiply(g.incrx, 1, 1, g.incry, &n, &d);
    info.par_n = n;
    info.par_d = d;
    info.fps_n = 0;  // a live camera: as fast as replies come
    info.fps_d = 1;
    return gst_video_info_to_caps(&info);
}

// --- Properties ----------------------------------------------------------------

void set_property(GObject* object, guint id, const GValue* value, GParamSpec* pspec) {
    State& st = state_of(object);
    std::lock_guard lock(st.mutex);
    Settings& s = st.settings;
    auto set_window = [&](std::int32_t& field) {
        field = g_value_get_int(value);
        st.window_changed = true;
    };
    switch (id) {
    case PROP_SERVER: {
        const char* server = g_value_get_string(value);
        s.server = server ? server : kDefaultServer;
        break;
    }
    case PROP_PORT: s.port = g_value_get_int(value); break;
    case PROP_X: set_window(s.window.x); break;
    case PROP_Y: set_window(s.window.y); break;
    case PROP_DX: set_window(s.window.dx); break;
    case PROP_DY: set_window(s.window.dy); break;
    case PROP_INCRX: set_window(s.window.incrx); break;
    case PROP_INCRY: set_window(s.window.incry); break;
    case PROP_TIMEOUT: s.timeout_ms = g_value_get_uint(value); break;
    case PROP_RECONNECT: s.reconnect = g_value_get_boolean(value); break;
    default: G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, pspec); break;
    }
}

void get_property(GObject* object, guint id, GValue* value, GParamSpec* pspec) {
    State& st = state_of(object);
    std::lock_guard lock(st.mutex);
    const Settings& s = st.settings;
    switch (id) {
    case PROP_SERVER: g_value_set_string(value, s.server.c_str()); break;
    case PROP_PORT: g_value_set_int(value, s.port); break;
    case PROP_X: g_value_set_int(value, s.window.x); break;
    case PROP_Y: g_value_set_int(value, s.window.y); break;
    case PROP_DX: g_value_set_int(value, s.window.dx); break;
    case PROP_DY: g_value_set_int(value, s.window.dy); break;
    case PROP_INCRX: g_value_set_int(value, s.window.incrx); break;
    case PROP_INCRY: g_value_set_int(value, s.window.incry); break;
    case PROP_TIMEOUT: g_value_set_uint(value, s.timeout_ms); break;
    case PROP_RECONNECT: g_value_set_boolean(value, s.reconnect); break;
    default: G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, pspec); break;
    }
}

// --- Start, stop, interruption -------------------------------------------------

gboolean start(GstBaseSrc* base) {
    State& st = state_of(base);
    std::lock_guard lock(st.mutex);
    st.camera = std::make_unique<ziv::Camera>(st.settings.server, st.settings.port,
                                              std::chrono::milliseconds(st.settings.timeout_ms));
    st.window_changed = false;
    gst_clear_caps(&st.caps);
    st.negotiated = false;
    st.geometry = {};
    st.frames = 0;
    st.discont = false;
    st.latency = 0;
    return TRUE;
}

gboolean stop(GstBaseSrc* base) {
    State& st = state_of(base);
    std::unique_ptr<ziv::Camera> camera;
    {
        std::lock_guard lock(st.mutex);
        camera = std::move(st.camera);
        gst_clear_caps(&st.caps);
    }
    return TRUE;  // the connection closes with `camera`, outside the lock
}

gboolean unlock(GstBaseSrc* base) {
    State& st = state_of(base);
    std::lock_guard lock(st.mutex);
    st.flushing = true;
    if (st.camera) st.camera->cancel();
    st.wake.notify_all();
    return TRUE;
}

gboolean unlock_stop(GstBaseSrc* base) {
    State& st = state_of(base);
    std::lock_guard lock(st.mutex);
    st.flushing = false;
    if (st.camera) st.camera->clear_cancel();
    return TRUE;
}

// --- Caps, allocation, latency ---------------------------------------------------

GstCaps* get_caps(GstBaseSrc* base, GstCaps* filter) {
    State& st = state_of(base);
    GstCaps* caps = nullptr;
    {
        std::lock_guard lock(st.mutex);
        if (st.caps) caps = gst_caps_ref(st.caps);
    }
    if (!caps) caps = gst_pad_get_pad_template_caps(GST_BASE_SRC_PAD(base));
    if (filter) {
        GstCaps* both = gst_caps_intersect_full(filter, caps, GST_CAPS_INTERSECT_FIRST);
        gst_caps_unref(caps);
        caps = both;
    }
    return caps;
}

// Before the first reply nothing is known of the geometry: negotiation waits
// for it (create() negotiates then).
gboolean negotiate(GstBaseSrc* base) {
    State& st = state_of(base);
    {
        std::lock_guard lock(st.mutex);
        if (!st.caps) return TRUE;
    }
    return GST_BASE_SRC_CLASS(gst_ziv_src_parent_class)->negotiate(base);
}

// A pool of our own: buffers of the negotiated layout, as many as downstream
// holds at once (no upper bound, so a buffer is never taken back while in use).
gboolean decide_allocation(GstBaseSrc* base, GstQuery* query) {
    GstCaps* caps = nullptr;
    gst_query_parse_allocation(query, &caps, nullptr);
    GstVideoInfo info;
    if (!caps || !gst_video_info_from_caps(&info, caps))
        return GST_BASE_SRC_CLASS(gst_ziv_src_parent_class)->decide_allocation(base, query);

    guint size = 0, min = 0, max = 0;
    const bool have_pool = gst_query_get_n_allocation_pools(query) > 0;
    if (have_pool) {
        GstBufferPool* offered = nullptr;
        gst_query_parse_nth_allocation_pool(query, 0, &offered, &size, &min, &max);
        if (offered) gst_object_unref(offered);
    }
    size = std::max<guint>(size, guint(info.size));
    GstBufferPool* pool = gst_video_buffer_pool_new();
    GstStructure* config = gst_buffer_pool_get_config(pool);
    gst_buffer_pool_config_set_params(config, caps, size, min, 0);
    if (gst_query_find_allocation_meta(query, GST_VIDEO_META_API_TYPE, nullptr))
        gst_buffer_pool_config_add_option(config, GST_BUFFER_POOL_OPTION_VIDEO_META);
    if (!gst_buffer_pool_set_config(pool, config)) {
        gst_object_unref(pool);
        GST_ELEMENT_ERROR(base, RESOURCE, SETTINGS, ("Failed to configure the buffer pool"), (nullptr));
        return FALSE;
    }
    if (have_pool) gst_query_set_nth_allocation_pool(query, 0, pool, size, min, 0);
    else gst_query_add_allocation_pool(query, pool, size, min, 0);
    gst_object_unref(pool);
    return TRUE;
}

gboolean query(GstBaseSrc* base, GstQuery* q) {
    if (GST_QUERY_TYPE(q) == GST_QUERY_LATENCY) {
        State& st = state_of(base);
        GstClockTime latency;
        {
            std::lock_guard lock(st.mutex);
            latency = st.latency;
        }
        // A buffer is pushed once its last pixel arrived; nothing is queued beyond it.
        gst_query_set_latency(q, TRUE, latency, latency);
        return TRUE;
    }
    return GST_BASE_SRC_CLASS(gst_ziv_src_parent_class)->query(base, q);
}

// --- Streaming -----------------------------------------------------------------------

// Waits before connecting again; false when unlock() ended the wait.
bool reconnect_pause(State& st) {
    std::unique_lock lock(st.mutex);
    st.wake.wait_for(lock, kReconnectPause, [&] { return st.flushing; });
    return !st.flushing;
}

// The delivered geometry differs from the last one: new caps, then the pool for them.
GstFlowReturn renegotiate(GstZivSrc* self, State& st, const ziv::Geometry& g) {
    GstCaps* caps = caps_for(g, st.info);
    {
        std::lock_guard lock(st.mutex);
        gst_caps_replace(&st.caps, caps);
    }
    gst_caps_unref(caps);
    st.geometry = g;
    st.negotiated = false;
    if (!gst_base_src_negotiate(GST_BASE_SRC(self))) {
        GST_ELEMENT_ERROR(
            self, CORE, NEGOTIATION,
            ("Downstream does not take GRAY8 images of %" G_GINT64_FORMAT "x%" G_GINT64_FORMAT, g.width, g.rows),
            (nullptr));
        return GST_FLOW_NOT_NEGOTIATED;
    }
    st.negotiated = true;
    return GST_FLOW_OK;
}

// The longest pixel transfer seen so far becomes the latency, with a quarter
// more as a margin; the pipeline is told when it grew.
void note_transfer(GstZivSrc* self, State& st, GstClockTime took) {
    bool grew = false;
    {
        std::lock_guard lock(st.mutex);
        if (took > st.latency) {
            st.latency = took + took / 4;
            grew = true;
        }
    }
    if (grew) gst_element_post_message(GST_ELEMENT(self), gst_message_new_latency(GST_OBJECT(self)));
}

// Reads the pixels of the frame begun into a buffer of the pool.
GstFlowReturn fill_buffer(GstZivSrc* self, State& st, ziv::Camera& camera, GstBuffer** out) {
    GstBuffer* buffer = nullptr;
    const GstFlowReturn ret = GST_BASE_SRC_CLASS(gst_ziv_src_parent_class)
                                  ->alloc(GST_BASE_SRC(self), st.frames, guint(st.info.size), &buffer);
    if (ret != GST_FLOW_OK) return ret;
    GstMapInfo map;
    if (!gst_buffer_map(buffer, &map, GST_MAP_WRITE)) {
        gst_buffer_unref(buffer);
        GST_ELEMENT_ERROR(self, RESOURCE, FAILED, ("Could not map a buffer for writing"), (nullptr));
        return GST_FLOW_ERROR;
    }
    const auto stride = std::size_t(GST_VIDEO_INFO_PLANE_STRIDE(&st.info, 0));
    const auto width = std::size_t(st.geometry.width);
    try {
        camera.read_pixels(map.data, map.size, stride);
    } catch (...) {
        gst_buffer_unmap(buffer, &map);
        gst_buffer_unref(buffer);
        throw;
    }
    if (stride > width)  // fill bytes are zero, whatever the pool's buffer held before
        for (std::int64_t r = 0; r < st.geometry.rows; ++r)
            std::memset(map.data + r * stride + width, 0, stride - width);
    gst_buffer_unmap(buffer, &map);
    *out = buffer;
    return GST_FLOW_OK;
}

GstFlowReturn create(GstPushSrc* push, GstBuffer** out) {
    GstZivSrc* self = GST_ZIV_SRC(push);
    State& st = *self->state;
    for (;;) {
        Settings settings;
        bool window_changed;
        ziv::Camera* camera;
        {
            std::lock_guard lock(st.mutex);
            settings = st.settings;
            window_changed = st.window_changed;
            st.window_changed = false;
            camera = st.camera.get();
        }
        if (!camera) return GST_FLOW_FLUSHING;
        try {
            camera->set_timeout(std::chrono::milliseconds(settings.timeout_ms));
            if (window_changed && camera->streaming()) camera->stop_stream();
            if (!camera->streaming()) camera->start_stream(settings.window);

            const ziv::Geometry g = camera->begin_frame();
            const GstClockTime pts = running_time_now(GST_ELEMENT(self));
            const auto started = std::chrono::steady_clock::now();
            if (g.pixel_bytes() == 0) {
                post(self, GST_MESSAGE_ERROR, GST_RESOURCE_ERROR_SETTINGS,
                     "The window lies outside the sensor of the camera" + where(settings),
                     "delivered window " + std::to_string(g.dx) + "x" + std::to_string(g.dy));
                return GST_FLOW_ERROR;
            }
            if (!st.negotiated || g.width != st.geometry.width || g.rows != st.geometry.rows ||
                g.incrx != st.geometry.incrx || g.incry != st.geometry.incry) {
                if (const GstFlowReturn ret = renegotiate(self, st, g); ret != GST_FLOW_OK) return ret;
            }
            GstBuffer* buffer = nullptr;
            if (const GstFlowReturn ret = fill_buffer(self, st, *camera, &buffer); ret != GST_FLOW_OK) return ret;
            note_transfer(self, st,
                          GstClockTime(std::chrono::duration_cast<std::chrono::nanoseconds>(
                                           std::chrono::steady_clock::now() - started)
                                           .count()));
            GST_BUFFER_PTS(buffer) = pts;
            GST_BUFFER_DTS(buffer) = pts;
            GST_BUFFER_OFFSET(buffer) = st.frames;
            GST_BUFFER_OFFSET_END(buffer) = st.frames + 1;
            if (st.discont) {
                GST_BUFFER_FLAG_SET(buffer, GST_BUFFER_FLAG_DISCONT);
                st.discont = false;
            }
            ++st.frames;
            *out = buffer;
            return GST_FLOW_OK;
        } catch (const ziv::CancelledError&) {
            return GST_FLOW_FLUSHING;
        } catch (const ziv::Error& e) {
            const FailureText& f = failure_text(e.kind());
            if (!settings.reconnect || e.kind() == ziv::ErrorKind::Usage) {
                post(self, GST_MESSAGE_ERROR, f.code, f.text + where(settings), e.what());
                return GST_FLOW_ERROR;
            }
            post(self, GST_MESSAGE_WARNING, f.code, f.text + where(settings) + " Connecting again.", e.what());
            camera->stop_stream();
            st.discont = true;
            if (!reconnect_pause(st)) return GST_FLOW_FLUSHING;
        } catch (const std::exception& e) {  // no exception may cross into GStreamer's C
            post(self, GST_MESSAGE_ERROR, GST_RESOURCE_ERROR_FAILED, "The camera's images failed" + where(settings),
                 e.what());
            return GST_FLOW_ERROR;
        }
    }
}

// --- Type and plugin ---------------------------------------------------------------------

void finalize(GObject* object) {
    GstZivSrc* self = GST_ZIV_SRC(object);
    gst_clear_caps(&self->state->caps);
    delete self->state;
    self->state = nullptr;
    G_OBJECT_CLASS(gst_ziv_src_parent_class)->finalize(object);
}

void install_int(GObjectClass* klass, guint id, const char* name, const char* blurb, int min, int max, int value,
                 GParamFlags mutable_when) {
    g_object_class_install_property(
        klass, id,
        g_param_spec_int(name, name, blurb, min, max, value,
                         GParamFlags(G_PARAM_READWRITE | G_PARAM_STATIC_STRINGS | mutable_when)));
}

}  // namespace

static void gst_ziv_src_class_init(GstZivSrcClass* klass) {
    GObjectClass* object = G_OBJECT_CLASS(klass);
    GstElementClass* element = GST_ELEMENT_CLASS(klass);
    GstBaseSrcClass* base = GST_BASE_SRC_CLASS(klass);
    GST_PUSH_SRC_CLASS(klass)->create = create;

    object->set_property = set_property;
    object->get_property = get_property;
    object->finalize = finalize;

    const auto ready = GParamFlags(GST_PARAM_MUTABLE_READY);
    const auto playing = GParamFlags(GST_PARAM_MUTABLE_PLAYING);
    g_object_class_install_property(
        object, PROP_SERVER,
        g_param_spec_string("server", "server", "Address or host name of the camera's image server", kDefaultServer,
                            GParamFlags(G_PARAM_READWRITE | G_PARAM_STATIC_STRINGS | ready)));
    install_int(object, PROP_PORT, "port", "TCP port of the camera's image server", 1, 65535, kDefaultPort, ready);
    install_int(object, PROP_X, "x", "Left edge of the window, in sensor pixels", 0, G_MAXINT, kDefaultWindow.x,
                playing);
    install_int(object, PROP_Y, "y", "Top edge of the window, in sensor rows", 0, G_MAXINT, kDefaultWindow.y, playing);
    install_int(object, PROP_DX, "dx", "Width of the window, in sensor pixels (the camera clips it to its sensor)", 1,
                G_MAXINT, kDefaultWindow.dx, playing);
    install_int(object, PROP_DY, "dy", "Height of the window, in sensor rows (the camera clips it to its sensor)", 1,
                G_MAXINT, kDefaultWindow.dy, playing);
    install_int(object, PROP_INCRX, "incrx", "Horizontal step: every incrx-th pixel of a row is taken", 1, G_MAXINT,
                kDefaultWindow.incrx, playing);
    install_int(object, PROP_INCRY, "incry", "Vertical step: every incry-th row is taken", 1, G_MAXINT,
                kDefaultWindow.incry, playing);
    g_object_class_install_property(
        object, PROP_TIMEOUT,
        g_param_spec_uint("timeout", "timeout",
                          "Longest wait for the camera, in milliseconds: connecting, and between the bytes of a reply",
                          1, G_MAXINT, kDefaultTimeoutMs,
                          GParamFlags(G_PARAM_READWRITE | G_PARAM_STATIC_STRINGS | playing)));
    g_object_class_install_property(
        object, PROP_RECONNECT,
        g_param_spec_boolean("reconnect", "reconnect",
                             "After a failure, post a warning and connect again instead of an error", FALSE,
                             GParamFlags(G_PARAM_READWRITE | G_PARAM_STATIC_STRINGS | playing)));

    gst_element_class_add_static_pad_template(element, &src_template);
    gst_element_class_set_static_metadata(
        element, "Intelligent camera source", "Source/Video/Network",
        "Streams 8-bit grey images of a window of the camera's sensor from its TCP image server", "ziv developers");

    base->start = start;
    base->stop = stop;
    base->unlock = unlock;
    base->unlock_stop = unlock_stop;
    base->get_caps = get_caps;
    base->negotiate = negotiate;
    base->decide_allocation = decide_allocation;
    base->query = query;
}

static void gst_ziv_src_init(GstZivSrc* self) {
    self->state = new State;
    GstBaseSrc* base = GST_BASE_SRC(self);
    gst_base_src_set_live(base, TRUE);
    gst_base_src_set_format(base, GST_FORMAT_TIME);
}

static gboolean plugin_init(GstPlugin* plugin) {
    GST_DEBUG_CATEGORY_INIT(ziv_src_debug, "zivsrc", 0, "intelligent camera source");
    return gst_element_register(plugin, "zivsrc", GST_RANK_NONE, GST_TYPE_ZIV_SRC);
}

// The project has no licence file of its own; MIT/X11 is one GStreamer accepts.
#define PACKAGE "ziv"
GST_PLUGIN_DEFINE(GST_VERSION_MAJOR, GST_VERSION_MINOR, ziv, "Sources of the intelligent camera's images", plugin_init,
                  ZIV_VERSION, "MIT/X11", "ziv", "ziv")
