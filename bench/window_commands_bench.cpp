// The real window on Qt's offscreen platform with A and B of 16,777,216 members each (the dense range from 0,
// whose file is 2.6 MB), running the commands a person runs on such sets: Load A, Include of one value into
// A, Empty B, Undo A and Assign A=>B, each from its button and including the painting of both lists. Beside
// them, in the same run, the library's own load_from_file + to_array of one such set. At the end a table
// gives each command's time as a multiple of that, with its target, and the process's peak memory while the
// window held both sets.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QPushButton>
#include <QTest>
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>

#include "app/fnubrel.h"

namespace {

constexpr std::int32_t kMembers = 16'777'216;

// The peak resident memory of this process in MiB, and a way to start measuring it afresh.
double peak_mib() {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);)
    if (line.rfind("VmHWM:", 0) == 0) return std::stod(line.substr(6)) / 1024.0;
  return 0;
}
void reset_peak() { std::ofstream("/proc/self/clear_refs") << "5"; }

// A file holding the dense range [0, kMembers), written once.
const std::filesystem::path& set_file() {
  static const std::filesystem::path file = [] {
    const auto path = std::filesystem::temp_directory_path() / "numbrelle-window-commands-bench.nbl";
    intset::tnumbrelle set;
    for (std::int32_t v = 0; v < kMembers; v += 256) {
      std::int32_t block[256];
      for (int i = 0; i < 256; ++i) block[i] = v + i;
      set.include_array(block);
    }
    set.save_to_file(path);
    return path;
  }();
  return file;
}

// The window, whose open dialog always picks the big file and whose prompt always answers -1, a value just
// below the range, so that Include adds a block in front of all others.
class commands_window : public Tfnubrel {
 public:
  commands_window() {
    show();
    if (!QTest::qWaitForWindowExposed(this)) std::abort();
  }
  void press(const char* button) {
    findChild<QPushButton*>(QString::fromLatin1(button))->click();
    repaint();  // lays out both lists and paints what they show
    QCoreApplication::processEvents();
  }

 protected:
  std::optional<std::string> choose_open_file() override { return set_file().string(); }
  std::optional<std::string> prompt(const std::string&, const std::string&) override { return "-1"; }
};

// One window for all commands, with both sets loaded, created when first needed and closed before the
// application ends.
std::unique_ptr<commands_window> big_window;

commands_window& window() {
  if (!big_window) {
    reset_peak();
    big_window = std::make_unique<commands_window>();
    big_window->press("b_load_a");
    big_window->press("b_load_b");
  }
  return *big_window;
}

void BM_LibraryLoadAndToArray(benchmark::State& state) {
  set_file();
  for (auto _ : state) {
    intset::tnumbrelle set;
    set.load_from_file(set_file());
    const intset::tarrayofinteger members = set.to_array();
    benchmark::DoNotOptimize(members.data());
  }
}
BENCHMARK(BM_LibraryLoadAndToArray)->Unit(benchmark::kMillisecond)->Iterations(10);

// `restore` runs untimed after each command, bringing the window back to both sets full.
void run_command(benchmark::State& state, const char* button, const char* restore) {
  commands_window& shown = window();
  for (auto _ : state) {
    shown.press(button);
    if (restore) {
      state.PauseTiming();
      shown.press(restore);
      state.ResumeTiming();
    }
  }
  state.counters["peak_MiB"] = peak_mib();
}

void BM_WindowLoadA(benchmark::State& state) { run_command(state, "b_load_a", nullptr); }
void BM_WindowIncludeIntoA(benchmark::State& state) { run_command(state, "b_include_a", "b_load_a"); }
void BM_WindowEmptyB(benchmark::State& state) { run_command(state, "b_empty_b", "b_load_b"); }
void BM_WindowUndoA(benchmark::State& state) { run_command(state, "b_undo_a", nullptr); }
void BM_WindowAssignAToB(benchmark::State& state) { run_command(state, "b_assign_ab", nullptr); }
BENCHMARK(BM_WindowLoadA)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_WindowIncludeIntoA)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_WindowEmptyB)->Unit(benchmark::kMillisecond)->Iterations(5);
// Undo right after Include: A swaps between the members with and without -1, both full.
BENCHMARK(BM_WindowUndoA)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_WindowAssignAToB)->Unit(benchmark::kMillisecond)->Iterations(5);

// The console output, then a table of each command against the library's figure and its target. With
// repetitions, the medians are compared.
class ratio_reporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      if (run.run_type == Run::RT_Aggregate && run.aggregate_name != "median") continue;
      const std::string name = run.run_name.function_name;
      times_[name] = run.GetAdjustedRealTime();
      if (const auto peak = run.counters.find("peak_MiB"); peak != run.counters.end())
        peak_ = std::max(peak_, double(peak->second));
    }
    ConsoleReporter::ReportRuns(runs);
  }
  void Finalize() override {
    ConsoleReporter::Finalize();
    const double library = times_["BM_LibraryLoadAndToArray"];
    if (library <= 0) return;
    std::printf("\nlibrary load_from_file + to_array of one set: %.1f ms\n", library);
    std::printf("%-24s %10s %10s %8s\n", "command", "ms", "x library", "target");
    const std::pair<const char*, double> commands[] = {{"BM_WindowLoadA", 3},
                                                       {"BM_WindowIncludeIntoA", 3},
                                                       {"BM_WindowEmptyB", 3},
                                                       {"BM_WindowUndoA", 3},
                                                       {"BM_WindowAssignAToB", 5}};
    for (const auto& [name, target] : commands) {
      const auto time = times_.find(name);
      if (time == times_.end()) continue;
      const double ratio = time->second / library;
      std::printf("%-24s %10.1f %10.2f %7.0fx %s\n", name + 3, time->second, ratio, target,
                  ratio <= target ? "" : "MISSED");
    }
    if (peak_ > 0)
      std::printf("peak memory with both sets shown: %.0f MiB (target 480 MB = %.0f MiB) %s\n", peak_,
                  480e6 / 1048576, peak_ * 1048576 <= 480e6 ? "" : "MISSED");
  }

 private:
  std::map<std::string, double> times_;
  double peak_ = 0;
};

}  // namespace

int main(int argc, char* argv[]) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication application(argc, argv);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  ratio_reporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  big_window.reset();
  std::filesystem::remove(set_file());
  return 0;
}
