#pragma once

#include "survey/survey_setup.h"

#include <QWidget>
#include <array>
#include <optional>

class QComboBox;
class QDateTimeEdit;
class QLineEdit;
class QPushButton;

namespace ostrand {

// What the View tab's survey views need to know that the log does not say:
// the channel playing each role with its unit, the pipe, and the period
// looked at. The choices are kept in the [survey] group of the link options'
// file, in the stations file's own words ("depth-channel=2", "pipe-diameter=600 mm").
class SurveyPanel : public QWidget {
    Q_OBJECT
public:
    explicit SurveyPanel(QWidget *parent = nullptr);

    // Takes the choices kept in `path` and keeps each later change there. A
    // file that is not a small regular file is neither read nor written.
    void useSettingsFile(const QString &path);

    // The channels of the log shown (channel k's label at [k-1], empty when
    // not in use): the role boxes list them; a role not chosen follows the labels.
    void setChannels(const std::array<QString, 8> &labels);
    // The log's first and last instants: the period is bounded by them and
    // shows the whole log again. An empty log leaves the period boxes off.
    void setLogSpan(qint64 firstUtcMs, qint64 lastUtcMs);
    void clearLogSpan();

    // The roles as the survey takes them: each chosen one, the others from
    // the labels; a role chosen "None" plays no part even where a label fits.
    survey::ChannelRoles roles() const;
    // The roles, the units (a unit not chosen marked so, for the labels to give)
    // and the pipe.
    survey::SurveySetup setup() const;

    // The period chosen, [fromUtcMs, toUtcMs): the last instant shown is in it.
    qint64 fromUtcMs() const;
    qint64 toUtcMs() const;
    // Whether the period is the whole log (days are then taken whole).
    bool wholeLog() const;

signals:
    // A role, unit or pipe value changed.
    void setupChanged();
    void rangeChanged();

private:
    void onRoleChosen(int role);
    void onUnitChosen(int role);
    void onPipeEdited(int field);
    void onRangeEdited(bool fromEdited);
    // The role and unit boxes as the choices and labels have them now.
    void showRoles();
    void showUnits();
    void applyKept(const QString &key, const QString &value);
    // Writes one choice (an empty value removes it) when the file is usable.
    void keep(const QString &key, const QString &value);

    std::array<QString, 8> labels_;
    // Per role (depth, velocity, flow, total): unset follows the labels, 0 is "None".
    std::array<std::optional<int>, 4> chosen_{};
    std::array<bool, 4> unitChosen_{};
    survey::PipeSetup pipe_;
    std::array<QComboBox *, 4> channelBoxes_{};
    std::array<QComboBox *, 4> unitBoxes_{};
    std::array<QLineEdit *, 3> pipeEdits_{};
    QDateTimeEdit *fromEdit_ = nullptr;
    QDateTimeEdit *toEdit_ = nullptr;
    QPushButton *wholeLogButton_ = nullptr;
    qint64 firstUtcMs_ = 0;
    qint64 lastUtcMs_ = -1;
    QString settingsFile_;
};

} // namespace ostrand
