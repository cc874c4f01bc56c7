#include "dial_string.h"

namespace ostrand {
namespace {

bool dialable(QChar c)
{
    static const QString kMarks = QStringLiteral("*#+,;!@WTPwtpABCD -()");
    return (c >= u'0' && c <= u'9') || kMarks.contains(c);
}

// A character as a message can show it: control characters by their code, so
// that a stray carriage return or escape neither vanishes nor acts on a terminal.
QString shown(QChar c)
{
    if (c.isPrint() && c != u'\'')
        return QStringLiteral("'%1'").arg(c);
    return QStringLiteral("U+%1").arg(c.unicode(), 4, 16, QLatin1Char('0')).toUpper();
}

} // namespace

QString dialStringProblem(const QString &number)
{
    for (const QChar c : number) {
        if (!dialable(c))
            return QStringLiteral(
                       "the number holds %1, which a modem cannot dial (digits, * # + , ; ! @ "
                       "W T P, A to D, blanks and - ( ) only)")
                .arg(shown(c));
    }
    return {};
}

} // namespace ostrand
