// Counts the heap allocations of the whole process (the plug-in's included), so a benchmark
// can report allocations per round. The counting operator new lives in heap_counter.cpp.
#pragma once

#include <cstddef>

namespace velk_bench {

std::size_t HeapAllocations();

}  // namespace velk_bench
