// Cuts the bytes received from the server into lines. Any run of CR and LF ends a line, empty lines
// are never delivered, and a NUL byte ends what a chunk contributes. The bytes after the last line
// break wait in the carry for the next chunk; a carry that reaches its limit is delivered as a line
// of its own, so a peer that never sends a line break cannot make it grow without bound.
#pragma once

#include <cstddef>

// The most bytes one receive pass reads.
constexpr std::size_t RECEIVE_CHUNK = 32767;
// The longest piece delivered as one line.
constexpr std::size_t CARRY_LIMIT = std::size_t{1} << 20;

// Called once per line with the line's bytes, NUL-terminated; the text is valid only during the
// call. Returns false when the line's consumer failed: the rest of the chunk and the carry are
// then dropped.
using LineSink = bool (*)(void* context, const char* line, std::size_t length);

struct LineSplitter {
  char* buffer;          // the carry at the front, then room for one chunk and a NUL
  std::size_t carry;     // bytes of carry at the front of the buffer
  std::size_t capacity;  // size of the buffer
  std::size_t limit;     // longest line delivered; 0 means CARRY_LIMIT
};

// Room for `count` received bytes right after the carry (grows the buffer when needed); null when
// memory is exhausted. The bytes written there are handed over with `splitter_feed`.
char* splitter_room(LineSplitter* splitter, std::size_t count);
// Splits the carry followed by the `count` bytes just written into the room, delivering every
// complete line to `sink`; what follows the last line break becomes the new carry.
void splitter_feed(LineSplitter* splitter, std::size_t count, LineSink sink, void* context);
// Copies `count` bytes into the room and feeds them; false when memory is exhausted.
bool splitter_push(LineSplitter* splitter, const char* bytes, std::size_t count, LineSink sink,
                   void* context);
// Drops the carry (a new connection starts with none).
void splitter_reset(LineSplitter* splitter);
// Frees the buffer and clears the record.
void splitter_free(LineSplitter* splitter);
