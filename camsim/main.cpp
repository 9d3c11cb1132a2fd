// camsim: the simulated camera image server; runs until SIGINT or SIGTERM.
#include "options.h"
#include "server.h"

#include <csignal>
#include <cstdio>
#include <pthread.h>

int main(int argc, char** argv) {
    ziv::camsim::Options options;
    if (const auto status = ziv::camsim::command_line(options).parse_main(argc, argv)) return *status;

    // Block the stop signals in every thread; the main thread waits for them.
    sigset_t stop_signals;
    sigemptyset(&stop_signals);
    sigaddset(&stop_signals, SIGINT);
    sigaddset(&stop_signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);

    ziv::camsim::Server server(options);
    std::string error;
    if (!server.start(error)) {
        std::fprintf(stderr, "camsim: %s\n", error.c_str());
        return 1;
    }
    std::printf("listening on %s:%d\n", options.bind_address.c_str(), server.port());
    std::printf("sensor %dx%d, %s\n", server.source().width(), server.source().height(),
                options.image_file.empty() ? "animated test pattern" : options.image_file.c_str());
    std::fflush(stdout);

    int signal = 0;
    sigwait(&stop_signals, &signal);
    server.stop();
    return 0;
}
