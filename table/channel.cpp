#include "channel.h"

#include <algorithm>

namespace ostrand {
namespace {

const QLatin1String kNotUsed("Not Used");

// The rule every source shares once its own "Not Used" test is done.
bool takeLabel(Channel &channel, const QString &text, bool notUsed)
{
    if (notUsed) {
        channel.inUse = false;
        return false;
    }
    if (text.isEmpty())
        return false;
    channel.inUse = true;
    channel.total = text.contains(QLatin1String("Tot"));
    channel.label = text;
    return true;
}

} // namespace

QString Channel::unit() const
{
    const QString text = label.trimmed();
    if (text.endsWith(QLatin1Char(')')) && text.contains(QLatin1Char('('))) {
        const qsizetype open = text.lastIndexOf(QLatin1Char('('));
        return text.mid(open + 1, text.size() - open - 2).trimmed();
    }
    const qsizetype space = text.lastIndexOf(QLatin1Char(' '));
    const QString last = space > 0 ? text.mid(space + 1) : QString();
    const bool word = !last.isEmpty() && last.size() <= 5 &&
                      std::any_of(last.begin(), last.end(), [](QChar c) { return c.isLetter(); });
    return word ? last : QString();
}

bool Channel::takeMeterLabel(const QString &text)
{
    return takeLabel(*this, text, meterLabelMeansNotUsed(text));
}

bool Channel::takePalmLabel(const QString &text)
{
    return takeLabel(*this, text, palmLabelMeansNotUsed(text));
}

bool meterLabelMeansNotUsed(const QString &text)
{
    return text == kNotUsed;
}

bool palmLabelMeansNotUsed(const QString &text)
{
    return text.startsWith(kNotUsed);
}

void clearChannelLabels(Channels &channels)
{
    for (Channel &channel : channels)
        channel.label.clear();
}

} // namespace ostrand
