#include "reading_instants.h"

namespace ostrand::collect {
namespace {

// The number in text[at, at + digits), -1 when a character there is not a digit.
int digitsAt(const QString &text, int at, int digits)
{
    int value = 0;
    for (int i = at; i < at + digits; ++i) {
        const char16_t c = text[i].unicode();
        if (c < u'0' || c > u'9')
            return -1;
        value = value * 10 + (c - u'0');
    }
    return value;
}

} // namespace

std::vector<Instant> readingInstants(const std::vector<StoredReading> &readings)
{
    std::vector<Instant> instants;
    for (size_t i = 0; i < readings.size(); ++i) {
        if (instants.empty() || readings[i].timeUtc != readings[instants.back().begin].timeUtc)
            instants.push_back({i, i});
        instants.back().end = i + 1;
    }
    return instants;
}

bool readLocalStamp(const QString &text, QDate *date, QTime *time)
{
    if (text.size() != 19 || text[4] != u'-' || text[7] != u'-' || text[10] != u' ' || text[13] != u':'
        || text[16] != u':')
        return false;
    const QDate d(digitsAt(text, 0, 4), digitsAt(text, 5, 2), digitsAt(text, 8, 2));
    const QTime t(digitsAt(text, 11, 2), digitsAt(text, 14, 2), digitsAt(text, 17, 2));
    if (!d.isValid() || !t.isValid())
        return false;
    *date = d;
    *time = t;
    return true;
}

} // namespace ostrand::collect
