#pragma once

#include "db/driver_error.h"

// A test seam: makes the database layer fail at the n-th prepare, execute,
// fetch or commit, as if the database had refused it. Unarmed it costs one test
// of a global flag per call.
namespace db::faults {

enum class Kind { Prepare, Execute, Fetch, Commit };
constexpr int kKinds = 4;

extern bool g_armed;

// Counts the call; true when this call is to fail.
bool tripped(Kind kind);

// True when the current call of this kind must fail.
inline bool fail(Kind kind) { return g_armed && tripped(kind); }

// Arms the seam: call n (from 1, counted from the last reset) of the kind fails,
// and with fromThenOn every later one too. Resets every counter.
void failAt(Kind kind, int n, bool fromThenOn);
// Counts the calls of every kind without failing any. Resets every counter.
void countOnly();
// Disarms the seam and resets every counter.
void reset();
int calls(Kind kind);
int failures(); // calls made to fail since the last reset

// The error a failed call reports.
DriverError error(Kind kind);

} // namespace db::faults
