// bench-run: times ledgerly-convert against the floor program on the same
// logs, interleaved, and prints per log the median wall time, throughput,
// peak resident memory and the ratio to the floor's median.
//
//   bench-run --convert PATH --floor PATH [--baseline PATH] [--rounds N]
//             [--output FILE] [--xlsx FILE.xlsx] LOG...
//
// Each LOG is PATH or PATH:FIELDS (FIELDS = fields per record, for a cost per
// field). Every round runs, for each log in turn, the converter and then the
// floor; small logs run several times a round so that each round reads about
// 30 MB of them. Both programs write to /dev/null (or FILE) and read files that
// a warm-up run has put in the page cache. Peak memory is the largest
// ru_maxrss any run of the program reported for that log. Each round also
// runs both programs on a log with no record, whose median is the fixed cost
// of a run (process start, dynamic linking); the time per record is shown
// with and without it. --baseline runs a second converter build in the same
// rounds, to measure a change, the two taking turns at going first. --xlsx also converts each log
// to that workbook
// (`ledgerly-convert LOG FILE.xlsx`) in the same rounds, and shows its time
// against the CSV conversion's. POSIX only.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

struct Run {
  double wall;   // seconds
  double cpu;    // user + system seconds
  long rss_kib;  // ru_maxrss
};

struct Log {
  std::string path;
  std::string label;
  int fields;  // fields per record, 0 when not given
  double bytes;
  long records;  // as ledgerly-convert reported it
  std::vector<Run> convert_runs;
  std::vector<Run> baseline_runs;
  std::vector<Run> xlsx_runs;
  std::vector<Run> floor_runs;
};

double now() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

// Runs `argv` with standard output to `output` and standard error to
// `error_path` (or /dev/null); exits the whole bench on any failure.
Run run_program(const std::vector<std::string>& argv, const char* output, const char* error_path) {
  std::vector<char*> args;
  for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);
  double start = now();
  pid_t child = fork();
  if (child < 0) {
    std::perror("fork");
    std::exit(1);
  }
  if (child == 0) {
    int out = open(output, O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int err = open(error_path ? error_path : "/dev/null", O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (out < 0 || err < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0) _exit(126);
    execv(args[0], args.data());
    _exit(127);
  }
  int status = 0;
  rusage usage{};
  if (wait4(child, &status, 0, &usage) != child) {
    std::perror("wait4");
    std::exit(1);
  }
  double wall = now() - start;
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    std::fprintf(stderr, "bench-run: %s %s failed (status %d)\n", argv[0].c_str(),
                 argv.size() > 1 ? argv[1].c_str() : "", status);
    std::exit(1);
  }
  Run run{};
  run.wall = wall;
  run.cpu = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
            static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6;
  run.rss_kib = usage.ru_maxrss;
  return run;
}

long converted_records(const char* error_path) {
  FILE* file = std::fopen(error_path, "r");
  if (!file) return -1;
  char line[512];
  long records = -1;
  while (std::fgets(line, sizeof line, file)) {
    long count = 0;
    if (std::sscanf(line, "Converted %ld ADIF records", &count) == 1) records = count;
  }
  std::fclose(file);
  return records;
}

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  size_t n = values.size();
  return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

double median_wall(const std::vector<Run>& runs) {
  std::vector<double> values;
  for (const Run& run : runs) values.push_back(run.wall);
  return median(values);
}

double median_cpu(const std::vector<Run>& runs) {
  std::vector<double> values;
  for (const Run& run : runs) values.push_back(run.cpu);
  return median(values);
}

long peak_rss(const std::vector<Run>& runs) {
  long peak = 0;
  for (const Run& run : runs) peak = std::max(peak, run.rss_kib);
  return peak;
}

void print_row(const char* program, const Log& log, const std::vector<Run>& runs,
               double floor_median) {
  double wall = median_wall(runs);
  double cpu = median_cpu(runs);
  std::printf("  %-8s %9.4f s %9.4f s %8.1f MB/s %11.0f rec/s %8.1f ns/rec", program, wall, cpu,
              log.bytes / 1e6 / wall, static_cast<double>(log.records) / wall,
              wall * 1e9 / static_cast<double>(log.records));
  if (log.fields) {
    std::printf(" %6.2f ns/field", wall * 1e9 / static_cast<double>(log.records) / log.fields);
  }
  std::printf(" %7.2f MiB %6.2fx  (%zu runs)\n", static_cast<double>(peak_rss(runs)) / 1024.0,
              wall / floor_median, runs.size());
}

}  // namespace

int main(int argc, char** argv) {
  std::string convert, floor_program, baseline, xlsx, output = "/dev/null";
  int rounds = 7;
  std::vector<Log> logs;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--convert" && i + 1 < argc) {
      convert = argv[++i];
    } else if (arg == "--floor" && i + 1 < argc) {
      floor_program = argv[++i];
    } else if (arg == "--baseline" && i + 1 < argc) {
      baseline = argv[++i];
    } else if (arg == "--rounds" && i + 1 < argc) {
      rounds = std::max(1, std::atoi(argv[++i]));
    } else if (arg == "--output" && i + 1 < argc) {
      output = argv[++i];
    } else if (arg == "--xlsx" && i + 1 < argc) {
      xlsx = argv[++i];
    } else {
      Log log{};
      size_t colon = arg.rfind(':');
      log.path = arg.substr(0, colon);
      if (colon != std::string::npos) log.fields = std::atoi(arg.c_str() + colon + 1);
      log.label = log.path.substr(log.path.rfind('/') + 1);
      struct stat info {};
      if (stat(log.path.c_str(), &info) != 0) {
        std::perror(log.path.c_str());
        return 1;
      }
      log.bytes = static_cast<double>(info.st_size);
      logs.push_back(log);
    }
  }
  if (convert.empty() || floor_program.empty() || logs.empty()) {
    std::fputs(
        "Usage: bench-run --convert PATH --floor PATH [--baseline PATH] [--rounds N]\n"
        "                 [--output FILE] [--xlsx FILE.xlsx] LOG[:FIELDS]...\n",
        stderr);
    return 2;
  }

  char error_path[] = "/tmp/bench-run-XXXXXX";
  int error_file = mkstemp(error_path);
  if (error_file < 0) {
    std::perror("mkstemp");
    return 1;
  }
  close(error_file);
  char empty_path[] = "/tmp/bench-run-empty-XXXXXX";
  int empty_file = mkstemp(empty_path);
  if (empty_file < 0 || write(empty_file, "<EOH>\n", 6) != 6) {
    std::perror("mkstemp");
    return 1;
  }
  close(empty_file);
  std::vector<Run> convert_empty, floor_empty;

  // Warm-up: puts each log in the page cache and checks that it converts.
  for (Log& log : logs) {
    run_program({convert, log.path, "-"}, output.c_str(), error_path);
    log.records = converted_records(error_path);
    if (log.records <= 0) {
      std::fprintf(stderr, "bench-run: no records converted from %s\n", log.path.c_str());
      return 1;
    }
    run_program({floor_program, log.path}, output.c_str(), nullptr);
  }

  for (int round = 0; round < rounds; ++round) {
    for (int repeat = 0; repeat < 5; ++repeat) {
      convert_empty.push_back(run_program({convert, empty_path, "-"}, output.c_str(), nullptr));
      floor_empty.push_back(run_program({floor_program, empty_path}, output.c_str(), nullptr));
    }
    for (Log& log : logs) {
      int repeats = std::max(1, static_cast<int>(30e6 / log.bytes));
      for (int repeat = 0; repeat < repeats; ++repeat) {
        // The two builds take turns at going first: on a shared machine the
        // place in the round showed in the times.
        bool baseline_first = (round + repeat) % 2 == 1;
        for (int turn = 0; turn < 2; ++turn) {
          if (turn == (baseline_first ? 1 : 0)) {
            log.convert_runs.push_back(
                run_program({convert, log.path, "-"}, output.c_str(), error_path));
          } else if (!baseline.empty()) {
            log.baseline_runs.push_back(
                run_program({baseline, log.path, "-"}, output.c_str(), nullptr));
          }
        }
        log.floor_runs.push_back(run_program({floor_program, log.path}, output.c_str(), nullptr));
        if (!xlsx.empty()) {
          log.xlsx_runs.push_back(run_program({convert, log.path, xlsx}, "/dev/null", nullptr));
        }
      }
    }
  }
  unlink(error_path);
  unlink(empty_path);
  double convert_fixed = median_wall(convert_empty), floor_fixed = median_wall(floor_empty);

  std::printf("%d rounds, interleaved; medians over all runs; output to %s\n", rounds,
              output.c_str());
  std::printf("  %-8s %11s %11s %13s %17s %14s%s %11s %7s\n", "program", "wall", "cpu",
              "throughput", "records", "per record", "", "peak RSS", "/floor");
  std::printf("fixed cost of a run (a log without records): ledgerly %.2f ms, floor %.2f ms\n",
              convert_fixed * 1e3, floor_fixed * 1e3);
  double per_record_min = 1e30, per_record_max = 0, per_field_min = 1e30, per_field_max = 0;
  double net_min = 1e30, net_max = 0, net_field_min = 1e30, net_field_max = 0;
  long rss_max = 0;
  for (const Log& log : logs) {
    double floor_median = median_wall(log.floor_runs);
    std::printf("%s: %.1f MB, %ld records%s\n", log.label.c_str(), log.bytes / 1e6, log.records,
                log.fields ? (", " + std::to_string(log.fields) + " fields each").c_str() : "");
    print_row("ledgerly", log, log.convert_runs, floor_median);
    if (!baseline.empty()) print_row("baseline", log, log.baseline_runs, floor_median);
    print_row("floor", log, log.floor_runs, floor_median);
    if (!xlsx.empty()) {
      print_row("xlsx", log, log.xlsx_runs, floor_median);
      std::printf("  xlsx against the CSV conversion: %.2fx the time\n",
                  median_wall(log.xlsx_runs) / median_wall(log.convert_runs));
    }
    double records = static_cast<double>(log.records);
    double per_record = median_wall(log.convert_runs) / records;
    double net = (median_wall(log.convert_runs) - convert_fixed) / records;
    double floor_net = (median_wall(log.floor_runs) - floor_fixed) / records;
    std::printf("  net of the fixed cost: ledgerly %.1f ns/rec", net * 1e9);
    if (log.fields) std::printf(" (%.2f ns/field)", net * 1e9 / log.fields);
    std::printf(", floor %.1f ns/rec, ratio %.2fx\n", floor_net * 1e9, net / floor_net);
    per_record_min = std::min(per_record_min, per_record);
    per_record_max = std::max(per_record_max, per_record);
    net_min = std::min(net_min, net);
    net_max = std::max(net_max, net);
    if (log.fields) {
      net_field_min = std::min(net_field_min, net / log.fields);
      net_field_max = std::max(net_field_max, net / log.fields);
      per_field_min = std::min(per_field_min, per_record / log.fields);
      per_field_max = std::max(per_field_max, per_record / log.fields);
    }
    rss_max = std::max(rss_max, peak_rss(log.convert_runs));
  }
  const Log& largest = logs.back();
  std::printf("summary: last log %.2fx the floor; peak RSS at most %.2f MiB; ",
              median_wall(largest.convert_runs) / median_wall(largest.floor_runs),
              static_cast<double>(rss_max) / 1024.0);
  if (per_field_max > 0) {
    std::printf("time per field spread %.2f (max/min), net of the fixed cost %.2f\n",
                per_field_max / per_field_min, net_field_max / net_field_min);
  } else {
    std::printf("time per record spread %.2f (max/min), net of the fixed cost %.2f\n",
                per_record_max / per_record_min, net_max / net_min);
  }
  return 0;
}
