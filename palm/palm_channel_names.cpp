#include "palm_channel_names.h"

#include "table/channel.h"
#include "table/channel_name.h"

namespace ostrand {
namespace {

// "3", "3 and 7", "3, 7 and 9".
QString spokenList(const QStringList &items)
{
    if (items.size() < 2)
        return items.join(QString());
    return items.mid(0, items.size() - 1).join(QStringLiteral(", ")) + QStringLiteral(" and ") +
           items.last();
}

} // namespace

void PalmChannelNames::note(int channel, const PalmLogRecord &record)
{
    std::bitset<256> &seen = seen_[channel - 1];
    if (seen.test(record.modId))
        return;
    seen.set(record.modId);
    const QString name = cleanChannelName(
        QByteArray(reinterpret_cast<const char *>(record.channelName), sizeof record.channelName));
    // A name of filler names nothing, and a channel its meter does not use
    // holds no reading of its own: neither contradicts the column's heading.
    if (!name.isEmpty() && !palmLabelMeansNotUsed(name))
        names_[channel - 1].push_back({record.modId, name});
}

QStringList PalmChannelNames::clashes() const
{
    QStringList lines;
    for (int k = 1; k <= kChannelCount; ++k) {
        QStringList meters;
        QStringList names;
        for (const Naming &naming : names_[k - 1]) {
            meters << QString::number(naming.modId);
            if (!names.contains(naming.name))
                names << naming.name;
        }
        if (names.size() < 2)
            continue;
        lines << QStringLiteral("meters %1 label channel %2 differently (%3): one column holds %4")
                     .arg(spokenList(meters))
                     .arg(k)
                     .arg(names.join(QStringLiteral(", ")), names.size() == 2
                                                                ? QStringLiteral("both")
                                                                : QStringLiteral("all of them"));
    }
    return lines;
}

} // namespace ostrand
