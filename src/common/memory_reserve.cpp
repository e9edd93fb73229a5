#include "common/memory_reserve.h"

#include <cstdlib>
#include <new>

namespace korvane {
namespace {

// Enough for the destructors and the error answer of one line; small beside any limit a
// process can start under.
constexpr std::size_t kReserveBytes = 64 * 1024;

void* reserve = nullptr;

void give_back_reserve() {
  std::free(reserve);
  reserve = nullptr;
  throw std::bad_alloc();
}

}  // namespace

void keep_memory_reserve() noexcept {
  if (reserve == nullptr) reserve = std::malloc(kReserveBytes);
  std::set_new_handler(give_back_reserve);
}

}  // namespace korvane
