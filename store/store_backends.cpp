#include "store_backends.h"

#include "store/postgres/postgres_store.h"
#include "store/sqlite/sqlite_store.h"

namespace ostrand::collect {

const std::vector<const StoreBackend *> &storeBackends()
{
    // A url is offered to each in turn: PostgreSQL's key=value form matches
    // more than its own, so it comes last.
    static const std::vector<const StoreBackend *> backends{
        &kSqliteBackend,
        &kPostgresBackend,
    };
    return backends;
}

const StoreBackend &storeBackend(StoreLocation::Kind kind)
{
    for (const StoreBackend *backend : storeBackends()) {
        if (backend->kind == kind)
            return *backend;
    }
    Q_UNREACHABLE();
}

} // namespace ostrand::collect
