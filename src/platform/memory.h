// Allocator tuning and handing freed memory back to the system, where the platform allows.
#pragma once

namespace korvane::platform {

// Called once at start: large blocks (long lines, big replies) get pages of their own, so that
// they go back to the system when freed and grow by remapping instead of copying. glibc only;
// elsewhere the allocator already maps large blocks by themselves.
void tune_allocator();

// Returns free memory held by the allocator to the system, after a large request has been
// handled: glibc trims its heaps (malloc_trim); macOS relieves every malloc zone
// (malloc_zone_pressure_relief); elsewhere nothing is done.
void release_free_memory();

}  // namespace korvane::platform
