#include "access_token.h"

#include "platform/small_file.h"

#include <QFileInfo>
#include <sys/stat.h>

namespace ostrand::web {
namespace {

constexpr qint64 kMaxTokenFileBytes = 4096;
constexpr int kShortestToken = 16;

// The token compared is a digest of the same length either way, so a token of
// another length costs the same work as a near miss and ends no earlier.
QByteArray padded(const QByteArray &secret, int length)
{
    QByteArray out(length, '\0');
    for (int i = 0; i < length; ++i)
        out[i] = i < secret.size() ? secret[i] : '\0';
    return out;
}

} // namespace

AccessToken readAccessToken(const QString &path)
{
    AccessToken result;
    const SmallFile file = readSmallFile(path, kMaxTokenFileBytes);
    if (!file.check.ok()) {
        result.problem = QStringLiteral("--token-file: ") + file.check.problem;
        return result;
    }
    struct stat info {};
    if (::stat(QFile::encodeName(path).constData(), &info) != 0) {
        result.problem = QStringLiteral("--token-file: %1 could not be looked at").arg(path);
        return result;
    }
    if (info.st_mode & S_IROTH) {
        result.problem = QStringLiteral("--token-file: %1 can be read by every user of this machine; "
                                        "let only its owner read it (chmod 600 %1)")
                             .arg(path);
        return result;
    }
    const QByteArray token = file.bytes.trimmed();
    if (token.contains('\n') || token.contains('\r')) {
        result.problem = QStringLiteral("--token-file: %1 holds more than one line; the token is its one line").arg(path);
        return result;
    }
    if (token.size() < kShortestToken) {
        result.problem = QStringLiteral("--token-file: %1 holds a token of %2 characters; use at least %3 "
                                        "(openssl rand -hex 32 makes one)")
                             .arg(path)
                             .arg(token.size())
                             .arg(kShortestToken);
        return result;
    }
    for (const char c : token) {
        if (static_cast<unsigned char>(c) < 0x21 || static_cast<unsigned char>(c) > 0x7e) {
            result.problem = QStringLiteral("--token-file: %1 holds a space or a character a browser cannot send; "
                                            "use printable ASCII only")
                                 .arg(path);
            return result;
        }
    }
    result.token = token;
    return result;
}

bool sameSecret(const QByteArray &expected, const QByteArray &given)
{
    const int length = int(std::max(expected.size(), given.size()));
    const QByteArray a = padded(expected, length);
    const QByteArray b = padded(given, length);
    // volatile: the compiler may not turn the loop into one that stops early.
    volatile unsigned char difference = expected.size() == given.size() ? 0 : 1;
    for (int i = 0; i < length; ++i)
        difference = difference | static_cast<unsigned char>(a[i] ^ b[i]);
    return difference == 0 && !expected.isEmpty();
}

bool carriesToken(const QList<QPair<QByteArray, QByteArray>> &headers, const QByteArray &token)
{
    bool carried = false;
    for (const auto &header : headers) {
        if (header.first.compare("authorization", Qt::CaseInsensitive) != 0)
            continue;
        const QByteArray value = header.second.trimmed();
        const int space = value.indexOf(' ');
        if (space < 0)
            continue;
        const QByteArray scheme = value.left(space);
        const QByteArray credentials = value.mid(space + 1).trimmed();
        QByteArray offered;
        if (scheme.compare("bearer", Qt::CaseInsensitive) == 0) {
            offered = credentials;
        } else if (scheme.compare("basic", Qt::CaseInsensitive) == 0) {
            const auto decoded = QByteArray::fromBase64Encoding(credentials, QByteArray::AbortOnBase64DecodingErrors);
            if (!decoded)
                continue;
            const int colon = decoded.decoded.indexOf(':');
            if (colon < 0)
                continue;
            offered = decoded.decoded.mid(colon + 1);
        } else {
            continue;
        }
        // Every header offered is compared, so how many there are and which
        // one matched does not change the time taken.
        carried = sameSecret(token, offered) || carried;
    }
    return carried;
}

} // namespace ostrand::web
