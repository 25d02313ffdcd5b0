// bench_httpd.cpp: the web viewer server under load, with the real field running in this
// process (window, timer, frames, command server) and 10 clients driving their turtles the
// whole time; run it under Xvfb: tools/with-display.sh build/bench_httpd.
//
// Requests: /turtle on 1, 10 and 50 keep-alive connections at once, requests per second
//    against Debian's nginx serving the same body from a file (started here on a free port
//    with its own configuration in a temporary directory, stopped at the end), in
//    alternating rounds.
// Streams: the tick rate with 100 stream viewers against none, in alternating phases, and the
//    time from a command's reply to the first event that shows it.
// Floor: while one turtle paints without pause, what a viewer that follows the stream's floor
//    versions with /live/floor/since/V downloads per second, and the frame's read-back cost.
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "bench_util.h"
#include "draw/floor_readback.h"
#include "kelpmoor.h"
#include "server/httpd.h"
#include "server/tcpserver.h"
#include "world/world.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr double ROUND_SECONDS = 1.0;  // requests: one round of one server
constexpr int ROUNDS = 5;              // requests: rounds per server and concurrency
constexpr double PHASE_SECONDS = 4.0;  // streams: one phase
constexpr int PHASES = 3;              // streams: phases of each kind
constexpr double FLOOR_SECONDS = 10.0;
constexpr int DRIVERS = 10;
constexpr int STREAM_VIEWERS = 100;
constexpr char REQUEST[] = "GET /turtle HTTP/1.1\r\nHost: bench\r\n\r\n";

double seconds_since(Clock::time_point t) {
    return std::chrono::duration<double>(Clock::now() - t).count();
}

// The length of the whole response at the front of `got`, or 0 while it is incomplete.
size_t response_length(const std::string &got) {
    const size_t end = got.find("\r\n\r\n");
    if (end == std::string::npos) return 0;
    size_t at = got.find("Content-Length: ");
    if (at == std::string::npos || at > end) at = got.find("content-length: ");
    const size_t body = at == std::string::npos ? 0 : std::stoul(got.substr(at + 16));
    return got.size() >= end + 4 + body ? end + 4 + body : 0;
}

// One whole response to one request on fd; false when the connection fails.
bool exchange(int fd, const std::string &request, std::string &response) {
    if (send(fd, request.data(), request.size(), MSG_NOSIGNAL) <= 0) return false;
    response.clear();
    char buf[65536];
    while (response_length(response) == 0) {
        const ssize_t n = recv(fd, buf, sizeof buf, 0);
        if (n <= 0) return false;
        response.append(buf, static_cast<size_t>(n));
    }
    return true;
}

// Requests per second over `seconds` from `conns` keep-alive connections, each sending its
// next request when its response is whole; one thread polls them all.
double load(int port, int conns, double seconds) {
    std::vector<int> fds;
    std::vector<std::string> got(conns);
    std::vector<pollfd> p;
    for (int i = 0; i < conns; i++) {
        fds.push_back(bench::connect_loopback(port));
        p.push_back({fds.back(), POLLIN, 0});
        send(fds.back(), REQUEST, sizeof REQUEST - 1, MSG_NOSIGNAL);
    }
    long done = 0;
    char buf[65536];
    const auto start = Clock::now();
    while (seconds_since(start) < seconds) {
        if (poll(p.data(), p.size(), 100) <= 0) continue;
        for (int i = 0; i < conns; i++) {
            if (!(p[i].revents & POLLIN)) continue;
            const ssize_t n = recv(fds[i], buf, sizeof buf, 0);
            if (n <= 0) {
                std::fputs("bench_httpd: connection lost\n", stderr);
                std::_Exit(1);
            }
            got[i].append(buf, static_cast<size_t>(n));
            while (const size_t len = response_length(got[i])) {
                got[i].erase(0, len);
                done++;
                send(fds[i], REQUEST, sizeof REQUEST - 1, MSG_NOSIGNAL);
            }
        }
    }
    const double rate = done / seconds_since(start);
    for (int fd : fds) close(fd);
    return rate;
}

// ---- nginx ----
struct nginx_server {
    pid_t pid = -1;
    int port = 0;
    std::string dir;
};

nginx_server start_nginx(const std::string &body) {
    nginx_server n;
    char tmpl[] = "/tmp/bench-httpd-nginx-XXXXXX";
    if (mkdtemp(tmpl) == nullptr) return n;
    n.dir = tmpl;
    chmod(tmpl, 0755);  // its workers may run as another user
    std::ofstream(n.dir + "/turtle") << body;
    n.port = bench::free_port();
    std::ofstream conf(n.dir + "/nginx.conf");
    conf << "worker_processes auto;\npid " << n.dir << "/nginx.pid;\nerror_log " << n.dir
         << "/error.log;\nevents { worker_connections 1024; }\nhttp {\n  access_log off;\n"
         << "  default_type application/json;\n  keepalive_requests 100000000;\n"
         << "  client_body_temp_path " << n.dir << "/tmp;\n  proxy_temp_path " << n.dir
         << "/tmp;\n  fastcgi_temp_path " << n.dir << "/tmp;\n  uwsgi_temp_path " << n.dir
         << "/tmp;\n  scgi_temp_path " << n.dir
         << "/tmp;\n  server {\n    listen 127.0.0.1:" << n.port << ";\n    root " << n.dir
         << ";\n  }\n}\n";
    conf.close();
    n.pid = fork();
    if (n.pid == 0) {
        execlp("nginx", "nginx", "-e", (n.dir + "/error.log").c_str(), "-p", n.dir.c_str(), "-c",
               (n.dir + "/nginx.conf").c_str(), "-g", "daemon off;", static_cast<char *>(nullptr));
        _exit(127);
    }
    for (int i = 0; i < 100; i++) {
        const int fd = bench::try_connect_loopback(n.port);
        if (fd >= 0) {
            close(fd);
            return n;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    std::fputs("bench_httpd: nginx did not start (tools/install-deps.sh installs it)\n", stderr);
    std::_Exit(1);
}

void stop_nginx(nginx_server &n) {
    if (n.pid > 0) {
        kill(n.pid, SIGQUIT);
        waitpid(n.pid, nullptr, 0);
    }
    std::system(("rm -rf " + n.dir).c_str());
}

// ---- Clients driving the field ----
std::atomic<bool> painting{false};  // driver 1 paints instead of walking
std::mutex probe_mutex;
double probe_x = 1e9;  // the probe turtle's x that the next event must show
Clock::time_point probe_reply;
std::vector<double> probe_latency_ms;
std::atomic<bool> probing{false};

void driver(int i, int fd) {
    const char *walk[] = {"F 2\n", "T L 5\n", "B 2\n", "T R 5\n"};
    const char *paint[] = {"F 3\n", "T L 4\n", "K 1 0.2 0.1\n",
                           "F 3\n", "T L 4\n", "K 0.1 1 0.3\n"};
    char buf[512];
    const auto say = [&](const std::string &m) {
        return send(fd, m.data(), m.size(), MSG_NOSIGNAL) > 0 && recv(fd, buf, sizeof buf, 0) > 0;
    };
    if (i == 0 && !say("N 70726f6265\n")) return;  // "probe"
    bool pen = false;
    for (long k = 0;; k++) {
        if (i == 0) {  // the probe jumps to places the stream must show
            const double x = -100.0 + static_cast<double>(k % 200) + 0.25;
            if (!say("J " + std::to_string(x) + " -120\n")) return;
            {
                std::lock_guard lock(probe_mutex);
                probe_x = x;
                probe_reply = Clock::now();
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(30));
            continue;
        }
        const bool p = i == 1 && painting.load();
        if (p != pen && !say(p ? "P D\n" : "P U\n")) return;
        pen = p;
        if (!say(p ? paint[k % 6] : walk[k % 4])) return;
    }
}

// ---- Stream viewers ----
// Reads every viewer's stream; the first one's events are searched for the probe turtle.
void watch_streams(std::vector<int> fds, const std::atomic<bool> &stop) {
    std::vector<pollfd> p;
    for (int fd : fds) p.push_back({fd, POLLIN, 0});
    std::string first;
    char buf[65536];
    while (!stop.load()) {
        if (poll(p.data(), p.size(), 50) <= 0) continue;
        for (size_t i = 0; i < p.size(); i++) {
            if (!(p[i].revents & POLLIN)) continue;
            const ssize_t n = recv(fds[i], buf, sizeof buf, 0);
            if (n <= 0 || i != 0) continue;
            first.append(buf, static_cast<size_t>(n));
            for (size_t end; (end = first.find("\n\n")) != std::string::npos;) {
                const std::string event = first.substr(0, end);
                first.erase(0, end + 2);
                std::lock_guard lock(probe_mutex);
                char want[64];
                std::snprintf(want, sizeof want, "\"name\":\"probe\",\"x\":%.2f,", probe_x);
                if (probing.load() && event.find(want) != std::string::npos) {
                    probe_latency_ms.push_back(
                        std::chrono::duration<double, std::milli>(Clock::now() - probe_reply)
                            .count());
                    probe_x = 1e9;
                }
            }
        }
    }
}

int open_stream() {
    const int fd = bench::connect_loopback(httpd_port());
    send(fd, "GET /live/stream HTTP/1.1\r\n\r\n", 29, MSG_NOSIGNAL);
    return fd;
}

double tick_rate(double seconds) {
    const uint32_t t0 = elapsed_time.load();
    const auto start = Clock::now();
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    return (elapsed_time.load() - t0) / seconds_since(start);
}

void measure_requests() {
    const int fd = bench::connect_loopback(httpd_port());
    std::string response;
    exchange(fd, REQUEST, response);
    close(fd);
    const std::string body = response.substr(response.find("\r\n\r\n") + 4);
    nginx_server nginx = start_nginx(body);
    std::printf(
        "/turtle (%zu body bytes, %d turtles driven), keep-alive, median of %d rounds "
        "of %.1f s:\n",
        body.size(), DRIVERS, ROUNDS, ROUND_SECONDS);
    for (int conns : {1, 10, 50}) {
        std::vector<double> ours, theirs, ratios;
        for (int r = 0; r < ROUNDS; r++) {
            ours.push_back(load(httpd_port(), conns, ROUND_SECONDS));
            theirs.push_back(load(nginx.port, conns, ROUND_SECONDS));
            ratios.push_back(ours.back() / theirs.back());
        }
        std::printf("  %2d connections: httpd %7.0f/s, nginx %7.0f/s, ratio %.2f (goal 1.0)\n",
                    conns, bench::median(ours), bench::median(theirs), bench::median(ratios));
        std::fflush(stdout);
    }
    stop_nginx(nginx);
}

void measure_streams() {
    std::vector<double> without, with, ratios;
    for (int p = 0; p < PHASES; p++) {
        without.push_back(tick_rate(PHASE_SECONDS));
        std::vector<int> fds;
        for (int i = 0; i < STREAM_VIEWERS; i++) fds.push_back(open_stream());
        std::atomic<bool> stop{false};
        std::thread watcher(watch_streams, fds, std::cref(stop));
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        const int watching = httpd_streams();
        probing = true;
        with.push_back(tick_rate(PHASE_SECONDS));
        probing = false;
        ratios.push_back(with.back() / without.back());
        if (watching != STREAM_VIEWERS) std::printf("  only %d stream viewers\n", watching);
        stop = true;
        watcher.join();
        for (int fd : fds) close(fd);
    }
    std::printf("tick rate, %d clients driving, median of %d phases of %.1f s each:\n", DRIVERS,
                PHASES, PHASE_SECONDS);
    std::printf("  without viewers:        %6.1f ticks/s\n", bench::median(without));
    std::printf("  with %d stream viewers: %6.1f ticks/s\n", STREAM_VIEWERS, bench::median(with));
    std::printf("  ratio:                  %.3f (goal at least 0.97)\n", bench::median(ratios));
    std::lock_guard lock(probe_mutex);
    if (!probe_latency_ms.empty()) {
        std::printf(
            "  reply to stream event:  median %.1f ms, p99 %.1f ms over %zu steps (one "
            "frame: %.1f ms)\n",
            bench::median(probe_latency_ms), bench::percentile99(probe_latency_ms),
            probe_latency_ms.size(), 1000.0 / bench::median(with));
    }
    std::fflush(stdout);
}

// The read-back times (of every step, or of the reads alone), taken under the frame lock that
// the frame writes them under.
std::vector<double> locked_readbacks(bool reads_alone = false) {
    std::lock_guard lock(frame_rendering_mutex);
    return reads_alone ? floor_read_times() : floor_readback_times();
}

// A viewer following the floor: every new version in the stream is fetched as since/V.
void measure_floor() {
    painting = true;
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    const size_t steps_before = locked_readbacks().size();
    const size_t reads_before = locked_readbacks(true).size();
    const int stream = open_stream();
    const int floor = bench::connect_loopback(httpd_port());
    std::string response, events;
    exchange(floor, "GET /live/floor.png HTTP/1.1\r\n\r\n", response);
    long have = std::atol(response.substr(response.find("X-Floor-Version: ") + 17).c_str());
    long bytes = 0, picture_bytes = 0, fetches = 0;
    char buf[65536];
    const auto start = Clock::now();
    while (seconds_since(start) < FLOOR_SECONDS) {
        pollfd p{stream, POLLIN, 0};
        if (poll(&p, 1, 100) <= 0) continue;
        const ssize_t n = recv(stream, buf, sizeof buf, 0);
        if (n <= 0) break;
        bytes += n;
        events.append(buf, static_cast<size_t>(n));
        const size_t at = events.rfind("\"floor\":{\"version\":");
        const long latest = at == std::string::npos ? have : std::atol(events.c_str() + at + 19);
        events.erase(0, events.rfind("\n\n") == std::string::npos ? 0 : events.rfind("\n\n"));
        if (latest <= have) continue;
        exchange(floor, "GET /live/floor/since/" + std::to_string(have) + " HTTP/1.1\r\n\r\n",
                 response);
        bytes += static_cast<long>(response.size());
        picture_bytes += static_cast<long>(response.size());
        fetches++;
        have = std::atol(response.substr(response.find("X-Floor-Version: ") + 17).c_str());
    }
    const double secs = seconds_since(start);
    painting = false;
    close(stream);
    close(floor);
    std::vector<double> steps = locked_readbacks(), reads = locked_readbacks(true);
    steps.erase(steps.begin(), steps.begin() + std::min(steps_before, steps.size()));
    reads.erase(reads.begin(), reads.begin() + std::min(reads_before, reads.size()));
    std::printf("floor, one turtle painting for %.0f s:\n", secs);
    std::printf(
        "  a viewer downloads %.1f KB/s (goal at most 200): the stream and %ld pictures of "
        "what changed, %.1f KB/s of them\n",
        bytes / 1000.0 / secs, fetches, picture_bytes / 1000.0 / secs);
    if (!steps.empty() && !reads.empty()) {
        std::printf(
            "  read-back cost per frame that changed the floor (%zu frames): median %.3f "
            "ms, p99 %.3f ms (goal median at most 0.3)\n",
            steps.size(), bench::median(steps) / 1000.0, bench::percentile99(steps) / 1000.0);
        std::printf("  the reads alone (%zu): median %.3f ms, p99 %.3f ms\n", reads.size(),
                    bench::median(reads) / 1000.0, bench::percentile99(reads) / 1000.0);
    }
    std::fflush(stdout);
}

void run() {
    while (tcp_server_port() <= 0 || httpd_port() <= 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    for (int i = 0; i < DRIVERS; i++) {
        std::thread(driver, i, bench::connect_loopback(tcp_server_port())).detach();
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    measure_requests();
    measure_streams();
    measure_floor();
    std::_Exit(0);  // the window's main loop never returns
}

}  // namespace

int main(int argc, char **argv) {
    setenv("KELPMOOR_PORT", std::to_string(bench::free_port()).c_str(), 1);
    setenv("KELPMOOR_HTTP_PORT", std::to_string(bench::free_port()).c_str(), 1);
    if (!read_ports_from_environment()) return 2;
    std::thread(run).detach();
    return field_start(argc, argv);
}
