#include "store_open.h"

#include "collect/reading_store.h"

#include <QFileInfo>

namespace ostrand::collect {

std::unique_ptr<StoreReader> openStoreReader(const QString &url, const QString &baseDir, QString *error)
{
    const auto location = parseStoreUrl(url, baseDir, error);
    return location ? openStoreReader(*location, error) : nullptr;
}

std::unique_ptr<StoreReader> openStoreReader(const StoreLocation &location, QString *error)
{
    if (location.kind == StoreLocation::Kind::Sqlite && !QFileInfo::exists(location.target)) {
        *error = QStringLiteral("there is no %1: check the path, or run collect with this store first")
                     .arg(storeName(location));
        return nullptr;
    }
    return openReadingStore(location, error);
}

} // namespace ostrand::collect
