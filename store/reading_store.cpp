#include "reading_store.h"

#include "store/store_backends.h"

namespace ostrand::collect {

std::unique_ptr<ReadingStore> openReadingStore(const StoreLocation &location, QString *error)
{
    return storeBackend(location.kind).open(location.target, error);
}

} // namespace ostrand::collect
