// A layer over SQLite's own file layer that writes each commit to the
// write-ahead log with one system call instead of two per page.
#pragma once

namespace orvik::posix {

// The name to open databases with, registering the layer on first use; null
// (SQLite's default layer) when it cannot be registered.
const char* WalBatchingVfsName();

}  // namespace orvik::posix
