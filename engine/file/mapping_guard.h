#pragma once
// Memory-mapped reads survive a file that shrinks under them. Touching a
// mapped page that now lies past the end of its file raises a bus error;
// for ranges entered here the handler puts a page of zeros in its place and
// marks the range cut short, so the read goes on (it sees zeros, which the
// readers take for damage) and its owner can tell afterwards that what it
// read is not the file. Bus errors anywhere else go to the handler that was
// there before, or end the process as they would have.
#include <atomic>
#include <cstddef>

namespace jet::mapping_guard {

// Guards [begin, begin + n) until leave(); `cut_short` is set when the
// handler had to fill a page of it. Returns a slot for leave(), or -1 when
// every slot is taken (the caller then reads without a mapping).
int enter(const void* begin, std::size_t n, std::atomic<bool>* cut_short);
void leave(int slot);

}  // namespace jet::mapping_guard
