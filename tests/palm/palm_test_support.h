#pragma once

#include "palm/palm_conversion.h"
#include "palm/palm_conversion_view.h"
#include "table/grid_state.h"
#include "table/results_grid.h"
#include "tests/download/recording_display.h"
#include "palm_pdb_builder.h"
#include "qt_printers.h"
#include "virtual_event_pump.h"

#include <QBuffer>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace ostrand::testing {

// A Palm file in a temporary folder and everything a conversion touches.
class PalmTest : public ::testing::Test {
protected:
    QString pdbPath() const { return dir.filePath(QStringLiteral("PLOGR2.PDB")); }
    void write(const PalmDatabaseBuilder &pdb) { ASSERT_TRUE(pdb.writeTo(pdbPath())); }
    PalmContext context() { return PalmContext{grid, state, view, display, pump, clock}; }

    QTemporaryDir dir;
    ResultsGrid grid;
    GridState state;
    RecordingView view;
    RecordingDisplay display;
    VirtualClock clock;
    VirtualEventPump pump{clock};
};

// A file whose reads stop short at `split`, as a pipe's do, and fail there
// when `fails`.
struct SplitBuffer : QBuffer {
    SplitBuffer(const QByteArray &bytes, qint64 splitAt, bool failsThere = false)
        : split(splitAt), fails(failsThere)
    {
        setData(bytes);
        open(QIODevice::ReadOnly | QIODevice::Unbuffered);
    }
    qint64 readData(char *out, qint64 max) override
    {
        if (fails && pos() >= split)
            return -1;
        return QBuffer::readData(out, pos() < split ? std::min(max, split - pos()) : max);
    }
    qint64 split;
    bool fails;
};

// 2007-12-`day` at hour:minute.
inline QDateTime at(int day, int hour, int minute)
{
    return QDateTime(QDate(2007, 12, day), QTime(hour, minute));
}

} // namespace ostrand::testing
