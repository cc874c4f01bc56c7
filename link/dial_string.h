#pragma once

#include <QString>

namespace ostrand {

// What in `number` a Hayes modem cannot take after "ATDT", or an empty text when
// it can dial all of it. A dial string holds digits, * # + , ; ! @ W T P (either
// case for W, T and P), A to D, blanks, - ( and ); anything else, a carriage
// return above all, would end the dial command and send the rest as commands.
QString dialStringProblem(const QString &number);
inline bool isDialable(const QString &number)
{
    return dialStringProblem(number).isEmpty();
}

} // namespace ostrand
