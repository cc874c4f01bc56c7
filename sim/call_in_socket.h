#pragma once

#include "call_in_settings.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <sys/socket.h>

namespace ostrand::sim {

// A collector address looked up once, for the many connects a fleet of routers makes.
struct SocketAddress {
    sockaddr_storage storage{};
    socklen_t length = 0;
    QString text; // as given, for messages
};

// Looks each address up (the first answer of each). False with `error` naming the one
// that cannot be found.
bool resolveAddresses(const QList<CallInAddress> &addresses, QList<SocketAddress> *resolved,
                      QString *error);

// Starts a non-blocking connect to `address` from IPv4 address `source` (host order; 0:
// any): the descriptor, whose connect may still be in progress (it turns writable when
// done), or -1 with `error` set.
int startConnect(const SocketAddress &address, quint32 source, QString *error);

// After the descriptor turned writable: empty when the connect succeeded, else why not.
QString connectOutcome(int fd);

// "A.B.C.D" of an IPv4 address in host order.
QString sourceText(quint32 source);

// Raises the open-file limit so that `needed` descriptors fit, as far as the hard limit
// allows. False with `error` saying what the limit is.
bool allowOpenFiles(int needed, QString *error);

} // namespace ostrand::sim
