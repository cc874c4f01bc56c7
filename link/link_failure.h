#pragma once

#include "link/link_error.h"

#include <QString>

namespace ostrand {

// Why one exchange came to nothing, with all its words need: taken when it
// failed, so the text says what that exchange asked and waited for, whatever
// the link did since.
struct LinkFailure {
    LinkError error = LinkError::TimedOut;
    int slave = 0;
    int function = 0;      // the request's function code; 0 when nothing was sent
    int exceptionCode = 0; // the meter's code, for a refusal
    double waited = 0;     // seconds the exchange was allowed before it gave up
    QString port;          // as the user named it: "COM1 (/dev/ttyUSB0)", or the device alone
    QString baudRate;
    QString portReason;    // the port's own report of its last error
    bool lineLost = false; // the open line went away under the exchange
    QString lostLineReason;
};

// `failure` in words for the operator: what the meter refused, where nobody
// answered, or the port's own reason. A line lost under the exchange is named
// with what it was lost `during` ("the download") when that is given.
QString failureText(const LinkFailure &failure, const QString &during = QString());

} // namespace ostrand
