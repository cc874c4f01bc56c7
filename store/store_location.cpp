#include "store_location.h"

#include "store/store_backends.h"

namespace ostrand::collect {

std::optional<StoreLocation> parseStoreUrl(const QString &url, const QString &baseDir, QString *problem)
{
    const QString text = url.trimmed();
    QStringList shapes;
    for (const StoreBackend *backend : storeBackends()) {
        if (backend->recognizes(text))
            return backend->locate(text, baseDir, problem);
        shapes << QLatin1String(backend->urlShapes);
    }
    *problem = QStringLiteral("takes %1").arg(shapes.join(QStringLiteral(", ")));
    return std::nullopt;
}

QString storeName(const StoreLocation &location)
{
    return storeBackend(location.kind).name(location.target);
}

QStringList storeFiles(const StoreLocation &location)
{
    return storeBackend(location.kind).files(location.target);
}

bool storeTakesClaims(const StoreLocation &location)
{
    return storeBackend(location.kind).takesClaims;
}

} // namespace ostrand::collect
