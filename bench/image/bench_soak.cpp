// A long run of the image control against a running camsim, to see that
// nothing grows: in live mode N images on one connection, or N single images
// with one connection each. After a warm-up and again at the end it samples
// this process's resident memory (VmRSS) and open descriptors, and it counts
// every PictureReady status by code.
//
// usage: bench_soak --port P [--host 127.0.0.1] --size WxH [--images N] [--single] [--warmup W]
// Prints one line: mode, size, images, seconds, rss_kib at the warm-up and the
// end, fds at the warm-up and the end, and the status counts; exit status 1
// when a status other than 9, 8 and 0 came or the run timed out.

#include <QCoreApplication>
#include <QTimer>

#include <array>
#include <dirent.h>
#include <fstream>

#include "bench_common.h"
#include "eventsink.h"
#include "zivcontrolctrl.h"

namespace {

long resident_kib() {
    std::ifstream status("/proc/self/status");
    std::string key;
    long value = -1;
    while (status >> key) {
        if (key == "VmRSS:") {
            status >> value;
            return value;
        }
        status.ignore(1 << 12, '\n');
    }
    return value;
}

int open_descriptors() {
    DIR* dir = ::opendir("/proc/self/fd");
    if (!dir) return -1;
    int n = 0;
    while (const dirent* e = ::readdir(dir))
        if (e->d_name[0] != '.') ++n;
    ::closedir(dir);
    return n - 1;  // the descriptor that reads the folder
}

struct Sample {
    long rss_kib = 0;
    int fds = 0;
};

Sample sample() { return {resident_kib(), open_descriptors()}; }

}  // namespace

int main(int argc, char** argv) {
    ziv::bench::ClientArgs args;
    bool single = false;
    int warmup = 1000;
    ziv::cmdline::CommandLine command_line = ziv::bench::client_command_line("bench_soak", args);
    command_line.options.push_back(
        {"--single", "", "one connection per image (default: live mode)", ziv::cmdline::flag(single)});
    command_line.options.push_back({"--warmup", "W", "images before the first sample (default 1000)",
                                    ziv::cmdline::integer(warmup, 1, 1000000000)});
    for (auto& option : command_line.options)
        if (option.name == "--images") option.help = "images after the warm-up (default 100000)";
    if (const auto status = command_line.parse_main(argc, argv)) return *status;
    if (args.images == 0) args.images = 100000;
    QCoreApplication app(argc, argv);

    CZiVControlCtrl ctrl;
    ctrl.SetServer(args.host.c_str());
    ctrl.SetPort(args.port);
    ctrl.SetLive(single ? FALSE : TRUE);
    const auto request = [&] { ctrl.RequestImage(0, 0, args.width, args.height, 1, 1); };

    std::array<long, 10> statuses{};
    int ready = 0;
    Sample start, end;
    std::chrono::steady_clock::time_point started;
    auto on_status = [&](LONG status) {
        ++statuses[std::size_t(status >= 0 && status <= 9 ? status : 5)];
        if (status != PR_IMAGE_READY && status != PR_IMAGE_STARTED && status != PR_REQUEST_SENT) {
            QCoreApplication::exit(1);
            return;
        }
        if (status != PR_IMAGE_READY) return;
        ++ready;
        if (ready == warmup) {
            start = sample();
            started = std::chrono::steady_clock::now();
        }
        if (ready == warmup + args.images) {
            ctrl.SetLive(FALSE);  // no further request
            QCoreApplication::exit(0);
        } else if (single) {
            // The next connection is made from the event loop, not from inside this event.
            QTimer::singleShot(0, request);
        }
    };
    DWORD cookie = 0;
    auto* sink = new CEventSink(DIID__DZiVControlEvents, {SinkHandler<VT_I4>(eventidPictureReady, on_status)});
    AdviseSink(ctrl.GetControllingUnknown(), DIID__DZiVControlEvents, sink, &cookie);
    sink->Release();
    request();
    QTimer::singleShot(3600 * 1000, [] { QCoreApplication::exit(3); });
    const int rc = app.exec();
    end = sample();
    const double seconds = ziv::bench::seconds_since(started);
    ctrl.Abort();

    std::printf("soak %s %dx%d images %d seconds %.1f rss_kib %ld %ld fds %d %d statuses", single ? "single" : "live",
                args.width, args.height, ready - warmup, seconds, start.rss_kib, end.rss_kib, start.fds, end.fds);
    for (int s = 0; s <= 9; ++s)
        if (statuses[std::size_t(s)] > 0) std::printf(" %d:%ld", s, statuses[std::size_t(s)]);
    std::printf("\n");
    if (rc != 0) {
        std::fprintf(stderr, "bench_soak: %s after %d images\n", rc == 3 ? "timed out" : "a failure status came",
                     ready);
        return 1;
    }
    return 0;
}
