#include "call_in_line_file.h"

#include "cumulative/output_guard.h"
#include "platform/small_file.h"
#include "store/time_text.h"

#include <QJsonDocument>
#include <QJsonObject>

namespace ostrand::collect {

QString callInLineFilePath(const QString &output)
{
    return output + QStringLiteral(".line");
}

QByteArray callInLineText(const CallInState &state)
{
    const QJsonObject object{
        {QStringLiteral("connected"), state.connected},
        {QStringLiteral("peer"), state.peer},
        {QStringLiteral("since"), utcText(state.sinceUtc)},
        {QStringLiteral("heard"), utcText(state.heardUtc)},
        {QStringLiteral("recorded"), utcText(state.recordedUtc)},
    };
    return QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n';
}

std::optional<CallInState> callInLineFromText(const QByteArray &text, const QString &station)
{
    const QJsonObject object = QJsonDocument::fromJson(text).object();
    const QJsonValue connected = object.value(QStringLiteral("connected"));
    CallInState state{station,
                      connected.toBool(),
                      object.value(QStringLiteral("peer")).toString(),
                      utcFromText(object.value(QStringLiteral("since")).toString()),
                      utcFromText(object.value(QStringLiteral("heard")).toString()),
                      utcFromText(object.value(QStringLiteral("recorded")).toString())};
    if (!connected.isBool() || !state.sinceUtc.isValid() || !state.heardUtc.isValid() || !state.recordedUtc.isValid())
        return std::nullopt;
    return state;
}

bool recordCallInLine(const QString &output, const CallInState &state, QString *error)
{
    return saveCumulativeFile(callInLineFilePath(output), callInLineText(state), error);
}

CallInLineRead readCallInLine(const QString &output, const QString &station)
{
    CallInLineRead read;
    const QString path = callInLineFilePath(output);
    // Bounded and never through a link: status may run as root over files anyone could have put there.
    const SmallFile file = readSmallFile(path, kCallInLineReadBytes, Links::Refuse);
    if (file.check.state == FileState::Missing)
        return read;
    if (!file.check.ok()) {
        read.error = file.check.problem;
        return read;
    }
    read.state = callInLineFromText(file.bytes, station);
    if (!read.state)
        read.error = QStringLiteral("%1 is not a call-in line as collect --listen writes it").arg(path);
    return read;
}

} // namespace ostrand::collect
