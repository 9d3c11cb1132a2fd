// zivsrc ! fakesink in this process, timed as bench_bare_client is: the whole
// window with steps 1, three images of warm-up, then N images counted at
// fakesink's pad. Prints images/s and the payload rate (pixel bytes only).
//
// usage: bench_zivsrc --port P [--host 127.0.0.1] --size WxH [--images N]
// (GST_PLUGIN_PATH must name the folder of the zivsrc plugin)

#include "bench_common.h"

#include <gst/gst.h>

#include <string>

namespace {

constexpr int kWarmUp = 3;

struct Count {
    int buffers = 0;
    std::uint64_t bytes = 0;
    std::chrono::steady_clock::time_point start;
};

GstPadProbeReturn count_buffer(GstPad*, GstPadProbeInfo* info, gpointer data) {
    auto& c = *static_cast<Count*>(data);
    if (++c.buffers == kWarmUp) c.start = std::chrono::steady_clock::now();
    else if (c.buffers > kWarmUp) c.bytes += gst_buffer_get_size(GST_PAD_PROBE_INFO_BUFFER(info));
    return GST_PAD_PROBE_OK;
}

int fail(const std::string& message) {
    std::fprintf(stderr, "bench_zivsrc: %s\n", message.c_str());
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    ziv::bench::ClientArgs args;
    if (const auto status = ziv::bench::parse_client_args("bench_zivsrc", argc, argv, args)) return *status;
    gst_init(nullptr, nullptr);
    const std::string line = "zivsrc server=" + args.host + " port=" + std::to_string(args.port) +
                             " dx=" + std::to_string(args.width) + " dy=" + std::to_string(args.height) +
                             " num-buffers=" + std::to_string(args.images + kWarmUp) + " ! fakesink name=sink";
    GError* error = nullptr;
    GstElement* pipeline = gst_parse_launch(line.c_str(), &error);
    if (!pipeline) return fail(error->message);
    GstElement* sink = gst_bin_get_by_name(GST_BIN(pipeline), "sink");
    GstPad* pad = gst_element_get_static_pad(sink, "sink");
    Count count;
    gst_pad_add_probe(pad, GST_PAD_PROBE_TYPE_BUFFER, count_buffer, &count, nullptr);

    gst_element_set_state(pipeline, GST_STATE_PLAYING);
    GstBus* bus = gst_element_get_bus(pipeline);
    GstMessage* m =
        gst_bus_timed_pop_filtered(bus, GST_CLOCK_TIME_NONE, GstMessageType(GST_MESSAGE_EOS | GST_MESSAGE_ERROR));
    const double s = ziv::bench::seconds_since(count.start);
    int status = 0;
    if (GST_MESSAGE_TYPE(m) == GST_MESSAGE_ERROR) {
        GError* e = nullptr;
        gst_message_parse_error(m, &e, nullptr);
        status = fail(e->message);
        g_error_free(e);
    }
    gst_message_unref(m);
    gst_element_set_state(pipeline, GST_STATE_NULL);
    gst_object_unref(bus);
    gst_object_unref(pad);
    gst_object_unref(sink);
    gst_object_unref(pipeline);
    if (status) return status;
    // Rows of the benchmark's widths need no fill bytes, so bytes are pixels.
    const int images = count.buffers - kWarmUp;
    if (images != args.images || count.bytes != std::uint64_t(images) * std::uint64_t(args.width) * args.height)
        return fail("the camera delivered another size than requested (is its sensor large enough?)");
    std::printf("zivsrc %dx%d images/s %.1f GB/s %.3f ms/image %.4f images %d\n", args.width, args.height, images / s,
                double(count.bytes) / s / 1e9, s * 1e3 / images, images);
    return 0;
}
