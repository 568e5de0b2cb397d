// Reading memory that another party owns and describes only loosely (a host record's text that
// is "zero-terminated" with no size), without ever touching a page that cannot be read.
#pragma once
#include <cstddef>
#include <string>

namespace platform {

// Copies up to count bytes from `from` to `to`, a page at a time, and stops before the first
// page that cannot be read; returns the bytes copied. Safe on any address.
size_t CopyReadable(const void* from, void* to, size_t count);
// One read of this process's memory that fails instead of faulting (process_vm_readv;
// ReadProcessMemory): the bytes copied, 0 when the memory cannot be read.
size_t ReadOwnMemory(const void* from, void* to, size_t count);

// The text at `from` up to its terminating zero, at most limit bytes, and never past memory
// that cannot be read; what was readable up to there when no zero came first.
std::string ReadTerminatedText(const char* from, size_t limit);

}  // namespace platform
