// Any bytes as a settings file: the reader must stop or finish, never crash.
#include "app/settings_file.h"

#include <cstddef>
#include <cstdint>

namespace {

// Holds what a window would, with the unit lists' real lengths.
class Target : public ostrand::SettingsTarget {
public:
    void setCommPortNumber(qint16) override {}
    void selectPortOption(int index) override { check(index, 0, 3); }
    void setBaudRateText(const QString &) override {}
    void selectBaudOption(int index) override { check(index, 0, 6); }
    void setSlaveIdText(const QString &) override {}
    void setSlaveIdFromText(const QString &) override {}
    void setDownloadFileName(const QString &) override {}
    void setDownloadFileText(const QString &) override {}
    void setPalmDatabasePath(const QString &) override {}
    void setPalmPathText(const QString &) override {}
    void setPalmCheckState(int state) override { check(state, 0, 2); }
    void setPalmIdListVisible(bool) override {}
    void selectSeparationOption(int index) override { check(index == 1 ? -1 : index, 0, 2); }
    void setUpPhoneListHeadings() override {}
    void setPhoneListCell(int row, int col, const QString &) override
    {
        check(row, 1, 10);
        check(col, 1, 3);
    }
    void selectMeterTypeOption(int index) override { check(index, 0, 2); }
    bool setUnitListPosition(int combo, int position) override
    {
        static const int sizes[] = {0, 15, 7, 4, 2};
        check(combo, 1, 4);
        return position >= -1 && position < sizes[combo];
    }
    void selectFirstPhoneEntry() override {}

private:
    static void check(int value, int low, int high)
    {
        if (value < low || value > high)
            __builtin_trap();
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    Target target;
    const auto outcome = ostrand::applySettings(QByteArray(reinterpret_cast<const char *>(data), int(size)), target);
    if (!outcome.complete && (outcome.stoppedAtLine < 1 || outcome.stoppedAtLine > ostrand::kSettingsLineCount))
        __builtin_trap();
    return 0;
}
