#include "tests/http/test_server.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

extern char** environ;

namespace pelmora::testing {

namespace {

std::string Hex(std::string_view bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string out;
  out.reserve(bytes.size() * 2);
  for (const char ch : bytes) {
    const auto c = static_cast<unsigned char>(ch);
    out += kDigits[c >> 4];
    out += kDigits[c & 0x0F];
  }
  return out;
}

std::string ReadLine(std::FILE* in) {
  std::string line;
  for (int c = std::fgetc(in); c != EOF && c != '\n'; c = std::fgetc(in)) {
    line += static_cast<char>(c);
  }
  return line;
}

}  // namespace

TestServer::TestServer(const Options& options) {
  std::string pattern = (std::filesystem::temp_directory_path() / "pelmora-server-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) {
    return;
  }
  m_workdir = pattern;

  int toChild[2];
  int fromChild[2];
  if (::pipe2(toChild, O_CLOEXEC) != 0) {
    return;
  }
  if (::pipe2(fromChild, O_CLOEXEC) != 0) {
    ::close(toChild[0]);
    ::close(toChild[1]);
    return;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, toChild[0], STDIN_FILENO);
  posix_spawn_file_actions_adddup2(&actions, fromChild[1], STDOUT_FILENO);

  std::string script = PELMORA_TEST_SERVER_SCRIPT;
  std::string workdir = m_workdir.string();
  std::string root = options.root.string();
  std::vector<char*> argv = {const_cast<char*>("python3"), script.data(),
                             const_cast<char*>("--workdir"), workdir.data()};
  if (!root.empty()) {
    argv.push_back(const_cast<char*>("--root"));
    argv.push_back(root.data());
  }
  argv.push_back(nullptr);
  const int spawned = ::posix_spawnp(&m_child, "python3", &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(toChild[0]);
  ::close(fromChild[1]);
  if (spawned != 0) {
    m_child = -1;
    ::close(toChild[1]);
    ::close(fromChild[0]);
    return;
  }
  m_toChild = ::fdopen(toChild[1], "w");
  m_fromChild = ::fdopen(fromChild[0], "r");
  if (m_toChild == nullptr || m_fromChild == nullptr) {
    return;
  }

  const std::string ready = ReadLine(m_fromChild);
  int http = 0;
  int other = 0;
  int https = 0;
  if (std::sscanf(ready.c_str(), "READY %d %d %d", &http, &other, &https) == 3) {
    m_httpPort = http;
    m_otherHttpPort = other;
    m_httpsPort = https;
  }
}

TestServer::~TestServer() {
  if (m_toChild != nullptr) {
    std::fputs("{\"cmd\":\"quit\"}\n", m_toChild);
    std::fclose(m_toChild);
  }
  if (m_fromChild != nullptr) {
    std::fclose(m_fromChild);
  }
  if (m_child > 0) {
    ::waitpid(m_child, nullptr, 0);
  }
  std::error_code ignored;
  if (!m_workdir.empty()) {
    std::filesystem::remove_all(m_workdir, ignored);
  }
}

std::string TestServer::HttpUrl(std::string_view path) const {
  return "http://127.0.0.1:" + std::to_string(m_httpPort) + std::string(path);
}

std::string TestServer::OtherHttpUrl(std::string_view path) const {
  return "http://127.0.0.1:" + std::to_string(m_otherHttpPort) + std::string(path);
}

std::string TestServer::HttpsUrl(std::string_view path) const {
  return "https://localhost:" + std::to_string(m_httpsPort) + std::string(path);
}

std::string TestServer::Command(const std::string& json) {
  if (!ok()) {
    return {};
  }
  std::fputs(json.c_str(), m_toChild);
  std::fputc('\n', m_toChild);
  std::fflush(m_toChild);
  return ReadLine(m_fromChild);
}

void TestServer::Route(std::string_view path, const Answer& answer) {
  std::string json = "{\"cmd\":\"route\",\"path\":\"" + Hex(path) + "\",\"answer\":{";
  json += "\"status\":" + std::to_string(answer.status);
  json += ",\"body\":\"" + Hex(answer.body) + "\",\"headers\":[";
  for (std::size_t i = 0; i < answer.headers.size(); ++i) {
    json += (i == 0 ? "\"" : ",\"") + Hex(answer.headers[i]) + "\"";
  }
  json += "],\"length\":";
  if (answer.closeDelimited) {
    json += "\"none\"";
  } else if (answer.declaredLength) {
    json += std::to_string(*answer.declaredLength);
  } else {
    json += "\"auto\"";
  }
  json += ",\"delay_ms\":" + std::to_string(answer.delayMs);
  json += ",\"chunk_size\":" + std::to_string(answer.chunkSize);
  json += ",\"chunk_delay_ms\":" + std::to_string(answer.chunkDelayMs);
  json += std::string(",\"stall\":") + (answer.stall ? "true" : "false");
  if (!answer.raw.empty()) {
    json += ",\"raw\":\"" + Hex(answer.raw) + "\"";
  }
  json += "}}";
  const std::lock_guard lock(m_lock);
  Command(json);
}

void TestServer::Reset() {
  const std::lock_guard lock(m_lock);
  Command("{\"cmd\":\"reset\"}");
}

std::vector<RecordedRequest> TestServer::FetchLog(const char* kind) {
  const std::lock_guard lock(m_lock);
  std::vector<RecordedRequest> requests;
  const std::string count = Command(std::string("{\"cmd\":\"") + kind + "\"}");
  const int n = std::atoi(count.c_str());
  for (int i = 0; i < n; ++i) {
    const std::string header = ReadLine(m_fromChild);
    RecordedRequest request;
    char listener[16] = {};
    long length = 0;
    if (std::sscanf(header.c_str(), "%15s %d %ld", listener, &request.connection, &length) != 3) {
      break;
    }
    request.listener = listener;
    request.raw.resize(static_cast<std::size_t>(length));
    if (std::fread(request.raw.data(), 1, request.raw.size(), m_fromChild) != request.raw.size()) {
      break;
    }
    requests.push_back(std::move(request));
  }
  return requests;
}

std::vector<RecordedRequest> TestServer::Requests() { return FetchLog("requests"); }

std::vector<RecordedRequest> TestServer::TakeRequests() { return FetchLog("take"); }

}  // namespace pelmora::testing
