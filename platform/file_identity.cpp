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

bool sameFile(const QString &a, const QString &b)
{
    const Identity x = identityOf(a);
    const Identity y = identityOf(b);
    if (x.exists != y.exists)
        return false;
    return x.exists ? x.device == y.device && x.inode == y.inode : x.place == y.place;
}

} // namespace ostrand
