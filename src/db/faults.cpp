#include "db/faults.h"

#include <array>

namespace db::faults {
namespace {

struct Plan {
    Kind kind = Kind::Prepare;
    int at = 0; // 0: count only
    bool fromThenOn = false;
    std::array<int, kKinds> calls{};
    int failures = 0;
};

Plan g_plan;

const char* kindName(Kind kind)
{
    switch (kind) {
    case Kind::Prepare:
        return "prepare";
    case Kind::Execute:
        return "execute";
    case Kind::Fetch:
        return "fetch";
    case Kind::Commit:
        return "commit";
    }
    return "?";
}

} // namespace

bool g_armed = false;

bool tripped(Kind kind)
{
    const int n = ++g_plan.calls[size_t(kind)];
    if (g_plan.at <= 0 || kind != g_plan.kind)
        return false;
    const bool hit = g_plan.fromThenOn ? n >= g_plan.at : n == g_plan.at;
    if (hit)
        ++g_plan.failures;
    return hit;
}

void failAt(Kind kind, int n, bool fromThenOn)
{
    g_plan = Plan{kind, n, fromThenOn, {}, 0};
    g_armed = true;
}

void countOnly()
{
    g_plan = Plan{};
    g_armed = true;
}

void reset()
{
    g_plan = Plan{};
    g_armed = false;
}

int calls(Kind kind) { return g_plan.calls[size_t(kind)]; }

int failures() { return g_plan.failures; }

DriverError error(Kind kind)
{
    return {QStringLiteral("injected %1 fault").arg(QLatin1String(kindName(kind))), QString()};
}

} // namespace db::faults
