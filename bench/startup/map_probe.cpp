// Starts a program and reports how long its first window took to become
// viewable on the X display, and the program's peak resident memory a short
// moment later. The probe talks to the X server through plain Xlib and
// waits on events rather than polling, so that its own cost and latency
// stay far below what it measures.
//
// Usage: bench_map_probe [--settle-ms N] [--timeout-ms N] -- PROGRAM [ARGS...]
// Prints one line: startup_us=... hwm_kb=... rss_kb=... window=0x...

#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include <fcntl.h>
#include <poll.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

namespace {

// The monotonic clock, in nanoseconds.
long long nowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// Windows come and go while the program starts (Qt destroys some of its
// helper windows again), so a request on a window that is already gone is
// expected and harmless.
int ignoreXErrors(Display* /*display*/, XErrorEvent* /*error*/) {
    return 0;
}

// The process that owns a window, as the toolkit announces it in
// _NET_WM_PID; -1 while the window carries no such property.
pid_t windowPid(Display* display, Window window, Atom pidAtom) {
    Atom type = None;
    int format = 0;
    unsigned long count = 0;
    unsigned long after = 0;
    unsigned char* data = nullptr;
    if (XGetWindowProperty(display, window, pidAtom, 0, 1, False, XA_CARDINAL, &type, &format,
                           &count, &after, &data) != Success) {
        return -1;
    }
    pid_t pid = -1;
    if (data != nullptr && type == XA_CARDINAL && format == 32 && count == 1) {
        // Xlib hands 32-bit properties back as longs.
        pid = static_cast<pid_t>(*reinterpret_cast<const unsigned long*>(data));
    }
    if (data != nullptr) {
        XFree(data);
    }
    return pid;
}

// Viewable means mapped with every ancestor mapped too: under a reparenting
// window manager the window only counts once its frame is on the screen.
bool isViewable(Display* display, Window window) {
    XWindowAttributes attributes{};
    return XGetWindowAttributes(display, window, &attributes) != 0 &&
           attributes.map_state == IsViewable;
}

struct Memory {
    long hwmKb = -1;
    long rssKb = -1;
};

Memory readMemory(pid_t pid) {
    Memory memory;
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmHWM:", 0) == 0) {
            memory.hwmKb = std::strtol(line.c_str() + 6, nullptr, 10);
        } else if (line.rfind("VmRSS:", 0) == 0) {
            memory.rssKb = std::strtol(line.c_str() + 6, nullptr, 10);
        }
    }
    return memory;
}

void stopChild(pid_t pid) {
    kill(pid, SIGKILL);
    int status = 0;
    waitpid(pid, &status, 0);
}

int usage() {
    std::fprintf(stderr,
                 "usage: bench_map_probe [--settle-ms N] [--timeout-ms N] -- PROGRAM [ARGS...]\n");
    return 2;
}

} // namespace

int main(int argc, char* argv[]) {
    long settleMs = 300;
    long timeoutMs = 30000;
    int first = -1;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--") {
            first = i + 1;
            break;
        }
        if (i + 1 >= argc) {
            return usage();
        }
        if (arg == "--settle-ms") {
            settleMs = std::strtol(argv[++i], nullptr, 10);
        } else if (arg == "--timeout-ms") {
            timeoutMs = std::strtol(argv[++i], nullptr, 10);
        } else {
            return usage();
        }
    }
    if (first < 0 || first >= argc) {
        return usage();
    }

    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) {
        std::fprintf(stderr, "bench_map_probe: cannot open the X display\n");
        return 2;
    }
    // The measured program must not inherit the probe's connection.
    fcntl(ConnectionNumber(display), F_SETFD, FD_CLOEXEC);
    XSetErrorHandler(ignoreXErrors);
    const Window root = DefaultRootWindow(display);
    const Atom pidAtom = XInternAtom(display, "_NET_WM_PID", False);
    // Creation, mapping and reparenting of every top-level window, and the
    // mapping of window manager frames, all show up on the root window.
    XSelectInput(display, root, SubstructureNotifyMask);
    XSync(display, False);

    const long long startedAt = nowNs();
    const pid_t child = fork();
    if (child < 0) {
        std::perror("bench_map_probe: fork");
        return 2;
    }
    if (child == 0) {
        // The program's own output would mix with the probe's one line.
        const int devNull = open("/dev/null", O_WRONLY);
        if (devNull >= 0) {
            dup2(devNull, STDOUT_FILENO);
            close(devNull);
        }
        execvp(argv[first], argv + first);
        std::perror("bench_map_probe: exec");
        _exit(127);
    }

    struct Candidate {
        Window window;
        pid_t pid;
    };
    std::vector<Candidate> candidates;
    long long shownAt = -1;
    Window shown = None;
    const long long deadline = startedAt + timeoutMs * 1000000LL;

    while (shownAt < 0) {
        while (shownAt < 0 && XPending(display) > 0) {
            XEvent event;
            XNextEvent(display, &event);
            // The moment counts from when the event arrived, not from when
            // the checks below have finished their round trips.
            const long long receivedAt = nowNs();
            bool look = false;
            switch (event.type) {
            case CreateNotify:
                if (event.xcreatewindow.parent == root) {
                    // Once the window manager reparents the window it leaves
                    // the root's children; its own events still reach us.
                    XSelectInput(display, event.xcreatewindow.window, StructureNotifyMask);
                    candidates.push_back({event.xcreatewindow.window, -1});
                    look = true;
                }
                break;
            case MapNotify:
            case ReparentNotify:
                look = true;
                break;
            case DestroyNotify:
                std::erase_if(candidates, [&](const Candidate& c) {
                    return c.window == event.xdestroywindow.window;
                });
                break;
            default:
                break;
            }
            if (!look) {
                continue;
            }
            for (Candidate& c : candidates) {
                if (!isViewable(display, c.window)) {
                    continue;
                }
                if (c.pid < 0) {
                    c.pid = windowPid(display, c.window, pidAtom);
                }
                if (c.pid == child) {
                    shownAt = receivedAt;
                    shown = c.window;
                    break;
                }
            }
        }
        if (shownAt >= 0) {
            break;
        }
        int status = 0;
        if (waitpid(child, &status, WNOHANG) == child) {
            std::fprintf(stderr, "bench_map_probe: %s ended before showing a window\n",
                         argv[first]);
            XCloseDisplay(display);
            return 3;
        }
        const long long left = deadline - nowNs();
        if (left <= 0) {
            std::fprintf(stderr, "bench_map_probe: no window within %ld ms\n", timeoutMs);
            stopChild(child);
            XCloseDisplay(display);
            return 4;
        }
        pollfd fd{ConnectionNumber(display), POLLIN, 0};
        // A short poll also notices a program that dies without a window.
        poll(&fd, 1, static_cast<int>(std::min<long long>(left / 1000000LL + 1, 50)));
    }

    // Memory keeps growing for a moment after the first map while the
    // program paints and settles; the peak is read once that is over.
    if (settleMs > 0) {
        usleep(static_cast<useconds_t>(settleMs) * 1000U);
    }
    const Memory memory = readMemory(child);
    stopChild(child);
    XCloseDisplay(display);

    std::printf("startup_us=%lld hwm_kb=%ld rss_kb=%ld window=0x%lx\n",
                (shownAt - startedAt) / 1000LL, memory.hwmKb, memory.rssKb,
                static_cast<unsigned long>(shown));
    return 0;
}
