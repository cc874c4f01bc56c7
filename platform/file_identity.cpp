#include "file_identity.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <sys/stat.h>

namespace ostrand {
namespace {

// The kernel's own limit on links followed in one lookup.
constexpr int kMaxLinks = 40;

struct Identity {
    bool exists = false;
    dev_t device = 0;
    ino_t inode = 0;
    QString place; // for a file not there yet: the real folder's path and the name
};

Identity identityOf(QString path)
{
    Identity id;
    for (int links = 0; links <= kMaxLinks; ++links) {
        struct stat st {};
        if (::stat(QFile::encodeName(path).constData(), &st) == 0) {
            id.exists = true;
            id.device = st.st_dev;
            id.inode = st.st_ino;
            return id;
        }
        const QFileInfo info(path);
        // A dangling link is written through: the file it names is the one made.
        if (!info.isSymLink())
            break;
        path = info.symLinkTarget();
    }
    const QFileInfo info(QDir::cleanPath(QFileInfo(path).absoluteFilePath()));
    const QString folder = QFileInfo(info.absolutePath()).canonicalFilePath();
    id.place = QDir(folder.isEmpty() ? info.absolutePath() : folder).filePath(info.fileName());
    return id;
}

} // namespace

QString fileIdentityKey(const QString &path)
{
    const Identity id = identityOf(path);
    return id.exists ? QStringLiteral("inode %1:%2").arg(id.device).arg(id.inode) : QStringLiteral("place ") + id.place;
}

bool sameFile(const QString &a, const QString &b)
{
    return fileIdentityKey(a) == fileIdentityKey(b);
}

} // namespace ostrand
