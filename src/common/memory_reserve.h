// A little memory kept aside for the moment an allocation fails: the first failure gives it
// back to the allocator before std::bad_alloc is thrown, so that what runs while that exception
// unwinds (destructors of JSON values, which take a little memory to take a tree apart, and the
// error answer) finds some, instead of failing in a destructor, where a failure ends the
// process. The loop puts it aside again before each line.
#pragma once

namespace korvane {

// Installs the new-handler once and puts the reserve aside when it is not; without memory for
// it, the handler throws at once, as it would without a handler. Never throws.
void keep_memory_reserve() noexcept;

}  // namespace korvane
