#include "report.h"

#include <cmath>
#include <functional>

#include "workloads.h"

namespace korvane::bench {

std::string with_separators(long long whole) {
  const std::string digits = std::to_string(std::llabs(whole));
  std::string text = whole < 0 ? "-" : "";
  for (std::size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) text.push_back(',');
    text.push_back(digits[i]);
  }
  return text;
}

std::string number(double value) {
  char text[32];
  if (std::fabs(value) >= 1000) return with_separators(std::llround(value));
  const char* format = std::fabs(value) >= 100  ? "%.0f"
                       : std::fabs(value) >= 10 ? "%.1f"
                       : std::fabs(value) >= 1  ? "%.2f"
                                                : "%.3g";
  std::snprintf(text, sizeof text, format, value);
  return text;
}

std::string summary(const Samples& samples, double factor) {
  if (samples.empty()) return "not measured";
  return number(samples.median() * factor) + " [" + number(samples.min() * factor) + " .. " +
         number(samples.max() * factor) + "]";
}

namespace {

enum class Better { lower, higher };

// One table row: which samples of a server's figures it shows, and in what unit.
struct Row {
  std::string label;
  std::string unit;
  Better better;
  double factor;  // multiplies the stored value into the unit shown
  std::function<const Samples&(const Figures&)> pick;
  std::function<int(const Scale&)> runs;
};

std::string ratio(const Samples& ours, const Samples& baseline, Better better) {
  if (ours.empty() || baseline.empty() || ours.median() <= 0 || baseline.median() <= 0) return "";
  const double value = ours.median() / baseline.median();
  if (better == Better::lower) return number(value) + (value <= 1 ? " (" + number(1 / value) + "x less)" : " (worse)");
  return number(value) + (value >= 1 ? " (" + number(value) + "x more)" : " (worse)");
}

std::vector<Row> rows(const Scale& scale) {
  const std::string initialize = "initialize x" + with_separators(static_cast<long long>(scale.initialize_lines));
  const std::string tools_list = "tools/list x" + with_separators(static_cast<long long>(scale.tools_list_lines));
  const std::string large = "1 MB tools/call x" + with_separators(static_cast<long long>(scale.large_lines));
  const auto cold = [](const Scale& s) { return s.cold_runs; };
  const auto idle = [](const Scale& s) { return s.idle_runs; };
  const auto piped = [](const Scale& s) { return s.pipeline_runs; };
  const auto small = [](const Scale& s) { return s.relay_small_runs; };
  const auto big = [](const Scale& s) { return s.relay_large_runs; };
  const auto once = [](const Scale&) { return 1; };
  const double mib = 1.0 / 1024;
  return {
      {"cold start (spawn, initialize, exit)", "ms", Better::lower, 1,
       [](const Figures& f) -> const Samples& { return f.cold_start_ms; }, cold},
      {"idle (initialize only)", "peak RSS MB", Better::lower, mib,
       [](const Figures& f) -> const Samples& { return f.idle_rss_kib; }, idle},
      {initialize, "requests/s", Better::higher, 1,
       [](const Figures& f) -> const Samples& { return f.initialize.requests_per_s; }, piped},
      {initialize, "input MB/s", Better::higher, 1,
       [](const Figures& f) -> const Samples& { return f.initialize.mib_per_s; }, piped},
      {initialize, "peak RSS MB", Better::lower, mib,
       [](const Figures& f) -> const Samples& { return f.initialize.peak_rss_kib; }, piped},
      {tools_list, "requests/s", Better::higher, 1,
       [](const Figures& f) -> const Samples& { return f.tools_list.requests_per_s; }, piped},
      {tools_list, "input MB/s", Better::higher, 1,
       [](const Figures& f) -> const Samples& { return f.tools_list.mib_per_s; }, piped},
      {tools_list, "peak RSS MB", Better::lower, mib,
       [](const Figures& f) -> const Samples& { return f.tools_list.peak_rss_kib; }, piped},
      {large, "requests/s", Better::higher, 1,
       [](const Figures& f) -> const Samples& { return f.large_calls.requests_per_s; }, piped},
      {large, "input MB/s", Better::higher, 1,
       [](const Figures& f) -> const Samples& { return f.large_calls.mib_per_s; }, piped},
      {large, "peak RSS MB", Better::lower, mib,
       [](const Figures& f) -> const Samples& { return f.large_calls.peak_rss_kib; }, piped},
      {"relay screen_ocr, 1 MB reply", "ms", Better::lower, 1,
       [](const Figures& f) -> const Samples& { return f.relay_small.milliseconds; }, small},
      {"relay screen_ocr, 1 MB reply", "ns/byte", Better::lower, 1,
       [](const Figures& f) -> const Samples& { return f.relay_small.ns_per_byte; }, small},
      {"relay screen_ocr, 1 MB reply", "peak RSS MB", Better::lower, mib,
       [](const Figures& f) -> const Samples& { return f.relay_small.peak_rss_kib; }, once},
      {"relay screen_ocr, 20 MB reply", "ms", Better::lower, 1,
       [](const Figures& f) -> const Samples& { return f.relay_large.milliseconds; }, big},
      {"relay screen_ocr, 20 MB reply", "ns/byte", Better::lower, 1,
       [](const Figures& f) -> const Samples& { return f.relay_large.ns_per_byte; }, big},
      {"relay screen_ocr, 20 MB reply", "peak RSS MB", Better::lower, mib,
       [](const Figures& f) -> const Samples& { return f.relay_large.peak_rss_kib; }, once},
  };
}

// One target: its text, the figure it judges, and whether that figure meets it.
struct Verdict {
  std::string target;
  std::string measured;
  bool measured_at_all;
  bool pass;
};

Verdict at_most(std::string target, const Samples& samples, double limit, double factor, const std::string& unit) {
  const double value = samples.median() * factor;
  return {std::move(target), number(value) + " " + unit, !samples.empty(), !samples.empty() && value <= limit};
}

Verdict at_least(std::string target, const Samples& samples, double limit, const std::string& unit) {
  const double value = samples.median();
  return {std::move(target), number(value) + " " + unit, !samples.empty(), !samples.empty() && value >= limit};
}

std::vector<Verdict> verdicts(const Figures& ours, const Figures* baseline, const Workspace& workspace) {
  std::vector<Verdict> list;
  list.push_back(at_most("cold start to exit <= 3 ms (median)", ours.cold_start_ms, 3, 1, "ms"));
  if (baseline != nullptr && !baseline->cold_start_ms.empty() && !ours.cold_start_ms.empty()) {
    const double speedup = baseline->cold_start_ms.median() / ours.cold_start_ms.median();
    list.push_back({"cold start >= 30x faster than the baseline", number(speedup) + "x", true, speedup >= 30});
  } else {
    list.push_back({"cold start >= 30x faster than the baseline", "no baseline figure", false, false});
  }
  list.push_back(at_most("idle peak RSS <= 4 MB", ours.idle_rss_kib, 4, 1.0 / 1024, "MB"));
  list.push_back(at_least("initialize >= 300,000 requests/s", ours.initialize.requests_per_s, 300'000, "/s"));
  list.push_back(at_least("tools/list >= 20,000 requests/s", ours.tools_list.requests_per_s, 20'000, "/s"));
  list.push_back(at_least("1 MB request lines >= 200 MB/s", ours.large_calls.mib_per_s, 200, "MB/s"));
  list.push_back(at_most("20 MB reply relayed end to end <= 250 ms", ours.relay_large.milliseconds, 250, 1, "ms"));
  const double reply_kib = static_cast<double>(workspace.large_body_bytes) / 1024;
  const Samples& large_rss = ours.relay_large.peak_rss_kib;
  list.push_back({"20 MB relay peak RSS <= 4x the reply size",
                  number(large_rss.median() / reply_kib) + "x (" + number(large_rss.median() / 1024) + " MB)",
                  !large_rss.empty(), !large_rss.empty() && large_rss.median() <= 4 * reply_kib});
  const Samples& small_cost = ours.relay_small.ns_per_byte;
  const Samples& large_cost = ours.relay_large.ns_per_byte;
  const bool both = !small_cost.empty() && !large_cost.empty();
  const double growth = both ? large_cost.median() / small_cost.median() : 0;
  list.push_back({"ns/byte at 20 MB <= 1.5x that at 1 MB", number(growth) + "x", both, both && growth <= 1.5});
  return list;
}

}  // namespace

void print_table(std::FILE* out, const Figures& ours, const Figures* baseline, const Scale& ours_scale,
                 const Scale& baseline_scale) {
  std::fprintf(out, "%-40s %-12s %-9s %-34s %-34s %s\n", "case", "unit", "runs", "korvane-mcp median [min .. max]",
               "baseline median [min .. max]", "korvane/baseline");
  const std::vector<Row> ours_rows = rows(ours_scale);
  const std::vector<Row> baseline_rows = rows(baseline_scale);
  for (std::size_t i = 0; i < ours_rows.size(); ++i) {
    const Row& row = ours_rows[i];
    const Samples& mine = row.pick(ours);
    std::string runs = std::to_string(row.runs(ours_scale));
    std::string theirs = "-";
    std::string relative;
    if (baseline != nullptr) {
      runs += " / " + std::to_string(baseline_rows[i].runs(baseline_scale));
      theirs = summary(row.pick(*baseline), row.factor);
      relative = ratio(mine, row.pick(*baseline), row.better);
    }
    std::fprintf(out, "%-40s %-12s %-9s %-34s %-34s %s\n", row.label.c_str(), row.unit.c_str(), runs.c_str(),
                 summary(mine, row.factor).c_str(), theirs.c_str(), relative.c_str());
  }
}

void print_app_floor(std::FILE* out, const AppFloor& floor) {
  std::fprintf(out, "%-40s %-12s %-9s %s\n", "stand-in app alone, 1 MB (direct HTTP)", "ms",
               std::to_string(floor.small_ms.count()).c_str(), summary(floor.small_ms, 1).c_str());
  std::fprintf(out, "%-40s %-12s %-9s %s\n", "stand-in app alone, 20 MB (direct HTTP)", "ms",
               std::to_string(floor.large_ms.count()).c_str(), summary(floor.large_ms, 1).c_str());
}

int print_targets(std::FILE* out, const Figures& ours, const Figures* baseline, const Workspace& workspace) {
  int failed = 0;
  std::fprintf(out, "%-46s %-22s %s\n", "target (korvane-mcp)", "measured", "verdict");
  const std::vector<Verdict> list = verdicts(ours, baseline, workspace);
  for (const Verdict& verdict : list) {
    if (!verdict.pass) ++failed;
    std::fprintf(out, "%-46s %-22s %s\n", verdict.target.c_str(),
                 verdict.measured_at_all ? verdict.measured.c_str() : "not measured", verdict.pass ? "PASS" : "FAIL");
  }
  std::fprintf(out, "\n%d of %zu targets fail\n", failed, list.size());
  return failed;
}

void print_failures(std::FILE* out, const std::string& server, const Figures& figures) {
  for (const std::string& failure : figures.failures) std::fprintf(out, "%s: %s\n", server.c_str(), failure.c_str());
  for (std::size_t i = 0; i < figures.notes.size();) {
    std::size_t same = 1;
    while (i + same < figures.notes.size() && figures.notes[i + same] == figures.notes[i]) ++same;
    std::fprintf(out, "note: %s: %s (%zu runs)\n", server.c_str(), figures.notes[i].c_str(), same);
    i += same;
  }
}

}  // namespace korvane::bench
