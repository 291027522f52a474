// The benchmarks' test trees: a tree described by its fan-out per level and
// values per leaf, built in the registry through the platform calls, and the
// building of the trees in a child process of their own.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace orvik::bench {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::duration d);

struct Tree {
  const char* label;
  std::string key;           // under HKEY_LOCAL_MACHINE
  std::vector<int> fanouts;  // children per level; the last level holds the values
  int values_per_leaf;
  long keys = 0;
  long values = 0;
  // What the leaves' values look like: the text of the REG_SZ values and the
  // length of the REG_BINARY ones before their number.
  std::string text = "Some setting text ";
  size_t binary_bytes = 16;
};

// Ends the benchmark with a message when a registry call fails.
void Check(LONG result, const char* what);

void SetValue(HKEY key, const std::string& name, DWORD type, const std::string& data);

// A leaf's worth of values of the common types.
void FillLeaf(HKEY key, Tree& tree, long serial);

// Builds the tree under HKEY_LOCAL_MACHINE, counting its keys and values;
// returns the seconds it took.
double BuildTree(Tree& tree);

// The path of the last leaf, deep inside the tree.
std::string DeepestKey(const Tree& tree);

// Builds the trees in a child process with `build`, so that this process
// stays as small as a shell would be: a program started from here counts
// this process's pages in its own peak memory. The counts of keys and values
// come back to `small` and `large`.
bool BuildTreesApart(Tree& small, Tree& large, const std::function<void(Tree&, Tree&)>& build);

}  // namespace orvik::bench
