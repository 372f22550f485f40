// Start-up until the main window is mapped on the X server: klassomat on its
// demo tree against a minimal Qt Widgets window. Interleaved pairs; medians of
// wall time and of the CPU time the program has used by then (all its
// threads). Run under X: xvfb-run -a build/bench/bench_startup
#include "measure.h"

#include <xcb/xcb.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <filesystem>
#include <fstream>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char **environ;

namespace {
using bench::median;

constexpr int kRounds = 9;

struct Cost {
    double wallMs = 0;
    double cpuMs = 0;
};

// CPU time of all threads of `pid`, from the scheduler's own account.
double cpuMsOf(pid_t pid)
{
    const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
    double ns = 0;
    if (DIR *dir = opendir(tasks.c_str())) {
        while (const dirent *entry = readdir(dir)) {
            if (entry->d_name[0] == '.')
                continue;
            std::ifstream stat(tasks + "/" + entry->d_name + "/schedstat");
            double runNs = 0;
            if (stat >> runNs)
                ns += runNs;
        }
        closedir(dir);
    }
    return ns / 1e6;
}

// Starts `program` and waits until it maps a window below the root.
Cost startUntilMapped(xcb_connection_t *x, const char *program)
{
    const auto start = std::chrono::steady_clock::now();
    pid_t pid = 0;
    char *argv[] = {const_cast<char *>(program), nullptr};
    if (posix_spawn(&pid, program, nullptr, nullptr, argv, environ) != 0) {
        std::perror(program);
        std::exit(1);
    }
    Cost cost;
    pollfd fd{xcb_get_file_descriptor(x), POLLIN, 0};
    for (bool mapped = false; !mapped;) {
        while (xcb_generic_event_t *event = xcb_poll_for_event(x)) {
            if ((event->response_type & 0x7f) == XCB_MAP_NOTIFY && !reinterpret_cast<xcb_map_notify_event_t *>(event)->override_redirect)
                mapped = true;
            std::free(event);
        }
        if (mapped)
            break;
        if (poll(&fd, 1, 20000) <= 0) {
            std::fprintf(stderr, "%s mapped no window within 20 s\n", program);
            kill(pid, SIGKILL);
            std::exit(1);
        }
    }
    cost.wallMs = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    cost.cpuMs = cpuMsOf(pid);
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    return cost;
}

} // namespace

int main()
{
    xcb_connection_t *x = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(x)) {
        std::fprintf(stderr, "no X display: run under xvfb-run -a\n");
        return 1;
    }
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(x)).data->root;
    const uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
    xcb_change_window_attributes(x, root, XCB_CW_EVENT_MASK, &mask);
    xcb_flush(x);

    // klassomat's own folders in a fresh home, so it starts on the demo tree.
    char home[] = "/tmp/bench_startup-XXXXXX";
    if (!mkdtemp(home))
        return 1;
    setenv("HOME", home, 1);
    setenv("XDG_CONFIG_HOME", (std::string(home) + "/.config").c_str(), 1);
    setenv("XDG_DATA_HOME", (std::string(home) + "/.local/share").c_str(), 1);
    unsetenv("DIRCLIENT_CONFIG");
    setenv("QT_QPA_PLATFORM", "xcb", 1);

    startUntilMapped(x, KLASSOMAT_EXECUTABLE); // copies the demo tree; caches warm up
    startUntilMapped(x, MINIMAL_WINDOW);
    std::vector<double> ourWall, ourCpu, bareWall, bareCpu, wallRatio, cpuRatio;
    for (int round = 0; round < kRounds; ++round) {
        const Cost ours = startUntilMapped(x, KLASSOMAT_EXECUTABLE);
        const Cost bare = startUntilMapped(x, MINIMAL_WINDOW);
        ourWall.push_back(ours.wallMs);
        ourCpu.push_back(ours.cpuMs);
        bareWall.push_back(bare.wallMs);
        bareCpu.push_back(bare.cpuMs);
        wallRatio.push_back(ours.wallMs / bare.wallMs);
        cpuRatio.push_back(ours.cpuMs / bare.cpuMs);
    }
    std::printf("start-up to the mapped main window, %d interleaved pairs (medians)\n", kRounds);
    std::printf("  klassomat (demo tree):  %7.1f ms wall  %7.1f ms CPU\n", median(ourWall), median(ourCpu));
    std::printf("  minimal Qt window:      %7.1f ms wall  %7.1f ms CPU\n", median(bareWall), median(bareCpu));
    std::printf("  ratio:                  %7.2f wall     %7.2f CPU (target wall <= 1.8)\n", median(wallRatio), median(cpuRatio));
    xcb_disconnect(x);
    std::error_code ignored; // a leftover temporary folder is no reason to fail the bench
    std::filesystem::remove_all(home, ignored);
    bench::printLoadAverage();
    return 0;
}
