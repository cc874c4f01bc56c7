#pragma once

#include "store/store_backend.h"

#include <vector>

namespace ostrand::collect {

// Every back-end this program can keep readings in, in the order a url is offered to them.
const std::vector<const StoreBackend *> &storeBackends();

// The back-end of `kind`.
const StoreBackend &storeBackend(StoreLocation::Kind kind);

} // namespace ostrand::collect
