#pragma once

#include <QObject>
#include <QString>

namespace ostrand {

// Names an object as it is built, so tests and support notes can find it by name.
template <typename T> T *named(T *object, const QString &name)
{
    object->setObjectName(name);
    return object;
}

} // namespace ostrand
