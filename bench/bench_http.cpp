// 300 parallel picture fetches from a local server: WebRequest on one thread
// each, against `curl --parallel --parallel-max 300` fetching the same files.
//
// The server runs in a forked child (so that its memory is not counted): a
// thread per connection, keep-alive, every answer prebuilt in memory. The
// summary line gives the ratio of the best wall times and the peak resident
// memory of each side (getrusage ru_maxrss).
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "http/web_request.h"
#include "platform/http.h"

extern char** environ;

namespace {

constexpr int kFiles = 300;
constexpr std::size_t kFileSize = std::size_t{500} * 1024;

int g_port = 0;
pid_t g_server = -1;
std::filesystem::path g_curlConfig;
double g_bestOurs = 1e9;  // seconds
double g_bestCurl = 1e9;  // seconds
long g_curlMaxRssKb = 0;

std::string Answer() {
  std::string body(kFileSize, '\0');
  unsigned state = 12345;
  for (char& c : body) {
    state = state * 1103515245u + 12345u;
    c = static_cast<char>(state >> 24);
  }
  return "HTTP/1.1 200 OK\r\nContent-Type: image/jpeg\r\nContent-Length: " +
         std::to_string(kFileSize) + "\r\n\r\n" + body;
}

void ServeConnection(int fd, const std::string& answer) {
  std::string pending;
  char buffer[8192];
  for (;;) {
    while (pending.find("\r\n\r\n") == std::string::npos) {
      const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
      if (n <= 0) {
        ::close(fd);
        return;
      }
      pending.append(buffer, static_cast<std::size_t>(n));
    }
    pending.erase(0, pending.find("\r\n\r\n") + 4);
    std::size_t sent = 0;
    while (sent < answer.size()) {
      const ssize_t n = ::send(fd, answer.data() + sent, answer.size() - sent, MSG_NOSIGNAL);
      if (n <= 0) {
        ::close(fd);
        return;
      }
      sent += static_cast<std::size_t>(n);
    }
  }
}

// Forks the server; the parent keeps the port.
bool StartServer() {
  const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (listener < 0 ||
      ::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(listener, 1024) != 0 ||
      ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    return false;
  }
  g_port = ntohs(address.sin_port);
  g_server = ::fork();
  if (g_server == 0) {
    const std::string answer = Answer();
    for (;;) {
      const int fd = ::accept(listener, nullptr, nullptr);
      if (fd >= 0) {
        std::thread(ServeConnection, fd, std::cref(answer)).detach();
      }
    }
  }
  ::close(listener);
  return g_server > 0;
}

std::string FileUrl(int i) {
  return "http://127.0.0.1:" + std::to_string(g_port) + "/pictures/" + std::to_string(i) + ".jpg";
}

void BM_WebRequest300Threads(benchmark::State& state) {
  std::atomic<int> failed{0};
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    {
      std::vector<std::jthread> threads;
      threads.reserve(kFiles);
      for (int i = 0; i < kFiles; ++i) {
        threads.emplace_back([i, &failed] {
          pelmora::http::RequestOutcome outcome;
          const pelmora::text::Bytes body = pelmora::http::WebRequest(
              pelmora::text::Text(FileUrl(i).c_str()), {.outcome = &outcome});
          if (!outcome.complete || body.str().size() != kFileSize) {
            ++failed;
          }
        });
      }
    }
    g_bestOurs =
        std::min(g_bestOurs,
                 std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  }
  state.counters["failed"] = failed.load();
}
BENCHMARK(BM_WebRequest300Threads)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

// Runs the curl command; with `peakKb`, also samples its peak resident memory
// (VmHWM of its own address space: ru_maxrss of a child that was spawned from
// a large process reports the parent's figure).
bool RunCurl(long* peakKb) {
  const std::string config = g_curlConfig.string();
  const char* argv[] = {"curl", "--http1.1",    "--parallel",          "--parallel-max", "300",
                        "-K",   config.c_str(), "--no-progress-meter", nullptr};
  pid_t pid = -1;
  if (::posix_spawnp(&pid, "curl", nullptr, nullptr, const_cast<char**>(argv), environ) != 0) {
    return false;
  }
  int status = 0;
  if (peakKb == nullptr) {
    return ::waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
  }
  const std::string statusFile = "/proc/" + std::to_string(pid) + "/status";
  while (::waitpid(pid, &status, WNOHANG) == 0) {
    std::ifstream in(statusFile);
    for (std::string line; std::getline(in, line);) {
      if (line.rfind("VmHWM:", 0) == 0) {
        *peakKb = std::max(*peakKb, std::atol(line.c_str() + 6));
      }
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

void BM_CurlParallel300(benchmark::State& state) {
  int failed = 0;
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    if (!RunCurl(nullptr)) {
      ++failed;
    }
    g_bestCurl =
        std::min(g_bestCurl,
                 std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  }
  if (!RunCurl(&g_curlMaxRssKb)) {
    ++failed;
  }
  state.counters["failed"] = failed;
}
BENCHMARK(BM_CurlParallel300)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

}  // namespace

int main(int argc, char** argv) {
  if (!StartServer()) {
    std::fprintf(stderr, "bench_http: no local server\n");
    return 1;
  }
  pelmora::platform::InitHttp();
  g_curlConfig = std::filesystem::temp_directory_path() /
                 ("bench_http_" + std::to_string(::getpid()) + ".cfg");
  {
    std::ofstream config(g_curlConfig);
    for (int i = 0; i < kFiles; ++i) {
      config << "url = \"" << FileUrl(i) << "\"\noutput = \"/dev/null\"\n";
    }
  }
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();

  rusage self{};
  ::getrusage(RUSAGE_SELF, &self);
  std::printf("\n300 x 500 KB: WebRequest best %.3f s, curl --parallel best %.3f s, ratio %.2f\n",
              g_bestOurs, g_bestCurl, g_bestOurs / g_bestCurl);
  std::printf("peak resident memory: this process %ld MiB, curl %ld MiB\n", self.ru_maxrss / 1024,
              g_curlMaxRssKb / 1024);
  std::filesystem::remove(g_curlConfig);
  ::kill(g_server, SIGKILL);
  ::waitpid(g_server, nullptr, 0);
  return 0;
}
