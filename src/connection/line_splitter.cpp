#include "connection/line_splitter.h"

#include <bit>
#include <cstdint>
#include <cstring>

#include "platform/memory.h"

namespace {

constexpr std::uint64_t ONES = 0x0101010101010101ull;
constexpr std::uint64_t HIGHS = 0x8080808080808080ull;

// The high bit of each byte of `word` that is zero. A flag above a true zero may be false, but the
// lowest flag always marks a true zero.
inline std::uint64_t zero_bytes(std::uint64_t word) {
  return (word - ONES) & ~word & HIGHS;
}

inline bool is_break(char byte) {
  return byte == '\r' || byte == '\n';
}

// The first NUL, CR or LF in [at, end), or end. Eight bytes at a time: this scan is what the
// splitter spends its time on.
char* find_stop(char* at, char* end) {
  if constexpr (std::endian::native == std::endian::little) {
    while (end - at >= 8) {
      std::uint64_t word;
      std::memcpy(&word, at, 8);
      std::uint64_t flags =
          zero_bytes(word) | zero_bytes(word ^ (ONES * '\r')) | zero_bytes(word ^ (ONES * '\n'));
      if (flags != 0) return at + std::countr_zero(flags) / 8;
      at += 8;
    }
  }
  while (at < end && *at != '\0' && !is_break(*at))
    ++at;
  return at;
}

// Delivers [start, start + length) NUL-terminated by writing a NUL after it for the call and
// putting the byte back afterwards (the buffer always has a byte to spare after its content).
bool deliver(char* start, std::size_t length, LineSink sink, void* context) {
  char saved = start[length];
  start[length] = '\0';
  bool ok = sink(context, start, length);
  start[length] = saved;
  return ok;
}

// Delivers a line in pieces of at most `limit` bytes; a last piece shorter than the limit stays
// undelivered unless `whole` (the line has ended). Returns how many bytes were delivered, or
// SIZE_MAX when the sink failed.
std::size_t deliver_pieces(char* start, std::size_t length, std::size_t limit, bool whole,
                           LineSink sink, void* context) {
  std::size_t done = 0;
  while (length - done >= limit || (whole && done < length)) {
    std::size_t piece = length - done < limit ? length - done : limit;
    if (!deliver(start + done, piece, sink, context)) return SIZE_MAX;
    done += piece;
  }
  return done;
}

}  // namespace

char* splitter_room(LineSplitter* splitter, std::size_t count) {
  std::size_t needed = splitter->carry + count + 1;
  if (needed > splitter->capacity) {
    // Doubling, but never past what the longest carry and one chunk need: memory stays flat.
    std::size_t limit = splitter->limit != 0 ? splitter->limit : CARRY_LIMIT;
    std::size_t most = limit + RECEIVE_CHUNK + 1;
    std::size_t capacity =
        splitter->capacity < RECEIVE_CHUNK + 1 ? RECEIVE_CHUNK + 1 : 2 * splitter->capacity;
    if (capacity > most) capacity = most;
    if (capacity < needed) capacity = needed;
    auto* grown = static_cast<char*>(alloc_block(capacity));
    if (grown == nullptr) return nullptr;
    if (splitter->carry > 0) std::memcpy(grown, splitter->buffer, splitter->carry);
    release(&splitter->buffer);
    splitter->buffer = grown;
    splitter->capacity = capacity;
  }
  return splitter->buffer + splitter->carry;
}

void splitter_feed(LineSplitter* splitter, std::size_t count, LineSink sink, void* context) {
  std::size_t limit = splitter->limit != 0 ? splitter->limit : CARRY_LIMIT;
  char* buffer = splitter->buffer;
  if (buffer == nullptr) return;
  char* line = buffer;
  // The carry holds no NUL, CR or LF, so the scan starts at the new bytes.
  char* at = buffer + splitter->carry;
  char* end = at + count;
  for (;;) {
    char* stop = find_stop(at, end);
    if (stop == end) break;
    if (*stop == '\0') {
      // What the chunk holds after a NUL is ignored.
      end = stop;
      break;
    }
    if (stop > line && deliver_pieces(line, static_cast<std::size_t>(stop - line), limit, true,
                                      sink, context) == SIZE_MAX) {
      splitter->carry = 0;
      return;
    }
    while (stop < end && is_break(*stop))
      ++stop;
    line = at = stop;
  }
  std::size_t tail = static_cast<std::size_t>(end - line);
  std::size_t done = deliver_pieces(line, tail, limit, false, sink, context);
  if (done == SIZE_MAX) {
    splitter->carry = 0;
    return;
  }
  tail -= done;
  line += done;
  if (line != buffer && tail > 0) std::memmove(buffer, line, tail);
  splitter->carry = tail;
}

bool splitter_push(LineSplitter* splitter, const char* bytes, std::size_t count, LineSink sink,
                   void* context) {
  char* room = splitter_room(splitter, count);
  if (room == nullptr) return false;
  if (count > 0) std::memcpy(room, bytes, count);
  splitter_feed(splitter, count, sink, context);
  return true;
}

void splitter_reset(LineSplitter* splitter) {
  splitter->carry = 0;
}

void splitter_free(LineSplitter* splitter) {
  release(&splitter->buffer);
  splitter->carry = 0;
  splitter->capacity = 0;
}
