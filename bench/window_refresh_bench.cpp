// The window's refresh on Qt's offscreen platform with A and B of 1,000,000 members each, beside the same
// refresh through a view that discards what it is given, so that both figures come from one run. The window's
// figure includes laying out and painting the lists, as a person would see them. Target: the window within
// 3x of the no-op view. Shapes: "clustered" (consecutive values, dense blocks) and "spread" (random values
// over the whole range, about one member per block). Each shape is refreshed with the same members again
// (a list that did not change keeps its layout) and with one member toggled in each set before each refresh
// (both lists are laid out again).
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QTest>
#include <string>

#include "app/fnubrel.h"
#include "bench/refresh_fixtures.h"

namespace {

using namespace refresh_fixtures;

// Whether each refresh shows the same members as the one before, or both sets have one member toggled first.
enum change : std::int64_t { same_members = 0, one_toggled = 1 };

std::string label(shape s, change c) {
  return std::string(s == clustered ? "clustered" : "spread") +
         (c == same_members ? ", same members" : ", one member toggled in each set");
}

class shown_window : public Tfnubrel {
 public:
  explicit shown_window(shape s) {
    set_a->include_array(members(s, 1));
    set_b->include_array(members(s, 2));
    show();
    if (!QTest::qWaitForWindowExposed(this)) std::abort();
  }
  using fnubrel_logic::refresh;
  intset::tnumbrelle& a() { return *set_a; }
  intset::tnumbrelle& b() { return *set_b; }
};

// -1 is the first member of neither clustered set, so toggling it changes the start of both lists.
template <typename View>
void toggle_if(change c, View& view) {
  if (c == same_members) return;
  view.a().invert(-1);
  view.b().invert(-1);
}

void BM_NoOpViewRefresh(benchmark::State& state) {
  const auto s = static_cast<shape>(state.range(0));
  const auto c = static_cast<change>(state.range(1));
  noop_view view(s);
  for (auto _ : state) {
    toggle_if(c, view);
    view.refresh();
  }
  state.SetItemsProcessed(state.iterations() * 2 * kMembers);
  state.SetLabel(label(s, c));
}
BENCHMARK(BM_NoOpViewRefresh)
    ->ArgsProduct({{clustered, spread}, {same_members, one_toggled}})
    ->Unit(benchmark::kMillisecond);

void BM_WindowRefresh(benchmark::State& state) {
  const auto s = static_cast<shape>(state.range(0));
  const auto c = static_cast<change>(state.range(1));
  shown_window window(s);
  for (auto _ : state) {
    toggle_if(c, window);
    window.refresh();
    window.repaint();  // lays out both lists and paints what they show
    QCoreApplication::processEvents();
  }
  state.SetItemsProcessed(state.iterations() * 2 * kMembers);
  state.SetLabel(label(s, c));
}
BENCHMARK(BM_WindowRefresh)
    ->ArgsProduct({{clustered, spread}, {same_members, one_toggled}})
    ->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char* argv[]) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication application(argc, argv);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
