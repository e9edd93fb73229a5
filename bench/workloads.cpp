#include "workloads.h"

#include <array>
#include <cstdio>

namespace korvane::bench {
namespace {

constexpr std::string_view kInitializeParams =
    R"({"protocolVersion":"2024-11-05","capabilities":{},"clientInfo":{"name":"korvane-bench","version":"1.0"}})";

// What an agent might type: prose, code, paths, quotes, tabs, newlines and non-ASCII text.
constexpr std::string_view kTypedParagraph =
    R"(Grüße aus Köln: the build finished in 3.2 s \u2014 see C:\\tmp\\out.log and \"README.md\".\n)"
    R"(\tfn main() { println!(\"日本語のテキスト ✓\"); } // naïve café €12.50 → done\n)";

constexpr std::array<std::string_view, 24> kWords{
    "File",   "Edit",        "View",       "Terminal",  "session", "korvane", "Übersicht", "naïve",
    "日本語", "Ошибка",      "✓",          "→",         "café",    "€12.50",  "build:",    "passed",
    "42",     "src/main.rs", "\\\"ok\\\"", "C:\\\\tmp", "déjà vu", "—",       "npm",       "Claude"};

// A small deterministic generator, so that every run sends the same bytes.
class Random {
 public:
  std::uint64_t next() {
    state_ += 0x9e3779b97f4a7c15ULL;
    std::uint64_t z = state_;
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
    return z ^ (z >> 31);
  }
  unsigned below(unsigned bound) { return static_cast<unsigned>(next() % bound); }
  double unit() { return static_cast<double>(next() >> 11) * 0x1.0p-53; }

 private:
  std::uint64_t state_ = 0x6b6f7276616e65ULL;
};

std::string request_line(std::uint64_t id, std::string_view method, std::string_view params_member) {
  std::string line = R"({"jsonrpc":"2.0","id":)" + std::to_string(id) + R"(,"method":")";
  line += method;
  line += '"';
  line += params_member;
  line += "}\n";
  return line;
}

// Confidence values as a single-precision score widened to double prints them: 0.30000001192092896.
std::string confidence(Random& random) {
  char text[32];
  const auto score = static_cast<float>(0.35 + 0.65 * random.unit());
  std::snprintf(text, sizeof text, "%.17g", static_cast<double>(score));
  return text;
}

// The ranges of a text box on a screen.
struct BoxRanges {
  unsigned width, height, widest, tallest;
};

// The box members of an OCR line and the line's closing brace.
void append_box(std::string& body, Random& random, const BoxRanges& screen) {
  body += R"(,"x":)" + std::to_string(random.below(screen.width));
  body += R"(,"y":)" + std::to_string(random.below(screen.height));
  body += R"(,"w":)" + std::to_string(8 + random.below(screen.widest));
  body += R"(,"h":)" + std::to_string(10 + random.below(screen.tallest));
  body += '}';
}

void append_ocr_line(std::string& body, Random& random) {
  body += R"({"text":")";
  const unsigned words = 1 + random.below(6);
  for (unsigned i = 0; i < words; ++i) {
    if (i > 0) body += ' ';
    body += kWords[random.below(static_cast<unsigned>(kWords.size()))];
  }
  body += R"(","conf":)" + confidence(random);
  append_box(body, random, {3024, 1964, 900, 30});
}

// One character of an OCR text, escaped for a JSON string.
void append_ocr_character(std::string& text, Random& random) {
  const unsigned pick = random.below(100);
  if (pick < 32) {
    text += static_cast<char>((random.below(2) != 0 ? 'a' : 'A') + random.below(26));
  } else if (pick < 44) {
    text += ' ';
  } else if (pick < 94) {
    char32_t cjk = 0x4E00 + random.below(0x51A0);  // CJK Unified Ideographs
    text += static_cast<char>(0xE0 | (cjk >> 12));
    text += static_cast<char>(0x80 | ((cjk >> 6) & 0x3F));
    text += static_cast<char>(0x80 | (cjk & 0x3F));
  } else if (pick < 96) {
    text += "\xE2\x80\x94";  // em dash
  } else {
    text += pick < 98 ? "\\\"" : "\\\\";
  }
}

// A confidence with at most 4 decimals, as an app prints a rounded score: 0.8125, 0.97, 0.5.
std::string rounded_confidence(Random& random) {
  std::string text = "0." + std::to_string(3000 + random.below(7000));
  while (text.back() == '0') text.pop_back();
  return text;
}

}  // namespace

std::string initialize_line(std::uint64_t id) {
  return request_line(id, "initialize", std::string(R"(,"params":)") + std::string(kInitializeParams));
}

std::string tools_list_line(std::uint64_t id) { return request_line(id, "tools/list", ""); }

std::string screen_ocr_line(std::uint64_t id) {
  return request_line(id, "tools/call", R"(,"params":{"name":"screen_ocr","arguments":{}})");
}

std::string large_call_head(std::uint64_t id) {
  return R"({"jsonrpc":"2.0","id":)" + std::to_string(id) +
         R"(,"method":"tools/call","params":{"name":"type_text","arguments":{"text":")";
}

std::string large_call_text(std::size_t approximate_bytes) {
  std::string text;
  text.reserve(approximate_bytes + kTypedParagraph.size());
  while (text.size() + kTypedParagraph.size() <= approximate_bytes) text += kTypedParagraph;
  return text;
}

std::string ocr_reply_body(std::size_t target_bytes) {
  Random random;
  std::string body;
  body.reserve(target_bytes + 256);
  body += R"({"image":"/var/folders/xq/7k2d/T/korvane-ocr-1733616000.png","width":3024,"height":1964,)";
  body += R"("scale":2.0,"lines":[)";
  while (body.size() + 2 < target_bytes) {
    if (body.back() != '[') body += ',';
    append_ocr_line(body, random);
  }
  body += "]}";
  return body;
}

std::string screen_ocr_reply(std::size_t lines) {
  Random random;
  std::string body = R"({"image":"/tmp/shot.png","width":5120,"height":2880,"scale":2.0,"lines":[)";
  body.reserve(lines * 110);
  for (std::size_t line = 0; line < lines; ++line) {
    body += line == 0 ? R"({"text":")" : R"(,{"text":")";
    for (unsigned count = 3 + random.below(38); count > 0; --count) append_ocr_character(body, random);
    body += R"(","conf":)" + rounded_confidence(random);
    append_box(body, random, {5120, 2880, 1200, 50});
  }
  body += "]}";
  return body;
}

}  // namespace korvane::bench

namespace korvane::bench {
namespace {

// One character of an escape-heavy text, as a JSON string holds it.
void append_escape_heavy_character(std::string& text, Random& random) {
  static constexpr std::array<std::string_view, 12> kPieces{
      "\\\"",         "\\\\",         "\\n", "\\t", "\\u00e9", "\xC3\xA9",
      "\xE2\x80\x94", "\xE2\x80\x93", "\\/", "\\r", " ",       "\\u4e2d"};
  const unsigned pick = random.below(100);
  if (pick < 30) {
    text += static_cast<char>('a' + random.below(26));
  } else if (pick < 40) {
    const char32_t cjk = 0x4E00 + random.below(0x51A0);
    text += static_cast<char>(0xE0 | (cjk >> 12));
    text += static_cast<char>(0x80 | ((cjk >> 6) & 0x3F));
    text += static_cast<char>(0x80 | (cjk & 0x3F));
  } else {
    text += kPieces[random.below(static_cast<unsigned>(kPieces.size()))];
  }
}

// A key as a hash map of records writes them: no order to speak of.
std::string scattered_key(Random& random) {
  char key[24];
  std::snprintf(key, sizeof key, "rec-%012llx", static_cast<unsigned long long>(random.next() >> 16));
  return key;
}

// Words of a string, about `bytes` of them.
void append_words(std::string& out, Random& random, std::size_t bytes) {
  const std::size_t stop = out.size() + bytes;
  while (out.size() < stop) {
    if (out.back() != '"') out += ' ';
    out += kWords[random.below(static_cast<unsigned>(kWords.size()))];
  }
}

// A small record: {"id":..,"ok":..} when short, else its members fill about `bytes`.
void append_record(std::string& out, Random& random, std::size_t bytes) {
  const std::size_t start = out.size();
  out += R"({"ok":)";
  out += random.below(2) != 0 ? "true" : "false";
  out += R"(,"id":)" + std::to_string(random.below(1'000'000));
  if (bytes > 40) {
    out += R"(,"score":)" + rounded_confidence(random);
    out += R"(,"name":")";
    const std::size_t used = out.size() - start + 20;  // with the tags after the name
    append_words(out, random, bytes > used ? bytes - used : 1);
    out += R"(","tags":["a","b"]})";
    return;
  }
  out += '}';
}

}  // namespace

std::string escape_heavy_reply(std::size_t target_bytes) {
  Random random;
  std::string body = R"({"image":"/tmp/shot.png","width":5120,"height":2880,"scale":2.0,"lines":[)";
  body.reserve(target_bytes + 256);
  while (body.size() + 2 < target_bytes) {
    body += body.back() == '[' ? R"({"text":")" : R"(,{"text":")";
    for (unsigned count = 20 + random.below(60); count > 0; --count) append_escape_heavy_character(body, random);
    body += R"(","conf":)" + rounded_confidence(random);
    append_box(body, random, {5120, 2880, 1200, 50});
  }
  body += "]}";
  return body;
}

std::string nested_object_reply(std::size_t target_bytes, std::size_t member_bytes) {
  Random random;
  std::string body = R"({"content":[{"type":"text","text":"records by id"}],"data":{)";
  body.reserve(target_bytes + 256);
  while (body.size() + 2 < target_bytes) {
    if (body.back() != '{') body += ',';
    body += '"';
    body += scattered_key(random);
    body += "\":";
    append_record(body, random, member_bytes);
  }
  body += "}}";
  return body;
}

std::string flat_object_reply(std::size_t target_bytes, std::size_t member_bytes) {
  Random random;
  std::string body = "{";
  body.reserve(target_bytes + 256);
  while (body.size() + 1 < target_bytes) {
    if (body.size() > 1) body += ',';
    body += '"';
    body += scattered_key(random);
    body += "\":";
    if (member_bytes <= 40) {
      body += std::to_string(random.below(1'000'000));
    } else {
      body += '"';
      append_words(body, random, member_bytes - 24);
      body += '"';
    }
  }
  body += '}';
  return body;
}

std::string lines_reply(std::size_t target_bytes) {
  Random random;
  std::string body = R"({"content":[{"type":"text","text":"build.log"}],"lines":[)";
  body.reserve(target_bytes + 256);
  while (body.size() + 2 < target_bytes) {
    body += body.back() == '[' ? "\"" : ",\"";
    body += '[';
    body += std::to_string(random.below(100'000));
    body += "] ";
    append_words(body, random, 20 + random.below(80));
    body += '"';
  }
  body += "]}";
  return body;
}

}  // namespace korvane::bench
