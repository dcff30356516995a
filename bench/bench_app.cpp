// pelmora-cli against curl on one local server holding 300 pictures.
//
// Two sets, each fetched once by each side:
//   all JPEG: pelmora-cli vs `curl --parallel --parallel-max 300`;
//   the mix (70% JPEG, 20% PNG, 10% GIF): pelmora-cli, which converts the
//   non-JPEGs itself, vs curl followed by one `vipsthumbnail` batch turning
//   the non-JPEGs into JPEG.
// Pictures are 0.2 to 1.5 MB of noise, made once with the vips command and
// kept in the build folder. Wall time, CPU time (user + system of the
// measured process) and peak resident memory are printed with the ratios.
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "tests/http/test_server.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using pelmora::testing::Answer;
using pelmora::testing::TestServer;

constexpr int kPictures = 300;

struct Measure {
  double wallSeconds = 0;
  double cpuSeconds = 0;
  double peakMegabytes = 0;
  long minorFaults = 0;
  long contextSwitches = 0;
  int status = -1;
};

// Runs a program without a shell, its output thrown away; the wall time and
// the process's own CPU time and peak memory.
Measure RunMeasured(const std::vector<std::string>& arguments) {
  std::vector<char*> argv;
  argv.reserve(arguments.size() + 1);
  for (const auto& argument : arguments) {
    argv.push_back(const_cast<char*>(argument.c_str()));
  }
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  Measure measure;
  const auto start = std::chrono::steady_clock::now();
  pid_t pid = -1;
  if (posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) {
    posix_spawn_file_actions_destroy(&actions);
    return measure;
  }
  int status = 0;
  rusage usage{};
  ::wait4(pid, &status, 0, &usage);
  measure.wallSeconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  posix_spawn_file_actions_destroy(&actions);
  measure.cpuSeconds = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                       static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
  measure.peakMegabytes = static_cast<double>(usage.ru_maxrss) / 1024.0;
  measure.minorFaults = usage.ru_minflt;
  measure.contextSwitches = usage.ru_nvcsw + usage.ru_nivcsw;
  measure.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return measure;
}

bool Shell(const std::string& command) { return std::system(command.c_str()) == 0; }

// Base pictures of several sizes per format; the 300 served files are links
// to them, so every URL is a file of its own.
struct Base {
  std::string name;
  int width;
  int height;
};

bool MakeBasePictures(const fs::path& folder) {
  if (fs::exists(folder / "done")) {
    return true;
  }
  fs::create_directories(folder);
  const std::string v = (folder / "noise.v").string();
  const std::string r = (folder / "r.v").string();
  const std::string g = (folder / "g.v").string();
  const std::string b = (folder / "b.v").string();
  const std::string c = (folder / "c.v").string();
  if (!Shell("vips gaussnoise " + r + " 2400 1600 --sigma 40 && vips gaussnoise " + g +
             " 2400 1600 --sigma 40 && vips gaussnoise " + b + " 2400 1600 --sigma 40 && " +
             "vips bandjoin '" + r + " " + g + " " + b + "' " + c + " && vips cast " + c + " " + v +
             " uchar")) {
    return false;
  }
  // Noise takes about 0.43 bytes a pixel as JPEG, 2.8 as PNG, 1.4 as GIF.
  const std::vector<Base> bases = {
      {"j0.jpg", 700, 660},   {"j1.jpg", 1000, 900},  {"j2.jpg", 1200, 1100},
      {"j3.jpg", 1400, 1300}, {"j4.jpg", 1700, 1400}, {"j5.jpg", 2000, 1500},
      {"j6.jpg", 2200, 1550}, {"j7.jpg", 2400, 1600}, {"p0.png", 280, 260},
      {"p1.png", 400, 380},   {"p2.png", 560, 500},   {"p3.png", 720, 700},
      {"g0.gif", 400, 380},   {"g1.gif", 700, 650},   {"g2.gif", 1000, 1000},
  };
  for (const Base& base : bases) {
    if (!Shell("vips extract_area " + v + " " + (folder / base.name).string() + " 0 0 " +
               std::to_string(base.width) + " " + std::to_string(base.height))) {
      return false;
    }
  }
  for (const auto* scratch : {&v, &r, &g, &b, &c}) {
    fs::remove(*scratch);
  }
  std::ofstream(folder / "done") << "ok\n";
  return true;
}

// Serves `count` files under /<set>/: names and bases cycling per format.
std::vector<std::string> MakeSet(const fs::path& root, const fs::path& bases,
                                 const std::string& set, int jpegs, int pngs, int gifs) {
  const fs::path folder = root / set;
  fs::remove_all(folder);
  fs::create_directories(folder);
  std::vector<std::string> paths;
  auto add = [&](int count, const std::string& prefix, int variants, const std::string& ext) {
    for (int i = 0; i < count; ++i) {
      std::string name = prefix;
      name += std::to_string(i);
      name += ext;
      std::string base = prefix;
      base += std::to_string(i % variants);
      base += ext;
      fs::create_hard_link(bases / base, folder / name);
      paths.push_back("/" + set + "/" + name);
    }
  };
  add(jpegs, "j", 8, ".jpg");
  add(pngs, "p", 4, ".png");
  add(gifs, "g", 3, ".gif");
  return paths;
}

struct Side {
  Measure pelmora;
  Measure curl;
  Measure thumbnail;  // zero when not run
};

Side RunSet(TestServer& server, const fs::path& work, const std::string& pelmoraCli,
            const std::vector<std::string>& paths, bool convertAfterCurl) {
  std::string block;
  std::ofstream config(work / "curl.cfg");
  const fs::path curlOut = work / "curl-out";
  const fs::path pelmoraOut = work / "pelmora-out";
  const fs::path thumbOut = work / "thumb-out";
  for (const fs::path& folder : {curlOut, pelmoraOut, thumbOut}) {
    fs::remove_all(folder);
    fs::create_directories(folder);
  }
  std::vector<std::string> nonJpegs;
  for (const auto& path : paths) {
    block += (block.empty() ? "//127.0.0.1:" : ",//127.0.0.1:") +
             std::to_string(server.httpPort()) + path;
    const std::string name = fs::path(path).filename().string();
    config << "url = \"" << server.HttpUrl(path) << "\"\noutput = \"" << (curlOut / name).string()
           << "\"\n";
    if (fs::path(name).extension() != ".jpg") {
      nonJpegs.push_back((curlOut / name).string());
    }
  }
  config.close();
  server.Route("/post", Answer{.body = "clear_picSrc=" + block + "&thumb_picSrc=%"});

  const std::vector<std::string> curl = {
      "curl", "-s", "--parallel", "--parallel-max", "300", "-K", (work / "curl.cfg").string()};
  RunMeasured(curl);  // warms the server's file cache and the page cache
  Side side;
  side.curl = RunMeasured(curl);
  if (convertAfterCurl && !nonJpegs.empty()) {
    std::vector<std::string> thumbnail = {"vipsthumbnail", "--size", "100000x100000>", "-o",
                                          (thumbOut / "%s.jpg").string()};
    thumbnail.insert(thumbnail.end(), nonJpegs.begin(), nonJpegs.end());
    side.thumbnail = RunMeasured(thumbnail);
  }
  std::vector<std::string> pelmora;
  if (const char* wrap = std::getenv("PELMORA_BENCH_ENV")) {
    pelmora = {"env", wrap};
  }
  for (const std::string& argument :
       {pelmoraCli, std::string("--quiet"), std::string("--cookie"), std::string("k=v"),
        std::string("--dir"), pelmoraOut.string(), server.HttpUrl("/post")}) {
    pelmora.push_back(argument);
  }
  side.pelmora = RunMeasured(pelmora);
  return side;
}

void Report(const char* title, const Side& side, bool withThumbnail) {
  const double otherWall = side.curl.wallSeconds + side.thumbnail.wallSeconds;
  const double otherCpu = side.curl.cpuSeconds + side.thumbnail.cpuSeconds;
  const double otherPeak = std::max(side.curl.peakMegabytes, side.thumbnail.peakMegabytes);
  std::printf("%s\n", title);
  std::printf("  %-28s wall %7.3f s  cpu %7.3f s  peak %7.1f MB  exit %d\n", "pelmora-cli",
              side.pelmora.wallSeconds, side.pelmora.cpuSeconds, side.pelmora.peakMegabytes,
              side.pelmora.status);
  std::printf("  %-28s wall %7.3f s  cpu %7.3f s  peak %7.1f MB  exit %d\n", "curl --parallel",
              side.curl.wallSeconds, side.curl.cpuSeconds, side.curl.peakMegabytes,
              side.curl.status);
  if (withThumbnail) {
    std::printf("  %-28s wall %7.3f s  cpu %7.3f s  peak %7.1f MB  exit %d\n",
                "vipsthumbnail (non-JPEGs)", side.thumbnail.wallSeconds, side.thumbnail.cpuSeconds,
                side.thumbnail.peakMegabytes, side.thumbnail.status);
  }
  std::printf("  page faults pelmora %ld, curl %ld; context switches pelmora %ld, curl %ld\n",
              side.pelmora.minorFaults, side.curl.minorFaults, side.pelmora.contextSwitches,
              side.curl.contextSwitches);
  std::printf("  ratio pelmora / %s: wall %.2f  cpu %.2f\n",
              withThumbnail ? "(curl + vipsthumbnail)" : "curl",
              side.pelmora.wallSeconds / otherWall, side.pelmora.cpuSeconds / otherCpu);
  std::printf("  peak memory pelmora %.1f MB, other %.1f MB\n", side.pelmora.peakMegabytes,
              otherPeak);
}

}  // namespace

int main() {
  const fs::path data = PELMORA_BENCH_DATA;
  const fs::path bases = data / "bases";
  if (!MakeBasePictures(bases)) {
    std::fprintf(stderr, "bench_app: could not make the pictures (is the vips command there?)\n");
    return 1;
  }
  const fs::path root = data / "served";
  const auto allJpeg = MakeSet(root, bases, "jpeg", kPictures, 0, 0);
  const auto mix =
      MakeSet(root, bases, "mix", kPictures * 7 / 10, kPictures * 2 / 10, kPictures / 10);
  TestServer server({.root = root});
  if (!server.ok()) {
    std::fprintf(stderr, "bench_app: the local server did not start\n");
    return 1;
  }
  const fs::path work = data / "work";
  fs::create_directories(work);
  const Side jpeg = RunSet(server, work, PELMORA_CLI, allJpeg, false);
  Report("300 JPEG pictures", jpeg, false);
  const Side mixed = RunSet(server, work, PELMORA_CLI, mix, true);
  Report("300 pictures: 70% JPEG, 20% PNG, 10% GIF", mixed, true);
  fs::remove_all(work);
  return jpeg.pelmora.status == 0 && mixed.pelmora.status == 0 ? 0 : 1;
}
