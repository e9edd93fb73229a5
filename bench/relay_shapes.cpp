#include "relay_shapes.h"

#include <functional>
#include <utility>

#include "report.h"
#include "standin_app.h"
#include "testkit/files.h"
#include "workloads.h"

namespace korvane::bench {
namespace {

constexpr double kPeakPerReply = 1.5;
constexpr double kCpuNoise = 1.05;  // a CPU time more than this times the earlier build's is slower
constexpr double kNestedPerByteToOcr = 2.0;
constexpr double kPeakNoise = 1.01;  // one build's peak moves by up to half a per cent from run to run

// The CPU time a shape's relay may take, as a share of the earlier build's (30813c3): the OCR
// reply a quarter faster, the escape-heavy one 30%, a nested object twice as fast; other shapes
// no slower.
double cpu_ratio_limit(const std::string& shape_name) {
  if (shape_name == "OCR") return 0.75;
  if (shape_name == "escapes") return 0.70;
  if (shape_name.starts_with("nested object")) return 0.50;
  return kCpuNoise;
}

double cpu_ms_per_mib(const RelayShape& shape) {
  return shape.server_cpu_ms.median() / (static_cast<double>(shape.reply_bytes) / kMiB);
}
constexpr std::size_t kReplyBytes = 20 * kMiB;

struct ShapeBody {
  const char* name;
  std::function<std::string()> make;
};

std::vector<ShapeBody> shape_bodies() {
  return {
      {"OCR", [] { return screen_ocr_reply(); }},
      {"escapes", [] { return escape_heavy_reply(kReplyBytes); }},
      {"nested object, short members", [] { return nested_object_reply(kReplyBytes, 24); }},
      {"nested object, 100 B members", [] { return nested_object_reply(kReplyBytes, 100); }},
      {"flat object, short members", [] { return flat_object_reply(kReplyBytes, 16); }},
      {"flat object, 100 B members", [] { return flat_object_reply(kReplyBytes, 100); }},
      {"array of lines", [] { return lines_reply(kReplyBytes); }},
  };
}

// The server relays one screen_ocr call that the stand-in app answers with `body`: once into a
// file to check the answer, then `runs` rounds of the server, the earlier build and the app alone.
Outcome<void> relay_runs(const WholeProcessSetup& setup, const std::string& body, int runs, RelayShape& shape) {
  const std::string body_path = setup.directory + "/relay-reply.json";
  const std::string input = setup.directory + "/screen-ocr.jsonl";
  const std::string socket_info = setup.directory + "/relay-socket-info.json";
  if (!testkit::write_file(body_path, body) || !testkit::write_file(input, screen_ocr_line(1))) {
    return error_text("cannot write the relay's files");
  }
  auto started = start_app(setup.standin, socket_info, body_path, setup.directory + "/relay-standin.stderr");
  if (!started) return error_text(started.error());
  Child app = std::move(started).value();
  const Environment environment(socket_info);
  auto done = check_answers(setup, environment, input, 1, R"("result":{"content":[{"text":")", body.size());
  std::vector<Timed> commands{{{setup.server}, &shape.server_ms, &shape.server_peak_kib, &shape.server_cpu_ms}};
  if (!setup.before.empty()) {
    commands.push_back({{setup.before}, &shape.before_ms, &shape.before_peak_kib, &shape.before_cpu_ms});
  }
  for (int run = 0; done && run < runs; ++run) {
    done = repeat(setup, environment, input, 1, 1e3, commands);
    if (!done) break;
    auto floor = fetch_directly(socket_info, body.size(), 1);
    if (!floor) done = error_text(floor.error());
    if (done) shape.floor_ms.add(floor.value().median());
  }
  auto stopped = app.finish();
  if (done && !stopped) return error_text("stand-in app: " + stopped.error());
  return done;
}

std::string peak_text(const Samples& peak_kib, std::size_t reply_bytes) {
  if (peak_kib.empty()) return "-";
  return number(peak_kib.median() / 1024) + " (" + number(peak_kib.median() * 1024 / static_cast<double>(reply_bytes)) +
         "x)";
}

std::string optional_summary(const Samples& samples) { return samples.empty() ? "-" : summary(samples, 1); }

}  // namespace

Outcome<void> write_shape_replies(const std::string& directory, std::FILE* out) {
  int index = 0;
  for (const ShapeBody& shape : shape_bodies()) {
    std::string name = std::to_string(++index) + "-" + shape.name;
    for (char& c : name) c = c == ' ' || c == ',' ? '-' : c;
    const std::string path = directory + "/" + name + ".json";
    if (auto written = testkit::write_file(path, shape.make()); !written) return error_text(written.error());
    std::fprintf(out, "%s\n", path.c_str());
  }
  return ok_outcome();
}

RelayShapes measure_relay_shapes(const WholeProcessSetup& setup, int runs, bool only_ocr) {
  RelayShapes measured;
  for (const ShapeBody& shape_body : shape_bodies()) {
    RelayShape shape;
    shape.name = shape_body.name;
    {
      const std::string body = shape_body.make();  // not held while the relays run
      shape.reply_bytes = body.size();
      if (auto done = relay_runs(setup, body, runs, shape); !done) {
        measured.failures.push_back("relay of the " + shape.name + " reply: " + done.error());
      }
    }
    measured.shapes.push_back(std::move(shape));
    if (only_ocr) break;
  }
  return measured;
}

int print_relay_shapes(std::FILE* out, const RelayShapes& measured) {
  const std::size_t runs = measured.shapes.empty() ? 0 : measured.shapes.front().server_ms.count();
  std::fprintf(out, "relay of one screen_ocr call by reply shape: %zu runs each, in turn with the earlier build\n",
               runs);
  std::fprintf(out, "%-30s %-5s %-26s %-26s %-6s %-26s %-26s %-13s %-13s %s\n", "reply", "MB",
               "CPU ms median [min .. max]", "before", "ratio", "wall ms median [min .. max]", "before", "peak MB (x)",
               "before", "app alone, ms");
  for (const RelayShape& shape : measured.shapes) {
    const bool compared = !shape.before_cpu_ms.empty() && shape.before_cpu_ms.median() > 0;
    std::fprintf(out, "%-30s %-5s %-26s %-26s %-6s %-26s %-26s %-13s %-13s %s\n", shape.name.c_str(),
                 number(static_cast<double>(shape.reply_bytes) / kMiB).c_str(),
                 optional_summary(shape.server_cpu_ms).c_str(), optional_summary(shape.before_cpu_ms).c_str(),
                 compared ? number(shape.server_cpu_ms.median() / shape.before_cpu_ms.median()).c_str() : "-",
                 optional_summary(shape.server_ms).c_str(), optional_summary(shape.before_ms).c_str(),
                 peak_text(shape.server_peak_kib, shape.reply_bytes).c_str(),
                 peak_text(shape.before_peak_kib, shape.reply_bytes).c_str(), number(shape.floor_ms.median()).c_str());
  }
  int failed = 0;
  std::fprintf(out, "\n%-56s %-12s %s\n", "target (relay by reply shape)", "measured", "verdict");
  const auto verdict = [&](const std::string& text, bool measured_here, double value, double limit) {
    const bool pass = measured_here && value <= limit;
    failed += pass ? 0 : 1;
    std::fprintf(out, "%-56s %-12s %s\n", text.c_str(), measured_here ? number(value).c_str() : "not measured",
                 pass ? "PASS" : "FAIL");
  };
  const RelayShape* ocr = measured.shapes.empty() ? nullptr : &measured.shapes.front();
  for (const RelayShape& shape : measured.shapes) {
    const double reply_kib = static_cast<double>(shape.reply_bytes) / 1024;
    verdict(shape.name + ": peak <= 1.5x the reply", !shape.server_peak_kib.empty(),
            shape.server_peak_kib.median() / reply_kib, kPeakPerReply);
    if (shape.before_cpu_ms.empty()) continue;
    verdict(shape.name + ": peak <= before's (1% noise)", !shape.server_peak_kib.empty(),
            shape.server_peak_kib.median() / shape.before_peak_kib.median(), kPeakNoise);
    const double limit = cpu_ratio_limit(shape.name);
    verdict(shape.name + ": CPU <= " + number(limit) + "x before", !shape.server_cpu_ms.empty(),
            shape.server_cpu_ms.median() / shape.before_cpu_ms.median(), limit);
    if (shape.name.starts_with("nested object") && ocr != nullptr && !ocr->server_cpu_ms.empty()) {
      verdict(shape.name + ": CPU per MB <= 2x OCR's", !shape.server_cpu_ms.empty(),
              cpu_ms_per_mib(shape) / cpu_ms_per_mib(*ocr), kNestedPerByteToOcr);
    }
  }
  for (const std::string& failure : measured.failures) std::fprintf(out, "%s\n", failure.c_str());
  std::fprintf(out, "\n");
  return failed;
}

}  // namespace korvane::bench
