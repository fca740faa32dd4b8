// Random script programs for differential tests: the same program must behave the same whichever
// way the engine runs it. Every program ends (loops count to small bounds, recursion is bounded by
// an argument) and shows what it computes through lineecho and the result of main().
#pragma once

#include <cstdint>
#include <string>

// A whole module text with a function main() and a few helpers, made from `variant`.
std::string random_script(std::uint32_t variant);
