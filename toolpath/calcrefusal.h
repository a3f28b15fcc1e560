#pragma once

#include <QString>

// A request the calculation server declines (a cut it could only make by changing what the user asked
// for) is answered with one comment line giving the reason, in place of a program.
namespace CalcRefusal {

inline QString prefix()
{
    return QStringLiteral("(Refused: ");
}

inline QString line(const QString &reason)
{
    return prefix() + reason + QLatin1Char(')');
}

// The reason of a refusing answer; empty for any other answer.
inline QString reason(const QString &answer)
{
    if (!answer.startsWith(prefix()))
        return QString();
    const int end = answer.indexOf(QLatin1Char(')'), prefix().size());
    return answer.mid(prefix().size(), end < 0 ? -1 : end - prefix().size());
}

} // namespace CalcRefusal
