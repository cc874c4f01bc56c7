#include "store_open.h"

#include "store/store_backends.h"

namespace ostrand::collect {

std::unique_ptr<StoreReader> openStoreReader(const QString &url, const QString &baseDir, QString *error)
{
    const auto location = parseStoreUrl(url, baseDir, error);
    return location ? openStoreReader(*location, error) : nullptr;
}

std::unique_ptr<StoreReader> openStoreReader(const StoreLocation &location, QString *error)
{
    return storeBackend(location.kind).openForReading(location.target, error);
}

} // namespace ostrand::collect
