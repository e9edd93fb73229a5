// Prints the C library's number and text of the errors the interop suite expects in error
// texts, as one JSON object: {"ECONNREFUSED":{"number":111,"text":"Connection refused"},...}.
// Node has the numbers (os.constants.errno) but not these texts, which differ between systems.
#include <cerrno>
#include <cstdio>
#include <cstring>

#include <nlohmann/json.hpp>

int main() {
  const struct {
    const char* name;
    int number;
  } errors[] = {{"ECONNREFUSED", ECONNREFUSED}, {"ECONNRESET", ECONNRESET}};
  nlohmann::json table = nlohmann::json::object();
  for (const auto& error : errors)
    table[error.name] = {{"number", error.number}, {"text", std::strerror(error.number)}};
  std::puts(table.dump().c_str());
  return 0;
}
