#pragma once

#include "store/store_records.h"

#include <QDate>
#include <QTime>
#include <vector>

namespace ostrand::collect {

// The readings [begin, end) that share one UTC time.
struct Instant {
    size_t begin = 0;
    size_t end = 0;
};

// The instants of readings ordered by time: a new one wherever the UTC time changes.
std::vector<Instant> readingInstants(const std::vector<StoredReading> &readings);

// Reads a stored local stamp "YYYY-MM-DD HH:MM:SS"; false, leaving the outputs
// alone, for any other text. Done by hand: a year of readings has 35,000 of them.
bool readLocalStamp(const QString &text, QDate *date, QTime *time);

} // namespace ostrand::collect
