// Times the launcher file at scale: a per-user file of N lines (default
// 100,000: keys, values of several keys and catalogs mixed) is read,
// registered and rewritten under a private HOME in a temporary folder.
// Prints the figures; asserts nothing. Run through bench/config_bench.sh.
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "config/catalog_registration.h"
#include "config/config_file.h"
#include "config/config_reader.h"
#include "config/config_writer.h"
#include "platform/text_encoding.h"

namespace {

double secondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

double cpuSeconds(int who) {
  rusage usage{};
  getrusage(who, &usage);
  return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
         (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

long peakKiB(int who) {
  rusage usage{};
  getrusage(who, &usage);
  return usage.ru_maxrss;
}

}  // namespace

int main(int argc, char** argv) {
  const long lines = argc > 1 ? std::atol(argv[1]) : 100000;
  char pattern[] = "/tmp/qxr8-config-bench-XXXXXX";
  const char* base = mkdtemp(pattern);
  if (base == nullptr) return 1;
  const std::string home = base;
  setenv("HOME", home.c_str(), 1);
  const std::string dir = home + "/.Qx/qxlaunch";
  mkdir((home + "/.Qx").c_str(), 0755);
  mkdir(dir.c_str(), 0755);
  const std::string file = dir + "/qxlaunch.cfg";
  {
    // A third each: distinct keys, values of a hundred list keys, catalogs.
    std::ofstream out(file);
    for (long i = 0; i < lines; ++i) {
      switch (i % 3) {
        case 0: out << "Setting" << i << "=value number " << i << "\n"; break;
        case 1: out << "List" << (i % 100) << "=/some/path/item" << i << "\n"; break;
        default: out << "ConfigurationTemplatesLocation=/srv/templates/catalog" << i << "\n";
      }
    }
  }
  struct stat st;
  stat(file.c_str(), &st);
  std::printf("launcher file: %ld lines, %lld bytes\n", lines, static_cast<long long>(st.st_size));

  // Wall time counts the waits for a busy machine's cores; CPU time is
  // what the work itself costs.
  auto start = std::chrono::steady_clock::now();
  double cpu = cpuSeconds(RUSAGE_SELF);
  ConfigFile config;
  read_config_file(widen_lib(file), config);
  std::printf("read:    %.3f s wall, %.3f s CPU\n", secondsSince(start),
              cpuSeconds(RUSAGE_SELF) - cpu);
  start = std::chrono::steady_clock::now();
  cpu = cpuSeconds(RUSAGE_SELF);
  write_config_file(widen_lib(file), config);
  std::printf("rewrite: %.3f s wall, %.3f s CPU\n", secondsSince(start),
              cpuSeconds(RUSAGE_SELF) - cpu);

  // The registration alone in a child, so its peak memory is its own.
  start = std::chrono::steady_clock::now();
  const pid_t child = fork();
  if (child == 0) {
    CatalogRegistration reg = read_catalog_registration();
    _exit(register_catalog(reg, u"/srv/new/catalog") == 0 ? 0 : 1);
  }
  int status = 0;
  waitpid(child, &status, 0);
  const double whole = secondsSince(start);
  std::printf("start-up read + registration (read, merge, write): %.3f s wall, %.3f s CPU "
              "(goal < 1 s)%s\n",
              whole, cpuSeconds(RUSAGE_CHILDREN),
              WIFEXITED(status) && WEXITSTATUS(status) == 0 ? "" : " (registration FAILED)");
  std::printf("peak memory: registration %ld KiB for a %lld KiB file (ratio %.1f); "
              "this process %ld KiB\n",
              peakKiB(RUSAGE_CHILDREN), static_cast<long long>(st.st_size / 1024),
              static_cast<double>(peakKiB(RUSAGE_CHILDREN)) / (st.st_size / 1024.0),
              peakKiB(RUSAGE_SELF));
  unlink(file.c_str());
  rmdir(dir.c_str());
  rmdir((home + "/.Qx").c_str());
  rmdir(home.c_str());
  return 0;
}
