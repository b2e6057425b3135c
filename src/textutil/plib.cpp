#include "textutil/plib.h"

#include "textutil/error.h"
#include "textutil/gbk.h"

namespace textutil {

QByteArray ReplaceAll(const QByteArray& source, const QByteArray& pattern, const QByteArray& replacement)
{
    if (pattern.isEmpty())
        return source;
    // A replacement that holds the pattern would never end; replacing left to
    // right once is what the repeated search comes to for every other pair.
    if (replacement.contains(pattern)) {
        QByteArray out = source;
        return out.replace(pattern, replacement);
    }
    QByteArray work = source;
    qsizetype from = 0;
    while (true) {
        const qsizetype at = work.indexOf(pattern, from);
        if (at < 0)
            return work;
        work.replace(at, pattern.size(), replacement);
        // Text produced by a replacement, joined with what stood before it, can
        // form a new occurrence: step back far enough to see it.
        from = qMax<qsizetype>(0, at - pattern.size() + 1);
    }
}

int DigitSum(int count, const QByteArray& digits)
{
    const int n = qMin(count, 6);
    int sum = 0;
    for (int i = 0; i < n; ++i) {
        const char c = i < digits.size() ? digits[i] : '\0';
        if (c < '0' || c > '9') {
            QByteArray shown = i < digits.size() ? digits.mid(i, gbk::charLength(digits, i)) : QByteArray();
            throw belmire::Error(QStringLiteral("'%1' is not a valid integer value").arg(gbk::toUnicode(shown)));
        }
        sum += c - '0';
    }
    return sum;
}

} // namespace textutil
