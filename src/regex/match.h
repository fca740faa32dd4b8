// Backtracking matcher: walks a compiled pattern over a NUL-terminated CP932 subject, taking
// transitions in list order, so the first path found is the match. The pattern is only read, so one
// pattern may serve several searches at once; all mutable state lives in the MatchState.
#pragma once

#include <cstdint>

#include "regex/pattern.h"

// A group's positions in the subject, end exclusive; both null until set.
struct GroupSpan {
  const char* start;
  const char* end;
};

// One capture variable. `name` is the "%" that begins «%name%» in the pattern text; the target
// expression is the text after it up to the next "%".
struct CaptureSlot {
  const char* name;
  const char* start;  // null until set
  const char* end;
};

// Why a search gave up early (MatchState::stopped).
enum MatchStop : std::int32_t {
  MATCH_RUNNING = 0,
  MATCH_STOP_REQUESTED = 1,  // the engine's stop flag was set
  MATCH_TOO_DEEP = 2,  // the backtracking stack reached MAX_BACKTRACK_FRAMES or memory ran out
};

// Bound on pending backtrack points of one match attempt (24 bytes each, 3 GiB in all); reaching
// it, or running out of memory before, gives the search up as too complex. A subject of tens of
// millions of bytes fits.
inline constexpr std::int32_t MAX_BACKTRACK_FRAMES = 1 << 27;

struct MatchState {
  const CompiledPattern* pattern;
  GroupSpan* groups;         // group_slots entries, or null when positions are not wanted
  CaptureSlot* captures;     // capture_slot_count entries, or null
  std::int32_t ignore_case;  // 1: single-byte literals compare case-insensitively
  // Kept across attempts of one search; zero it with the rest of the record.
  std::uint32_t steps;
  std::int32_t stopped;  // MatchStop; once set, every further attempt fails at once
};

// First match at or after `subject`. Returns group_slots and hands out a new group array in
// *groups (slot 0 the whole match; free it with `release`), or 0 with *groups null. *stopped (when
// given) receives why a search without a match gave up early (a MatchStop), MATCH_RUNNING when it
// did not.
std::int32_t find_first_match(const CompiledPattern* pattern, const char* subject,
                              std::int32_t ignore_case, GroupSpan** groups,
                              std::int32_t* stopped = nullptr);

// Matches the rest of the automaton from `state` at `pos`: the position just after the match, or
// null. Group and capture positions written by abandoned paths are not undone.
const char* match_at(MatchState* state, std::int32_t state_number, const char* pos);

// 1 when the character at pos belongs to the class text, else 0.
std::int32_t class_matches(const char* class_text, const char* pos);

// The search behind find_first_match, for callers that bring their own groups or capture table:
// tries successive start positions (only line starts when the pattern is line-anchored), clearing
// group and capture positions (not capture names) before each attempt. Returns the match end and
// sets *match_start, or null. After a match every group and capture either has both positions,
// start not after end, or none: a pair left incomplete or crossed by abandoned paths is cleared.
const char* search_pattern(MatchState* state, const char* subject, const char** match_start);

// Entries a capture table for this pattern needs.
std::int32_t capture_slot_count(const CompiledPattern* pattern);
// Fills `table` (capture_slot_count entries) with the pattern's capture names in pattern order,
// positions null; returns how many there are.
std::int32_t list_captures(const CompiledPattern* pattern, CaptureSlot* table);
