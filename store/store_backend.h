#pragma once

#include "store/reading_store.h"
#include "store/store_location.h"

#include <QString>
#include <QStringList>
#include <memory>
#include <optional>

namespace ostrand::collect {

// One kind of database the readings can be kept in: the urls that name it,
// how messages name it and how it is opened. Each back-end's folder defines
// one; store_backends.cpp lists them.
struct StoreBackend {
    StoreLocation::Kind kind;
    // The url shapes it takes, for the message that lists them all.
    const char *urlShapes;
    // Whether `url` is this back-end's to read.
    bool (*recognizes)(const QString &url);
    // The location a recognized url names; nullopt with *problem set when it names none.
    std::optional<StoreLocation> (*locate)(const QString &url, const QString &baseDir, QString *problem);
    // storeName: never a password nor a password file.
    QString (*name)(const QString &target);
    // The files the database is kept in, which nothing else may write; none for a server.
    QStringList (*files)(const QString &target);
    // Connects, and sets up the tables in an empty database.
    std::unique_ptr<ReadingStore> (*open)(const QString &target, QString *error);
    // Connects read-only for the exports, the health report and the status page; a file store
    // refuses to make a file here, and any store a database holding none.
    std::unique_ptr<ReadingStore> (*openForReading)(const QString &target, QString *error);
    // Whether several collectors can share it, each claiming a station before collecting it.
    bool takesClaims;
};

} // namespace ostrand::collect
