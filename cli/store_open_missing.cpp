// Stands in for the database layer until it is part of the build: every store
// is refused with the reason, so export and status say why instead of failing
// to link. Replaced by the store's own openStoreReader.
#include "collect/store_open.h"

namespace ostrand::collect {

std::unique_ptr<StoreReader> openStoreReader(const QString &, const QString &, QString *error)
{
    *error = QStringLiteral("no store support in this build");
    return nullptr;
}

} // namespace ostrand::collect
