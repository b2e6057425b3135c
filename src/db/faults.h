#pragma once

#include "db/driver_error.h"

#include <array>
#include <memory>

namespace db {
class Connection;
}

// A test seam: a backend standing in for a connection's own that makes the
// n-th prepare, execute, fetch or commit fail, as if the database had refused
// it. Installed on chosen connections only; nothing else pays for it.
namespace db::faults {

enum class Kind { Prepare, Execute, Fetch, Commit };
constexpr int kKinds = 4;

// What fails, and the calls counted so far. One plan may serve several
// connections (the source and the target of a run): their calls count together.
class Plan {
public:
    // Counts the calls of every kind without failing any.
    Plan() = default;
    // Call n (from 1) of the kind fails, and with fromThenOn every later one too.
    Plan(Kind kind, int n, bool fromThenOn) : m_kind(kind), m_at(n), m_fromThenOn(fromThenOn) {}

    // Counts the call; true when this call is to fail.
    bool trip(Kind kind);
    int calls(Kind kind) const { return m_calls[size_t(kind)]; }
    int failures() const { return m_failures; } // calls made to fail

    // The error a failed call reports.
    static DriverError error(Kind kind);

private:
    Kind m_kind = Kind::Prepare;
    int m_at = 0; // 0: count only
    bool m_fromThenOn = false;
    std::array<int, kKinds> m_calls{};
    int m_failures = 0;
};

// From its next open on, the connection's engine stands behind a backend that
// counts and fails its calls as plan says.
void inject(Connection& connection, std::shared_ptr<Plan> plan);

} // namespace db::faults
