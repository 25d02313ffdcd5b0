// bench_soak.cpp: a long run against the real program. Starts kelpmoor (the binary next to this
// one, or --program) on free ports, then N clients send a mixed stream of every kind of command,
// each the moment the reply to its last one arrives, while viewers poll the HTTP documents as
// the browser viewer does. Every interval it prints replies per second, the server's resident
// memory and the errors so far; at the end whether every command was answered exactly once.
// Needs a display: tools/with-display.sh build/bench_soak [--clients 10] [--seconds 600]
//   [--viewers 4] [--interval 60] [--program path]
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "bench_util.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int VIEWER_POLL_MS = 100;  // one document per viewer every this long
constexpr int STARTUP_TIMEOUT_S = 20;
constexpr int QUIET_CHECK_MS = 300;  // after the last reply: any further byte is an extra reply

// Every command kind but those that end a client or fill the table for good (battle mode,
// C A, R): moves, turns, pen and line styles, colours, names, messages, events, queries.
const char *const MIX[] = {
    "F 5",           "T L 33",  "B 3",      "T R 21",  "Q P",   "J 40 -20", "G -3 4",
    "Q D",           "T N",     "T E",      "T W",     "T S",   "P D",      "F 2",
    "P U",           "Q M",     "L S",      "L B",     "L P",   "L",        "K 0.2 0.8 0.4",
    "W 2",           "Q F",     "S 6869",   "U hello", "I 1",   "I 0",      "Y + 4",
    "Y - 4",         "E 80",    "Q R 1",    "Q W",     "Q A",   "Q S",      "Q T",
    "Q N",           "Q B",     "D",        ".",       "C H 0", "C F 1",    "C 2",
    "H 0.1 0.2 0.3", "Z bogus", "T L 1e308"};
constexpr int MIX_SIZE = sizeof MIX / sizeof MIX[0];
const char *const DOCUMENTS[] = {"/turtle", "/wall", "/coin", "/camera", "/soak0/camera"};

struct counters {
    std::atomic<long> sent{0}, replies{0}, extra{0}, malformed{0}, dropped{0};
    std::atomic<long> http_ok{0}, http_errors{0}, http_reconnects{0};
};
counters stats;
std::atomic<bool> stopping{false};

bool send_all(int fd, const std::string &s) {
    return send(fd, s.data(), s.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(s.size());
}

// "[payload ]OK|ERR @ <tick> <events>" without its line feed.
bool well_formed(const std::string &line) {
    const size_t at = line.rfind(" @ ");
    if (at == std::string::npos) return false;
    const std::string head = line.substr(0, at);
    const bool status = head == "OK" || head == "ERR" ||
                        (head.size() > 3 && head.compare(head.size() - 3, 3, " OK") == 0) ||
                        (head.size() > 4 && head.compare(head.size() - 4, 4, " ERR") == 0);
    const std::string tail = line.substr(at + 3);
    const size_t sp = tail.find(' ');
    return status && sp != std::string::npos && sp > 0 && sp + 1 < tail.size() &&
           tail.find_first_not_of("0123456789 ") == std::string::npos &&
           tail.find(' ', sp + 1) == std::string::npos;
}

// One client: a command, its reply, the next. Bytes after the reply's line feed, before the
// next command is sent, are a second reply to the same command.
void client(int port, int k) {
    const int fd = bench::try_connect_loopback(port);
    if (fd < 0) {
        stats.dropped++;
        return;
    }
    char hex[32];
    std::snprintf(hex, sizeof hex, "N %02x%02x%02x%02x%02x\n", 's', 'o', 'a', 'k', '0' + k % 10);
    std::string pending = hex;
    std::string got;
    char buf[4096];
    for (long i = k;; i++) {
        if (!send_all(fd, pending)) {
            stats.dropped++;
            break;
        }
        stats.sent++;
        size_t nl;
        while ((nl = got.find('\n')) == std::string::npos) {
            const ssize_t r = recv(fd, buf, sizeof buf, 0);
            if (r <= 0) {
                stats.dropped++;
                close(fd);
                return;
            }
            got.append(buf, static_cast<size_t>(r));
        }
        stats.replies++;
        if (!well_formed(got.substr(0, nl))) stats.malformed++;
        if (nl + 1 != got.size()) stats.extra++;
        got.clear();
        if (stopping) break;
        pending = std::string(MIX[i % MIX_SIZE]) + "\n";
    }
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, QUIET_CHECK_MS) > 0 && recv(fd, buf, sizeof buf, MSG_DONTWAIT) > 0) {
        stats.extra++;
    }
    close(fd);
}

enum class got { response, closed, error };

// One keep-alive GET: its whole response read. `closed` when the server had closed the
// connection before answering (a keep-alive connection's idle budget runs out after a minute
// of polling: the browser then reconnects too); `error` for anything but a 200 with its body.
got http_get(int fd, const char *path) {
    std::string request = std::string("GET ") + path + " HTTP/1.1\r\nHost: soak\r\n\r\n";
    if (!send_all(fd, request)) return got::closed;
    std::string r;
    char buf[16384];
    size_t end;
    while ((end = r.find("\r\n\r\n")) == std::string::npos) {
        const ssize_t n = recv(fd, buf, sizeof buf, 0);
        if (n <= 0) return r.empty() ? got::closed : got::error;
        r.append(buf, static_cast<size_t>(n));
    }
    const size_t cl = r.find("Content-Length: ");
    if (r.rfind("HTTP/1.1 200 OK\r\n", 0) != 0 || cl == std::string::npos || cl > end) {
        return got::error;
    }
    const size_t want = end + 4 + std::strtoul(r.c_str() + cl + 16, nullptr, 10);
    while (r.size() < want) {
        const ssize_t n = recv(fd, buf, sizeof buf, 0);
        if (n <= 0) return got::error;
        r.append(buf, static_cast<size_t>(n));
    }
    return r.size() == want ? got::response : got::error;
}

void viewer(int port, int k) {
    int fd = -1;
    for (long i = k; !stopping; i++) {
        got g = got::error;
        for (int attempt = 0; attempt < 2; attempt++) {  // one reconnect after a close
            if (fd < 0) fd = bench::try_connect_loopback(port);
            g = fd >= 0 ? http_get(fd, DOCUMENTS[i % 5]) : got::error;
            if (g == got::response) break;
            if (fd >= 0) close(fd);
            fd = -1;
            if (g == got::closed) stats.http_reconnects++;
            if (g == got::error) break;
        }
        if (g == got::response) {
            stats.http_ok++;
        } else {
            stats.http_errors++;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(VIEWER_POLL_MS));
    }
    if (fd >= 0) close(fd);
}

long resident_kib(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
    }
    return -1;
}

pid_t start_program(const std::string &program, int port, int http_port) {
    const pid_t pid = fork();
    if (pid == 0) {
        setenv("KELPMOOR_PORT", std::to_string(port).c_str(), 1);
        setenv("KELPMOOR_HTTP_PORT", std::to_string(http_port).c_str(), 1);
        if (std::freopen("/dev/null", "w", stderr) == nullptr) _exit(127);
        execl(program.c_str(), program.c_str(), static_cast<char *>(nullptr));
        _exit(127);
    }
    return pid;
}

bool wait_for_port(int port, pid_t pid) {
    for (int i = 0; i < STARTUP_TIMEOUT_S * 10; i++) {
        if (waitpid(pid, nullptr, WNOHANG) == pid) return false;
        const int fd = bench::try_connect_loopback(port);
        if (fd >= 0) {
            close(fd);  // a client that leaves at once: the server keeps a zombie
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return false;
}

}  // namespace

int main(int argc, char **argv) {
    int clients = 10, viewers = 4;
    double seconds = 600, interval = 60;
    std::string program;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string opt = argv[i];
        if (opt == "--clients")
            clients = std::atoi(argv[i + 1]);
        else if (opt == "--viewers")
            viewers = std::atoi(argv[i + 1]);
        else if (opt == "--seconds")
            seconds = std::atof(argv[i + 1]);
        else if (opt == "--interval")
            interval = std::atof(argv[i + 1]);
        else if (opt == "--program")
            program = argv[i + 1];
        else {
            std::fprintf(stderr, "bench_soak: unknown option %s\n", argv[i]);
            return 2;
        }
    }
    if (program.empty()) {
        char self[4096];
        const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
        self[n > 0 ? n : 0] = '\0';
        program = std::string(self).substr(0, std::string(self).rfind('/') + 1) + "kelpmoor";
    }
    const int port = bench::free_port(), http_port = bench::free_port();
    const pid_t pid = start_program(program, port, http_port);
    if (pid < 0 || !wait_for_port(port, pid) || !wait_for_port(http_port, pid)) {
        std::fprintf(stderr, "bench_soak: %s did not start on ports %d and %d\n", program.c_str(),
                     port, http_port);
        if (pid > 0) kill(pid, SIGKILL);
        return 1;
    }
    std::printf("bench_soak: %d clients, %d viewers, %.0f s, server pid %d\n", clients, viewers,
                seconds, static_cast<int>(pid));
    std::printf("%8s %12s %10s %10s %9s %9s\n", "time s", "replies/s", "RSS KiB", "http/s",
                "errors", "dropped");
    std::fflush(stdout);

    std::vector<std::thread> threads;
    for (int k = 0; k < clients; k++) threads.emplace_back(client, port, k);
    for (int k = 0; k < viewers; k++) threads.emplace_back(viewer, http_port, k);

    const auto start = Clock::now();
    long last_replies = 0, last_http = 0;
    for (double t = interval; t <= seconds + 1e-9; t += interval) {
        std::this_thread::sleep_until(start + std::chrono::duration<double>(t));
        const long replies = stats.replies, http = stats.http_ok;
        const long errors = stats.malformed + stats.extra + stats.http_errors;
        std::printf("%8.0f %12.1f %10ld %10.1f %9ld %9ld\n", t, (replies - last_replies) / interval,
                    resident_kib(pid), (http - last_http) / interval, errors, stats.dropped.load());
        std::fflush(stdout);
        last_replies = replies;
        last_http = http;
    }
    stopping = true;
    for (auto &th : threads) th.join();
    const bool alive = waitpid(pid, nullptr, WNOHANG) == 0;
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);

    const bool once = stats.sent == stats.replies && stats.extra == 0 && stats.dropped == 0;
    std::printf(
        "commands sent %ld, replies %ld, extra replies %ld, malformed %ld, "
        "connections lost %ld; http documents %ld, http errors %ld, reconnects %ld; "
        "server %s\n",
        stats.sent.load(), stats.replies.load(), stats.extra.load(), stats.malformed.load(),
        stats.dropped.load(), stats.http_ok.load(), stats.http_errors.load(),
        stats.http_reconnects.load(), alive ? "alive" : "gone");
    std::printf("every command answered exactly once: %s\n", once ? "yes" : "NO");
    return once && stats.malformed == 0 && stats.http_errors == 0 && alive ? 0 : 1;
}
