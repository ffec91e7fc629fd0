// How much of the device's text the program takes into memory at most: the
// largest reply an upload accepts, and so also the largest .log file that is
// read back (every log the tool can save can be read again, nothing larger
// is taken in).
#pragma once

#include <cstddef>

// 256 MiB: a log streams at about 91 s per MB, so time cannot tell a long
// log from a runaway one; this bound, with kLineCost, keeps a runaway reply
// with the view filled under about 800 MiB of memory.
constexpr std::size_t kReplyBound = std::size_t{256} * 1024 * 1024;

// Memory that one line costs beyond its bytes, as the bounds count it: the
// line's own string and its share of the view that shows it. A reply (or a
// file) of millions of short or empty lines so stops at the same memory as
// one of long lines.
constexpr std::size_t kLineCost = 96;
