// Runs two programs on the same argument, alternately, and prints for each the median wall
// time and the peak resident memory of one run, and the ratio of the first to the second.
//   measure RUNS PROGRAM FLOOR ARGUMENT
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

struct Sample {
  double micros;
  long peak_kib;
};

Sample run_once(const char* program, const char* argument) {
  const auto start = std::chrono::steady_clock::now();
  const pid_t child = fork();
  if (child == 0) {
    const int null = open("/dev/null", O_WRONLY);
    dup2(null, STDOUT_FILENO);
    execl(program, program, argument, static_cast<char*>(nullptr));
    _exit(127);
  }
  int status = 0;
  rusage usage{};
  wait4(child, &status, 0, &usage);
  const auto end = std::chrono::steady_clock::now();
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    std::fprintf(stderr, "%s %s failed\n", program, argument);
    std::exit(1);
  }
  return {std::chrono::duration<double, std::micro>(end - start).count(), usage.ru_maxrss};
}

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 5) {
    std::fprintf(stderr, "usage: %s RUNS PROGRAM FLOOR ARGUMENT\n", argv[0]);
    return 2;
  }
  const int runs = std::atoi(argv[1]);
  std::vector<double> times[2];
  long peak[2] = {0, 0};
  for (int i = 0; i < runs; ++i) {
    for (int p = 0; p < 2; ++p) {
      const Sample sample = run_once(argv[2 + p], argv[4]);
      times[p].push_back(sample.micros);
      peak[p] = std::max(peak[p], sample.peak_kib);
    }
  }
  const double t0 = median(times[0]);
  const double t1 = median(times[1]);
  std::printf("%-10s median %7.1f us   peak RSS %6ld KiB\n", "fmb2fxb", t0, peak[0]);
  std::printf("%-10s median %7.1f us   peak RSS %6ld KiB\n", "floor", t1, peak[1]);
  std::printf("%-10s time %.2fx   memory %.2fx\n", "ratio", t0 / t1,
              static_cast<double>(peak[0]) / static_cast<double>(peak[1]));
  return 0;
}
