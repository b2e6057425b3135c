#pragma once

#include <QByteArray>

#include <utility>

namespace textutil {

// The when-true value if the condition holds, else the when-false value.
template <typename T>
T ChooseValue(bool condition, T whenTrue, T whenFalse)
{
    return condition ? std::move(whenTrue) : std::move(whenFalse);
}

// Replaces the first occurrence of pattern again and again, searching from the
// start each time, until none is left. An empty pattern is never found.
QByteArray ReplaceAll(const QByteArray& source, const QByteArray& pattern, const QByteArray& replacement);

// Sum of the first min(count, 6) digits of a level setting; 0 for count <= 0.
// A position that is no decimal digit, or lies past the end, throws
// "'%s' is not a valid integer value".
int DigitSum(int count, const QByteArray& digits);

} // namespace textutil
