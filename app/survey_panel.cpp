#include "survey_panel.h"

#include "app/tab_widgets.h"
#include "platform/small_file.h"

#include <QComboBox>
#include <QDateTimeEdit>
#include <QFormLayout>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <QSignalBlocker>
#include <QVBoxLayout>

namespace ostrand {
namespace {

using namespace survey;

enum Role { DepthRole, VelocityRole, FlowRole, TotalRole };
const char *const kRoleCaptions[] = {"Depth", "Velocity", "Flow", "Total"};
const char *const kRoleNames[] = {"Depth", "Velocity", "Flow", "Total"}; // for objectNames
const char *const kChannelKeys[] = {"depth-channel", "velocity-channel", "flow-channel",
                                    "total-channel"};
const char *const kUnitKeys[] = {"depth-unit", "velocity-unit", "flow-unit", "total-unit"};
const char *const kPipeKeys[] = {"pipe-diameter", "pipe-slope", "manning-n"};
const char *const kPipeNames[] = {"PipeDiameter", "PipeSlope", "ManningN"};
const char *const kPipeCaptions[] = {"Diameter", "Slope", "Manning's n"};
const char *const kPipeExamples[] = {"600 mm", "0.002", "0.013"};
const QString kGroup = QStringLiteral("survey/");
const QString kNone = QStringLiteral("none");
// The same bound the link options' file is read under: it is one small file.
constexpr qint64 kMaxSettingsFileBytes = 16 * 1024;
// A file not there yet is made at the first change; anything else but a small regular file is left
// alone.
bool usable(const QString &path)
{
    const FileState state = checkSmallFile(path, kMaxSettingsFileBytes).state;
    return state == FileState::Missing || state == FileState::Regular;
}

const QString kInvalidStyle = QStringLiteral("QLineEdit { background: #F4C7C3; }");

int &roleChannel(ChannelRoles &roles, int role)
{
    switch (role) {
    case DepthRole:
        return roles.depth;
    case VelocityRole:
        return roles.velocity;
    case FlowRole:
        return roles.flow;
    default:
        return roles.total;
    }
}

int roleChannel(const ChannelRoles &roles, int role)
{
    return roleChannel(const_cast<ChannelRoles &>(roles), role);
}

std::optional<double> &pipeField(PipeSetup &pipe, int field)
{
    return field == 0 ? pipe.diameterM : field == 1 ? pipe.slope : pipe.manningN;
}

// Each unit a role's box offers, by name, its enum value as the item's data.
template <typename Unit> void addUnits(QComboBox *box, std::initializer_list<Unit> units)
{
    for (Unit unit : units)
        box->addItem(unitName(unit), static_cast<int>(unit));
}

int unitValue(const SurveySetup &setup, int role)
{
    switch (role) {
    case DepthRole:
        return static_cast<int>(setup.depthUnit);
    case VelocityRole:
        return static_cast<int>(setup.velocityUnit);
    case FlowRole:
        return static_cast<int>(setup.flowUnit);
    default:
        return static_cast<int>(setup.totalUnit);
    }
}

// The unit `name` names for `role`, as the box's data; nullopt when it names none.
std::optional<int> unitNamed(int role, const QString &name)
{
    const auto asInt = [](auto unit) {
        return unit ? std::optional<int>(static_cast<int>(*unit)) : std::nullopt;
    };
    switch (role) {
    case DepthRole:
        return asInt(depthUnitNamed(name));
    case VelocityRole:
        return asInt(velocityUnitNamed(name));
    case FlowRole:
        return asInt(flowUnitNamed(name));
    default:
        return asInt(totalUnitNamed(name));
    }
}

} // namespace

SurveyPanel::SurveyPanel(QWidget *parent) : QWidget(parent)
{
    auto *channels = groupBox(QStringLiteral("SurveyChannels"), QStringLiteral("Channels"));
    auto *channelGrid = new QGridLayout(channels);
    for (int role = 0; role < 4; ++role) {
        auto *box =
            named(new QComboBox, QStringLiteral("%1Channel").arg(QLatin1String(kRoleNames[role])));
        box->setToolTip(
            QStringLiteral(
                "The channel that logs the %1; until one is chosen, the one whose label says so")
                .arg(QString::fromLatin1(kRoleCaptions[role]).toLower()));
        box->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
        box->setMinimumContentsLength(10);
        auto *unit =
            named(new QComboBox, QStringLiteral("%1Unit").arg(QLatin1String(kRoleNames[role])));
        unit->setToolTip(QStringLiteral("What the channel's numbers are in: the log does not say"));
        switch (role) {
        case DepthRole:
            addUnits(unit,
                     {DepthUnit::Millimetre, DepthUnit::Metre, DepthUnit::Inch, DepthUnit::Foot});
            break;
        case VelocityRole:
            addUnits(unit, {VelocityUnit::MetrePerSecond, VelocityUnit::FootPerSecond});
            break;
        case FlowRole:
            addUnits(unit,
                     {FlowUnit::LitrePerSecond, FlowUnit::CubicMetrePerSecond,
                      FlowUnit::CubicMetrePerHour, FlowUnit::Gpm, FlowUnit::Mgd, FlowUnit::Cfs});
            break;
        default:
            addUnits(unit, {TotalUnit::CubicMetre, TotalUnit::Litre, TotalUnit::Gallon,
                            TotalUnit::CubicFoot});
        }
        auto *caption = new QLabel(QLatin1String(kRoleCaptions[role]));
        caption->setBuddy(box);
        channelGrid->addWidget(caption, role, 0);
        channelGrid->addWidget(box, role, 1);
        channelGrid->addWidget(unit, role, 2);
        channelGrid->setColumnStretch(1, 1);
        channelBoxes_[role] = box;
        unitBoxes_[role] = unit;
        // Only the user's own choices count as chosen: the boxes also move when the labels change.
        connect(box, &QComboBox::activated, this, [this, role] { onRoleChosen(role); });
        connect(unit, &QComboBox::activated, this, [this, role] { onUnitChosen(role); });
    }

    auto *pipe = groupBox(QStringLiteral("SurveyPipe"), QStringLiteral("Pipe"));
    auto *pipeForm = new QFormLayout(pipe);
    for (int field = 0; field < 3; ++field) {
        auto *edit = named(new QLineEdit, QLatin1String(kPipeNames[field]));
        edit->setPlaceholderText(
            QStringLiteral("e.g. %1").arg(QLatin1String(kPipeExamples[field])));
        edit->setToolTip(field == 0 ? QStringLiteral("A number and mm, m, in or ft: 600 mm")
                                    : QStringLiteral("Empty: no design curve"));
        pipeForm->addRow(QLatin1String(kPipeCaptions[field]), edit);
        pipeEdits_[field] = edit;
        connect(edit, &QLineEdit::editingFinished, this, [this, field] { onPipeEdited(field); });
    }

    auto *period = groupBox(QStringLiteral("SurveyPeriod"), QStringLiteral("Period"));
    auto *periodForm = new QFormLayout(period);
    fromEdit_ = named(new QDateTimeEdit, QStringLiteral("SurveyFrom"));
    toEdit_ = named(new QDateTimeEdit, QStringLiteral("SurveyTo"));
    for (QDateTimeEdit *edit : {fromEdit_, toEdit_}) {
        edit->setDisplayFormat(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
        edit->setCalendarPopup(true);
        // A date typed part by part is taken once whole, not at each digit.
        edit->setKeyboardTracking(false);
        edit->setEnabled(false);
    }
    connect(fromEdit_, &QDateTimeEdit::dateTimeChanged, this, [this] { onRangeEdited(true); });
    connect(toEdit_, &QDateTimeEdit::dateTimeChanged, this, [this] { onRangeEdited(false); });
    wholeLogButton_ =
        named(new QPushButton(QStringLiteral("&Whole log")), QStringLiteral("SurveyWholeLog"));
    wholeLogButton_->setEnabled(false);
    connect(wholeLogButton_, &QPushButton::clicked, this, [this] {
        setLogSpan(firstUtcMs_, lastUtcMs_);
        emit rangeChanged();
    });
    periodForm->addRow(QStringLiteral("From"), fromEdit_);
    periodForm->addRow(QStringLiteral("To"), toEdit_);
    periodForm->addRow(QString(), wholeLogButton_);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(channels);
    layout->addWidget(pipe);
    layout->addWidget(period);
    layout->addStretch(1);
    showRoles();
}

void SurveyPanel::useSettingsFile(const QString &path)
{
    settingsFile_.clear(); // reading it is no change to write back
    if (!usable(path))
        return;
    const QSettings file(path, QSettings::IniFormat);
    for (const char *key : surveyKeyNames()) {
        const QVariant value = file.value(kGroup + QLatin1String(key));
        if (value.isValid())
            applyKept(QLatin1String(key), value.toString());
    }
    settingsFile_ = path;
    showRoles();
    emit setupChanged();
}

void SurveyPanel::applyKept(const QString &key, const QString &value)
{
    // A value this version cannot read is passed over: the choice is the user's to make again.
    for (int role = 0; role < 4; ++role) {
        if (key == QLatin1String(kChannelKeys[role])) {
            bool ok = false;
            const int channel = value.toInt(&ok);
            if (value.compare(kNone, Qt::CaseInsensitive) == 0)
                chosen_[role] = 0;
            else if (ok && channel >= 1 && channel <= 8)
                chosen_[role] = channel;
        } else if (key == QLatin1String(kUnitKeys[role])) {
            if (const auto unit = unitNamed(role, value)) {
                unitBoxes_[role]->setCurrentIndex(unitBoxes_[role]->findData(*unit));
                unitChosen_[role] = true;
            }
        }
    }
    for (int field = 0; field < 3; ++field) {
        if (key != QLatin1String(kPipeKeys[field]))
            continue;
        SurveySetup taken;
        QString problem;
        if (takeSurveyKey(taken, key, value, &problem) == KeyTaken::Taken) {
            pipeField(pipe_, field) = pipeField(taken.pipe, field);
            pipeEdits_[field]->setText(value);
        }
    }
}

void SurveyPanel::keep(const QString &key, const QString &value)
{
    // Writing reads the file first: a pipe put there since start-up would hold the window.
    if (settingsFile_.isEmpty() || !usable(settingsFile_))
        return;
    QSettings file(settingsFile_, QSettings::IniFormat);
    if (value.isEmpty())
        file.remove(kGroup + key);
    else
        file.setValue(kGroup + key, value);
}

void SurveyPanel::setChannels(const std::array<QString, 8> &labels)
{
    labels_ = labels;
    showRoles();
}

void SurveyPanel::setLogSpan(qint64 firstUtcMs, qint64 lastUtcMs)
{
    firstUtcMs_ = firstUtcMs;
    lastUtcMs_ = lastUtcMs;
    const QDateTime first = QDateTime::fromMSecsSinceEpoch(firstUtcMs);
    const QDateTime last = QDateTime::fromMSecsSinceEpoch(lastUtcMs);
    for (QDateTimeEdit *edit : {fromEdit_, toEdit_}) {
        const QSignalBlocker blocker(edit);
        edit->setDateTimeRange(first, last);
        edit->setEnabled(true);
    }
    {
        const QSignalBlocker blocker(fromEdit_);
        fromEdit_->setDateTime(first);
    }
    const QSignalBlocker blocker(toEdit_);
    toEdit_->setDateTime(last);
    wholeLogButton_->setEnabled(true);
}

void SurveyPanel::clearLogSpan()
{
    firstUtcMs_ = 0;
    lastUtcMs_ = -1;
    for (QDateTimeEdit *edit : {fromEdit_, toEdit_})
        edit->setEnabled(false);
    wholeLogButton_->setEnabled(false);
}

ChannelRoles SurveyPanel::roles() const
{
    ChannelRoles given;
    for (int role = 0; role < 4; ++role)
        roleChannel(given, role) = chosen_[role].value_or(0);
    ChannelRoles roles = rolesFor(labels_, given);
    // "None" is a choice too: the label that fits is then not taken for the role.
    for (int role = 0; role < 4; ++role)
        if (chosen_[role] == 0)
            roleChannel(roles, role) = 0;
    return roles;
}

SurveySetup SurveyPanel::setup() const
{
    SurveySetup setup;
    setup.roles = roles();
    setup.depthUnit = static_cast<DepthUnit>(unitBoxes_[DepthRole]->currentData().toInt());
    setup.velocityUnit = static_cast<VelocityUnit>(unitBoxes_[VelocityRole]->currentData().toInt());
    setup.flowUnit = static_cast<FlowUnit>(unitBoxes_[FlowRole]->currentData().toInt());
    setup.totalUnit = static_cast<TotalUnit>(unitBoxes_[TotalRole]->currentData().toInt());
    setup.depthUnitGiven = unitChosen_[DepthRole];
    setup.velocityUnitGiven = unitChosen_[VelocityRole];
    setup.flowUnitGiven = unitChosen_[FlowRole];
    setup.totalUnitGiven = unitChosen_[TotalRole];
    setup.pipe = pipe_;
    return setup;
}

qint64 SurveyPanel::fromUtcMs() const
{
    return fromEdit_->dateTime().toMSecsSinceEpoch();
}

qint64 SurveyPanel::toUtcMs() const
{
    return toEdit_->dateTime().toMSecsSinceEpoch() + 1;
}

bool SurveyPanel::wholeLog() const
{
    return fromUtcMs() <= firstUtcMs_ && toUtcMs() > lastUtcMs_;
}

void SurveyPanel::showRoles()
{
    const ChannelRoles now = roles();
    for (int role = 0; role < 4; ++role) {
        QComboBox *box = channelBoxes_[role];
        const QSignalBlocker blocker(box);
        box->clear();
        box->addItem(QStringLiteral("None"), 0);
        for (int k = 1; k <= 8; ++k) {
            // A channel chosen before stays listed though this log does not have it.
            if (!labels_[k - 1].isEmpty())
                box->addItem(QStringLiteral("%1: %2").arg(k).arg(labels_[k - 1]), k);
            else if (chosen_[role] == k)
                box->addItem(QStringLiteral("%1: not in this log").arg(k), k);
        }
        box->setCurrentIndex(std::max(0, box->findData(roleChannel(now, role))));
        box->setProperty("chosen", chosen_[role].has_value());
    }
    showUnits();
}

void SurveyPanel::showUnits()
{
    // A unit not chosen shows what the survey will take: the label's, where it names one.
    const SurveySetup shown = withLabelUnits(setup(), roles(), labels_);
    for (int role = 0; role < 4; ++role) {
        if (unitChosen_[role])
            continue;
        const QSignalBlocker blocker(unitBoxes_[role]);
        unitBoxes_[role]->setCurrentIndex(unitBoxes_[role]->findData(unitValue(shown, role)));
    }
}

void SurveyPanel::onRoleChosen(int role)
{
    const int channel = channelBoxes_[role]->currentData().toInt();
    chosen_[role] = channel;
    keep(QLatin1String(kChannelKeys[role]), channel == 0 ? kNone : QString::number(channel));
    // A channel plays one part: another role chosen for it goes back to following the labels.
    for (int other = 0; other < 4; ++other) {
        if (other != role && channel != 0 && chosen_[other] == channel) {
            chosen_[other].reset();
            keep(QLatin1String(kChannelKeys[other]), QString());
        }
    }
    showRoles();
    emit setupChanged();
}

void SurveyPanel::onUnitChosen(int role)
{
    unitChosen_[role] = true;
    keep(QLatin1String(kUnitKeys[role]), unitBoxes_[role]->currentText());
    emit setupChanged();
}

void SurveyPanel::onPipeEdited(int field)
{
    QLineEdit *edit = pipeEdits_[field];
    const QString text = edit->text().trimmed();
    const QString key = QLatin1String(kPipeKeys[field]);
    std::optional<double> value;
    if (!text.isEmpty()) {
        SurveySetup taken;
        QString problem;
        if (takeSurveyKey(taken, key, text, &problem) != KeyTaken::Taken) {
            // As with the slave address: the last good value stays in use until this one is put
            // right.
            edit->setStyleSheet(kInvalidStyle);
            edit->setToolTip(problem);
            edit->setProperty("invalid", true);
            return;
        }
        value = pipeField(taken.pipe, field);
    }
    edit->setStyleSheet(QString());
    edit->setToolTip(field == 0 ? QStringLiteral("A number and mm, m, in or ft: 600 mm")
                                : QStringLiteral("Empty: no design curve"));
    edit->setProperty("invalid", false);
    if (value == pipeField(pipe_, field))
        return;
    pipeField(pipe_, field) = value;
    keep(key, text);
    emit setupChanged();
}

void SurveyPanel::onRangeEdited(bool fromEdited)
{
    // A period the wrong way round is none: the other end follows the one moved.
    if (fromEdit_->dateTime() > toEdit_->dateTime()) {
        QDateTimeEdit *other = fromEdited ? toEdit_ : fromEdit_;
        const QSignalBlocker blocker(other);
        other->setDateTime(fromEdited ? fromEdit_->dateTime() : toEdit_->dateTime());
    }
    emit rangeChanged();
}

} // namespace ostrand
