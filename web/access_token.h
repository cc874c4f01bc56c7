#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>

namespace ostrand::web {

// The secret a request must carry, as read from its file.
struct AccessToken {
    QByteArray token;   // trimmed; empty when the file was refused
    QString problem;    // why the file was refused, naming it; empty when read
    bool ok() const { return problem.isEmpty(); }
};

// Reads the token from `path`: a regular file of at most 4 KiB that only its
// owner and group may read (one others can read is refused: anyone on the host
// could take the token), holding one line of at least 16 characters.
AccessToken readAccessToken(const QString &path);

// Whether `given` equals `expected`, taking the same time whatever their
// contents and wherever they first differ, so the answer's timing tells a
// guesser nothing about the token.
bool sameSecret(const QByteArray &expected, const QByteArray &given);

// Whether a request's headers carry `token`: as "Authorization: Bearer TOKEN"
// or as the password of HTTP Basic authentication, with any user name.
bool carriesToken(const QList<QPair<QByteArray, QByteArray>> &headers, const QByteArray &token);

} // namespace ostrand::web
