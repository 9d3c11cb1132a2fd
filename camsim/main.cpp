// camsim: the simulated camera image server; runs until SIGINT or SIGTERM.
#include "camserver.h"

#include <csignal>
#include <cstdio>
#include <pthread.h>

int main(int argc, char** argv) {
    ziv::camsim::Options options;
    std::string error;
    bool help = false;
    if (!ziv::camsim::parseArguments(argc, argv, options, error, help)) {
        std::fprintf(stderr, "camsim: %s\n%s", error.c_str(), ziv::camsim::usageText());
        return 2;
    }
    if (help) {
        std::fputs(ziv::camsim::usageText(), stdout);
        return 0;
    }

    // Block the stop signals in every thread; the main thread waits for them.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    ziv::camsim::Server server(options);
    if (!server.start(error)) {
        std::fprintf(stderr, "camsim: %s\n", error.c_str());
        return 1;
    }
    std::printf("listening on %s:%d\n", options.bindAddress.c_str(), server.port());
    std::printf("sensor %dx%d, %s\n", server.source().width(), server.source().height(),
                options.imageFile.empty() ? "animated test pattern" : options.imageFile.c_str());
    std::fflush(stdout);

    int signal = 0;
    sigwait(&stopSignals, &signal);
    server.stop();
    return 0;
}
