// A digest of a test's transcript (FNV-1a), small enough to keep recorded in the test's source.
#pragma once

#include <cstdint>
#include <string>

inline std::uint64_t transcript_digest(const std::string& text) {
  std::uint64_t hash = 14695981039346656037ull;
  for (unsigned char c : text) {
    hash ^= c;
    hash *= 1099511628211ull;
  }
  return hash;
}
