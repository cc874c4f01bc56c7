#include "dwnload1.h"

#include "app/phone_list.h"
#include "display/display_poller.h"
#include "display/display_timers.h"
#include "display/display_view.h"
#include "display/keypad.h"
#include "display/meter_type.h"
#include "download/download_display.h"
#include "palm/palm_conversion_view.h"
#include "palm/palm_import.h"
#include "chart/log_chart_view.h"
#include "monitor/monitor_view.h"
#include "monitor/port_panel.h"
#include "download/download_engine.h"
#include "download/download_outcome.h"
#include "download/results_grid.h"
#include "platform/com_port_names.h"
#include "platform/file_dialogs.h"
#include "platform/text_value.h"

#include <QAction>
#include <QButtonGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QFileInfo>
#include <QFontDatabase>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QStackedWidget>
#include <QStyledItemDelegate>
#include <QTableView>
#include <QStatusBar>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>

namespace ostrand {
namespace {

constexpr int kSettingsTab = 2;
constexpr int kDisplayTab = 3;
constexpr int kTwipsPerPixel = 15;

const char *const kBaudCaptions[] = {"1200", "2400", "4800", "9600", "14400", "19200", "38400"};

const QString kSlaveIdNormalStyle = QStringLiteral("QLineEdit { background: #E0E0E0; }");
const QString kSlaveIdInvalidStyle = QStringLiteral("QLineEdit { background: #F4C7C3; }");

// A control array element is named as the old forms named it: "Text3(8)".
QString elementName(const char *array, int index)
{
    return QStringLiteral("%1(%2)").arg(QLatin1String(array)).arg(index);
}

template <typename W>
W *named(W *widget, const QString &name)
{
    widget->setObjectName(name);
    return widget;
}

QGroupBox *groupBox(const QString &name, const QString &caption)
{
    return named(new QGroupBox(caption), name);
}

// The unit lists are editable, and show their initial text until one entry is chosen.
QComboBox *unitCombo(const QString &name, const QStringList &items, const QString &initialText)
{
    auto *combo = named(new QComboBox, name);
    combo->setEditable(true);
    combo->setInsertPolicy(QComboBox::NoInsert);
    combo->addItems(items);
    combo->setCurrentIndex(-1);
    combo->setEditText(initialText);
    return combo;
}

// A tick box the user can only tick or untick; the greyed state is set by the
// program alone (from the settings file), as operators know it.
class TwoStateByHandCheckBox : public QCheckBox {
public:
    using QCheckBox::QCheckBox;

protected:
    void nextCheckState() override
    {
        setCheckState(checkState() == Qt::Checked ? Qt::Unchecked : Qt::Checked);
    }
};

} // namespace

DwnLoad1::DwnLoad1(const QString &programDir, Platform platform, QWidget *parent)
    : QMainWindow(parent), platform_(platform), settings_(programDir), programDir_(programDir),
      serial_(platform.port, platform.clock, platform.pump, shared_), link_(serial_),
      dialer_(link_, platform.pump,
              DialerView{[this] { return Label6->text(); }, [this](const QString &t) { Label6->setText(t); },
                         [this] { Command5->setVisible(true); }})
{
    setObjectName(QStringLiteral("DwnLoad1"));
    setWindowTitle(QStringLiteral("Ostrand Download Revision 1.17"));
    exitHandler_ = [] { QCoreApplication::exit(0); };

    results_ = new ResultsGrid(ResultsGrid::kDefaultRows, ResultsGrid::kDefaultCols, this);
    phoneList_ = new PhoneList(this);

    buildMenu();
    SSTab1 = named(new QTabWidget, QStringLiteral("SSTab1"));
    SSTab1->addTab(buildDownloadTab(), QStringLiteral("Download"));
    SSTab1->addTab(buildViewTab(), QStringLiteral("View"));
    SSTab1->addTab(buildSettingsTab(), QStringLiteral("Settings"));
    SSTab1->addTab(buildDisplayTab(), QStringLiteral("Display Meter"));
    SSTab1->addTab(buildDialerTab(), QStringLiteral("Dialer"));
    SSTab1->addTab(buildPalmTab(), QStringLiteral("Palm DataBase"));
    // After the six tabs the operators know: every frame on the line, for a support request.
    monitorView_ = named(new MonitorView(link_, platform_.clock, platform_.dialogs), QStringLiteral("Monitor"));
    SSTab1->addTab(monitorView_, QStringLiteral("Monitor"));
    SSTab1->setCurrentIndex(kDisplayTab);
    currentTab_ = kDisplayTab;
    displayView_ = std::make_unique<DisplayTabView>(*this);
    poller_ = std::make_unique<DisplayPoller>(link_, shared_, *displayView_);
    palm_ = std::make_unique<PalmImport>(*results_, gridState_, platform.pump, platform.clock);
    palmControls_ = std::make_unique<PalmControls>(*this);
    connect(SSTab1, &QTabWidget::currentChanged, this, [this](int index) {
        const int left = currentTab_;
        currentTab_ = index;
        SSTab1_Click(left);
        if (index == kSettingsTab)
            describePortDevices();
    });
    setCentralWidget(SSTab1);

    // 10950 by 8070 twips, the size operators are used to.
    resize(10950 / kTwipsPerPixel, 8070 / kTwipsPerPixel);
}

DwnLoad1::~DwnLoad1()
{
    // The monitor watches the link, which goes before the child widgets do.
    delete monitorView_;
}

void DwnLoad1::buildMenu()
{
    File_mnu = named(new QAction(QStringLiteral("E&xit"), this), QStringLiteral("File_mnu"));
    menuBar()->addAction(File_mnu);
    connect(File_mnu, &QAction::triggered, this, &DwnLoad1::File_mnu_Click);
}

QWidget *DwnLoad1::buildDownloadTab()
{
    auto *tab = new QWidget;

    Frame7 = groupBox(QStringLiteral("Frame7"), QStringLiteral("Start Download"));
    Check2 = named(new QCheckBox(QStringLiteral("R1900 Portable")), QStringLiteral("Check2"));
    Command7 = named(new QPushButton(QStringLiteral("Since Last Time")), QStringLiteral("Command7"));
    Command2 = named(new QPushButton(QStringLiteral("Download Data")), QStringLiteral("Command2"));
    Check1 = named(new TwoStateByHandCheckBox(QStringLiteral("Use Palm DataBase")),
                   QStringLiteral("Check1"));
    Command6 = named(new QPushButton(QStringLiteral("Get ID List...")), QStringLiteral("Command6"));
    SortList = named(new QComboBox, QStringLiteral("SortList"));
    SortList->setEditable(true);
    SortList->setInsertPolicy(QComboBox::NoInsert);
    Label9 = named(new QLabel(QStringLiteral("Files separated by ModID")), QStringLiteral("Label9"));
    ProgressBar1 = named(new QProgressBar, QStringLiteral("ProgressBar1"));
    ProgressBar1->setRange(0, 100);
    ProgressBar1->setValue(0);
    Label4 = named(new QLabel, QStringLiteral("Label4"));
    Label4->setMinimumWidth(200);
    // Palm mode is off at start: its controls appear when "Use Palm DataBase" is ticked.
    Command6->setVisible(false);
    SortList->setVisible(false);
    Label9->setVisible(false);

    auto *start = new QGridLayout(Frame7);
    start->addWidget(Check2, 0, 0);
    start->addWidget(Command7, 0, 1);
    start->addWidget(Command2, 1, 1);
    start->addWidget(Check1, 1, 0);
    start->addWidget(Command6, 2, 0);
    start->addWidget(SortList, 2, 1);
    start->addWidget(Label9, 3, 0, 1, 2);
    start->addWidget(ProgressBar1, 4, 0, 1, 2);
    start->addWidget(Label4, 5, 0, 1, 2);
    connect(Check1, &QCheckBox::stateChanged, this, [this] { Check1_Click(); });
    connect(Check2, &QCheckBox::clicked, this, &DwnLoad1::Check2_Click);
    connect(Command2, &QPushButton::clicked, this, &DwnLoad1::Command2_Click);
    connect(Command6, &QPushButton::clicked, this, &DwnLoad1::Command6_Click);
    connect(Command7, &QPushButton::clicked, this, &DwnLoad1::Command7_Click);

    Frame6 = groupBox(QStringLiteral("Frame6"), QStringLiteral("DownLoad Filename"));
    Label2 = named(new QLabel(QStringLiteral("Store Records into File")), QStringLiteral("Label2"));
    Text2 = named(new QLineEdit(QStringLiteral("Logdata.csv")), QStringLiteral("Text2"));
    Command3 = named(new QPushButton(QStringLiteral("Change Filename")), QStringLiteral("Command3"));
    auto *file = new QGridLayout(Frame6);
    file->addWidget(Label2, 0, 0);
    file->addWidget(Text2, 1, 0);
    file->addWidget(Command3, 1, 1);
    connect(Text2, &QLineEdit::textChanged, this, [this] { Text2_Change(); });
    connect(Command3, &QPushButton::clicked, this, &DwnLoad1::Command3_Click);

    auto addCountRow = [this](QGridLayout *grid, int index, const QString &caption, int row) {
        Label3[index] = named(new QLabel(caption), elementName("Label3", index));
        Text3[index] = named(new QLineEdit, elementName("Text3", index));
        Text3[index]->setReadOnly(true);
        Label3[index]->setBuddy(Text3[index]);
        grid->addWidget(Label3[index], row, 0);
        grid->addWidget(Text3[index], row, 1);
    };
    Frame5 = groupBox(QStringLiteral("Frame5"), QStringLiteral("Status"));
    auto *status = new QGridLayout(Frame5);
    addCountRow(status, 8, QStringLiteral("Records available"), 0);
    addCountRow(status, 9, QStringLiteral("Records used"), 1);

    Frame4 = groupBox(QStringLiteral("Frame4"), QStringLiteral("Channels"));
    auto *channels = new QGridLayout(Frame4);
    for (int i = 0; i < 8; ++i)
        addCountRow(channels, i, QStringLiteral("Channel #%1").arg(i + 1), i);

    channels->setRowStretch(8, 1);
    auto *left = new QVBoxLayout;
    left->addWidget(Frame7);
    left->addWidget(Frame6);
    left->addStretch(1);
    auto *right = new QVBoxLayout;
    right->addWidget(Frame5);
    right->addWidget(Frame4);
    right->addStretch(1);
    auto *layout = new QHBoxLayout(tab);
    layout->addLayout(left, 1);
    layout->addLayout(right, 1);
    return tab;
}

namespace {

// Row 1 of the results holds the headings; they stand out as headings should.
class HeadingRowDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

protected:
    void initStyleOption(QStyleOptionViewItem *option, const QModelIndex &index) const override
    {
        QStyledItemDelegate::initStyleOption(option, index);
        if (index.row() == 0)
            option->font.setBold(true);
    }
};

} // namespace

void DwnLoad1::applyResultColumnWidths()
{
    // The widths were chosen for an 8-point font; a stamp must still fit whole.
    const QFontMetrics metrics = MSHFlexGrid1->fontMetrics();
    const int stampWidth = metrics.horizontalAdvance(QStringLiteral("12/31/2026 12:00:00 PM")) + 12;
    MSHFlexGrid1->verticalHeader()->setMinimumWidth(ResultsGrid::twipsToPixels(results_->colWidthTwips(0)));
    for (int col = 1; col < results_->cols(); ++col) {
        int width = ResultsGrid::twipsToPixels(results_->colWidthTwips(col));
        if (col == 1)
            width = std::max(width, stampWidth);
        MSHFlexGrid1->setColumnWidth(col - 1, width);
    }
}

QWidget *DwnLoad1::buildViewTab()
{
    auto *tab = new QWidget;
    MSHFlexGrid1 = named(new QTableView, QStringLiteral("MSHFlexGrid1"));
    MSHFlexGrid1->setModel(results_);
    // A view of 65,535 rows must not measure each row: fixed heights keep it instant.
    MSHFlexGrid1->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    MSHFlexGrid1->verticalHeader()->setDefaultSectionSize(
        MSHFlexGrid1->fontMetrics().height() + 6);
    MSHFlexGrid1->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    MSHFlexGrid1->setItemDelegate(new HeadingRowDelegate(MSHFlexGrid1));
    applyResultColumnWidths();
    connect(results_, &QAbstractItemModel::headerDataChanged, this,
            [this](Qt::Orientation orientation) {
                if (orientation == Qt::Horizontal)
                    applyResultColumnWidths();
            });
    // The grid stays as it is; a chart of the same rows sits beside it, one at a time.
    chartView_ = named(new LogChartView(*results_, gridState_, platform_.dialogs), QStringLiteral("LogChart"));
    auto *pages = new QStackedWidget;
    pages->addWidget(MSHFlexGrid1);
    pages->addWidget(chartView_);
    auto *showChart = named(new QPushButton(QStringLiteral("Show Chart")), QStringLiteral("ShowChartButton"));
    showChart->setCheckable(true);
    connect(showChart, &QPushButton::toggled, this, [this, pages, showChart](bool chart) {
        if (chart)
            chartView_->refresh();
        pages->setCurrentIndex(chart ? 1 : 0);
        showChart->setText(chart ? QStringLiteral("Show Grid") : QStringLiteral("Show Chart"));
    });
    auto *bar = new QHBoxLayout;
    bar->addStretch(1);
    bar->addWidget(showChart);
    auto *layout = new QVBoxLayout(tab);
    layout->addLayout(bar);
    layout->addWidget(pages, 1);
    return tab;
}

QWidget *DwnLoad1::buildSettingsTab()
{
    auto *tab = new QWidget;
    Label1 = named(new QLabel(QStringLiteral("Slave ID")), QStringLiteral("Label1"));
    Text1 = named(new QLineEdit(QStringLiteral("001")), QStringLiteral("Text1"));
    Text1->setStyleSheet(kSlaveIdNormalStyle);
    Text1->setMaximumWidth(120);
    Label1->setBuddy(Text1);
    connect(Text1, &QLineEdit::textChanged, this, [this] { Text1_Change(); });

    Frame1 = groupBox(QStringLiteral("Frame1"), QStringLiteral("Baud Rate"));
    option1Group_ = new QButtonGroup(this);
    auto *baud = new QVBoxLayout(Frame1);
    for (int i = 0; i < 7; ++i) {
        Option1[i] = named(new QRadioButton(QLatin1String(kBaudCaptions[i])), elementName("Option1", i));
        option1Group_->addButton(Option1[i], i);
        baud->addWidget(Option1[i]);
    }
    Option1[6]->setChecked(true);
    connect(option1Group_, &QButtonGroup::idClicked, this, &DwnLoad1::Option1_Click);

    Frame2 = groupBox(QStringLiteral("Frame2"), QStringLiteral("Communication Port"));
    option2Group_ = new QButtonGroup(this);
    auto *ports = new QVBoxLayout(Frame2);
    for (int i = 0; i < 4; ++i) {
        Option2[i] = named(new QRadioButton(QStringLiteral("Comm%1").arg(i + 1)), elementName("Option2", i));
        option2Group_->addButton(Option2[i], i);
        ports->addWidget(Option2[i]);
    }
    Option2[0]->setChecked(true);
    ports->addStretch(1);
    describePortDevices();
    connect(option2Group_, &QButtonGroup::idClicked, this, &DwnLoad1::Option2_Click);

    Frame3 = groupBox(QStringLiteral("Frame3"), QStringLiteral("Flow Control"));
    option3Group_ = new QButtonGroup(this);
    auto *flow = new QVBoxLayout(Frame3);
    const QString flowCaptions[] = {QStringLiteral("None"), QStringLiteral("Hardware (Cts/Rts)")};
    for (int i = 0; i < 2; ++i) {
        Option3[i] = named(new QRadioButton(flowCaptions[i]), elementName("Option3", i));
        option3Group_->addButton(Option3[i], i);
        flow->addWidget(Option3[i]);
    }
    Option3[1]->setChecked(true);
    flow->addStretch(1);

    auto *slave = new QHBoxLayout;
    slave->addWidget(Label1);
    slave->addWidget(Text1);
    slave->addStretch(1);
    auto *groups = new QHBoxLayout;
    groups->addWidget(Frame1);
    groups->addWidget(Frame2);
    groups->addWidget(Frame3);
    // Which device each Comm option opens, the adapters present, and COMn pointed at one.
    auto *portPanel = named(new PortPanel(programDir_), QStringLiteral("PortPanel"));
    connect(portPanel, &PortPanel::comLinkChanged, this, [this](int) {
        describePortDevices();
        // The next exchange opens the device the link now names.
        if (!link_.isBusy())
            link_.serial().ClosePort();
    });
    auto *layout = new QVBoxLayout(tab);
    layout->addLayout(slave);
    layout->addLayout(groups);
    layout->addWidget(portPanel, 1);
    return tab;
}

QWidget *DwnLoad1::buildDisplayTab()
{
    auto *tab = new QWidget;

    Frame10 = groupBox(QStringLiteral("Frame10"), QStringLiteral("Meter Type"));
    option5Group_ = new QButtonGroup(this);
    auto *types = new QVBoxLayout(Frame10);
    const QString typeCaptions[] = {QStringLiteral("7700 Series"), QStringLiteral("8100 "),
                                    QStringLiteral("8300 "), QStringLiteral("R1900 Portable")};
    for (int i = 0; i < 4; ++i) {
        Option5[i] = named(new QRadioButton(typeCaptions[i]), elementName("Option5", i));
        option5Group_->addButton(Option5[i], i);
        types->addWidget(Option5[i]);
    }
    Option5[0]->setChecked(true);
    connect(option5Group_, &QButtonGroup::idClicked, this, &DwnLoad1::Option5_Click);
    Command9 = named(new QPushButton(QStringLiteral("Begin")), QStringLiteral("Command9"));
    types->addWidget(Command9);
    types->addStretch(1);

    // The meter's four-line panel: fixed pitch, so columns line up as on the meter.
    Frame8 = groupBox(elementName("Frame8", 0), QString());
    auto *panel = new QVBoxLayout(Frame8);
    QFont fixed = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    fixed.setPointSizeF(fixed.pointSizeF() * 1.25);
    for (int i = 0; i < 5; ++i) {
        Text4[i] = named(new QLineEdit, elementName("Text4", i));
        Text4[i]->setFont(fixed);
        Text4[i]->setReadOnly(true);
        Text4[i]->setMinimumWidth(QFontMetrics(fixed).horizontalAdvance(QLatin1Char('M')) * 22);
    }
    // Dark glass and green segments, as on the meter's own panel.
    Frame8->setStyleSheet(QStringLiteral(
        "QGroupBox { background: #0f1b12; border: 3px solid #4a4f55; border-radius: 8px; margin-top: 0px; }"
        "QLineEdit { background: #0f1b12; color: #a6f08e; border: none; padding: 1px 6px; }"));
    panel->setSpacing(0);
    panel->setContentsMargins(10, 10, 10, 10);
    for (int i = 0; i < 4; ++i)
        panel->addWidget(Text4[i]);
    Label10 = named(new QLabel(QStringLiteral("Alarms")), QStringLiteral("Label10"));
    Label10->setVisible(false);
    Text4[4]->setVisible(false);
    auto *alarms = new QHBoxLayout;
    alarms->addWidget(Label10);
    alarms->addWidget(Text4[4], 1);

    Frame11 = groupBox(QStringLiteral("Frame11"), QString());
    auto *keypad = new QGridLayout(Frame11);
    const char *const keyCaptions[16] = {"1", "2", "3", "Help / .", "4", "5", "6", "Up/Next",
                                         "7", "8", "9", "Down",     "Menu", "0", "Enter", "2nd"};
    for (int i = 0; i < 16; ++i) {
        Command1[i] = named(new QPushButton(QLatin1String(keyCaptions[i])), elementName("Command1", i));
        Command1[i]->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred);
        keypad->addWidget(Command1[i], i / 4, i % 4);
    }

    Frame12 = groupBox(QStringLiteral("Frame12"), QStringLiteral("Flow Units"));
    Frame13 = groupBox(QStringLiteral("Frame13"), QStringLiteral("Total Units"));
    Frame14 = groupBox(QStringLiteral("Frame14"), QStringLiteral("Flow Format"));
    Frame15 = groupBox(QStringLiteral("Frame15"), QStringLiteral("Velocity Units"));
    Combo1 = unitCombo(QStringLiteral("Combo1"),
                       {"GPM", "GPD", "MGD", "CFS", "CFM", "CFD", "LPS", "LPM", "LPD", "MLD", "M3S",
                        "M3H", "M3D", "IGM", "BPH"},
                       QStringLiteral("CFS"));
    Combo2 = unitCombo(QStringLiteral("Combo2"), {"GAL", "MET3", "LTRS", "IGAL", "BARR", "CUFT", "ACFT"},
                       QStringLiteral("CUFT"));
    Combo3 = unitCombo(QStringLiteral("Combo3"), {"#.", "#.#", "#.##", "#.###"}, QStringLiteral("#.##"));
    Combo4 = unitCombo(QStringLiteral("Combo4"), {"FPS", "MPS"}, QStringLiteral("FPS"));
    const std::pair<QGroupBox *, QComboBox *> unitFrames[] = {
        {Frame12, Combo1}, {Frame13, Combo2}, {Frame14, Combo3}, {Frame15, Combo4}};
    // Beside the values they qualify: flow, total, format, velocity.
    auto *units = new QVBoxLayout;
    for (const auto &[frame, combo] : unitFrames) {
        auto *box = new QVBoxLayout(frame);
        box->setContentsMargins(6, 2, 6, 2);
        box->addWidget(combo);
        frame->setVisible(false);
        units->addWidget(frame);
    }
    units->addStretch(1);

    Timer1 = named(new QTimer(this), QStringLiteral("Timer1"));
    Timer1->setInterval(750);
    Timer2 = named(new QTimer(this), QStringLiteral("Timer2"));
    Timer2->setInterval(1000);
    Timer3 = named(new QTimer(this), QStringLiteral("Timer3"));
    Timer3->setInterval(1000);
    connect(Timer1, &QTimer::timeout, this, &DwnLoad1::Timer1_Timer);
    connect(Timer2, &QTimer::timeout, this, &DwnLoad1::Timer2_Timer);
    connect(Timer3, &QTimer::timeout, this, &DwnLoad1::Timer3_Timer);
    connect(Command9, &QPushButton::clicked, this, &DwnLoad1::Command9_Click);
    for (int i = 0; i < 16; ++i)
        connect(Command1[i], &QPushButton::clicked, this, [this, i] { Command1_Click(i); });

    auto *middle = new QVBoxLayout;
    middle->addWidget(Frame8);
    middle->addLayout(alarms);
    middle->addStretch(1);
    auto *top = new QHBoxLayout;
    top->addWidget(Frame10);
    top->addLayout(middle, 1);
    top->addLayout(units);
    top->addWidget(Frame11);
    auto *layout = new QVBoxLayout(tab);
    layout->addLayout(top);
    layout->addStretch(1);
    return tab;
}

QWidget *DwnLoad1::buildDialerTab()
{
    auto *tab = new QWidget;
    Label7 = named(new QLabel(QStringLiteral("List of Numbers")), QStringLiteral("Label7"));
    MSHFlexGrid2 = named(new QTableView, QStringLiteral("MSHFlexGrid2"));
    MSHFlexGrid2->setModel(phoneList_);
    MSHFlexGrid2->setSelectionMode(QAbstractItemView::SingleSelection);
    MSHFlexGrid2->setSelectionBehavior(QAbstractItemView::SelectItems);
    MSHFlexGrid2->setEditTriggers(QAbstractItemView::NoEditTriggers);
    MSHFlexGrid2->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    MSHFlexGrid2->horizontalHeader()->setStretchLastSection(true);
    Label7->setBuddy(MSHFlexGrid2);
    connect(phoneList_, &PhoneList::columnWidthsChanged, this, &DwnLoad1::applyPhoneColumnWidths);
    connect(phoneList_, &PhoneList::currentCellChanged, this, &DwnLoad1::showPhoneCurrentCell);
    // Only the user's click chooses an entry: the edit boxes move the current
    // cell themselves, and must not have their text replaced while typing.
    connect(MSHFlexGrid2, &QTableView::clicked, this, [this](const QModelIndex &index) {
        phoneList_->setCurrentCell(index.row() + 1, index.column() + 1);
        MSHFlexGrid2_Click();
    });

    Text5[0] = named(new QLineEdit(QStringLiteral("Phone #")), elementName("Text5", 0));
    Text5[1] = named(new QLineEdit(QStringLiteral("Description")), elementName("Text5", 1));
    for (int i = 0; i < 2; ++i)
        connect(Text5[i], &QLineEdit::textChanged, this, [this, i] { Text5_Change(i); });
    Command4 = named(new QPushButton(QStringLiteral("Dial this Number")), QStringLiteral("Command4"));
    Command5 = named(new QPushButton(QStringLiteral("Hangup")), QStringLiteral("Command5"));
    Command5->setVisible(false);
    Label5 = named(new QLabel(QStringLiteral("Status")), QStringLiteral("Label5"));
    Label6 = named(new QLabel(QStringLiteral("Okay")), QStringLiteral("Label6"));
    // The modem's own text, line breaks and all, is shown and read back: never as rich text.
    Label6->setTextFormat(Qt::PlainText);
    connect(Command4, &QPushButton::clicked, this, &DwnLoad1::Command4_Click);
    connect(Command5, &QPushButton::clicked, this, &DwnLoad1::Command5_Click);
    Label6->setFrameShape(QFrame::StyledPanel);
    Label6->setMinimumWidth(240);

    auto *entry = new QGridLayout;
    entry->addWidget(Text5[0], 0, 0);
    entry->addWidget(Text5[1], 0, 1);
    entry->setColumnStretch(1, 2);
    entry->setColumnStretch(0, 1);
    auto *buttons = new QHBoxLayout;
    buttons->addWidget(Command4);
    buttons->addWidget(Command5);
    buttons->addSpacing(16);
    buttons->addWidget(Label5);
    buttons->addWidget(Label6, 1);
    auto *layout = new QVBoxLayout(tab);
    layout->addWidget(Label7);
    layout->addWidget(MSHFlexGrid2, 1);
    layout->addLayout(entry);
    layout->addLayout(buttons);
    return tab;
}

QWidget *DwnLoad1::buildPalmTab()
{
    auto *tab = new QWidget;
    Frame9 = groupBox(QStringLiteral("Frame9"),
                      QStringLiteral("Separate the different Download Files in Palm Database by....."));
    option4Group_ = new QButtonGroup(this);
    Option4[0] = named(new QRadioButton(QStringLiteral("Modbus ID of meter")), elementName("Option4", 0));
    Option4[2] = named(new QRadioButton(QStringLiteral("Dont Separate")), elementName("Option4", 2));
    option4Group_->addButton(Option4[0], 0);
    option4Group_->addButton(Option4[2], 2);
    Option4[0]->setChecked(true);
    connect(option4Group_, &QButtonGroup::idClicked, this, &DwnLoad1::Option4_Click);
    auto *separation = new QVBoxLayout(Frame9);
    separation->addWidget(Option4[0]);
    separation->addWidget(Option4[2]);

    Command8 = named(new QPushButton(QStringLiteral("Browse for Palm Database")), QStringLiteral("Command8"));
    connect(Command8, &QPushButton::clicked, this, &DwnLoad1::Command8_Click);
    Text6 = named(new QLineEdit(QStringLiteral("C:\\PALM\\TALVERN\\BACKUP\\PLOGR2.PDB")),
                  QStringLiteral("Text6"));
    Text6->setStyleSheet(QStringLiteral("QLineEdit { background: white; }"));
    Label8 = named(new QLabel(QStringLiteral(
                       "Select the PLOGR2.PDB which is stored in Palm UserName backup directory after "
                       "downloading from meter and performing a Hotsync.")),
                   QStringLiteral("Label8"));
    Label8->setWordWrap(true);

    auto *file = new QHBoxLayout;
    file->addWidget(Text6, 1);
    file->addWidget(Command8);
    auto *layout = new QVBoxLayout(tab);
    layout->addWidget(Frame9);
    layout->addLayout(file);
    layout->addWidget(Label8);
    layout->addStretch(1);
    return tab;
}

// The "Display Meter" tab as the polls see it.
class DwnLoad1::DisplayTabView : public DisplayView {
public:
    explicit DisplayTabView(DwnLoad1 &w) : w_(w) {}
    void setLine(int line, const QString &text) override
    {
        if (line >= 0 && line < kDisplayLineCount)
            w_.Text4[line]->setText(text);
    }
    DisplaySelection selection() const override
    {
        DisplaySelection s;
        s.type = meterTypeFromIndex(w_.selectedMeterType()).value_or(MeterType::Series7700);
        s.flowUnits = w_.listPosition(w_.Combo1);
        s.totalUnits = w_.listPosition(w_.Combo2);
        s.flowFormat = w_.listPosition(w_.Combo3);
        s.velocityUnits = w_.listPosition(w_.Combo4);
        return s;
    }

private:
    DwnLoad1 &w_;
};

// ---- start-up and shut-down ----

void DwnLoad1::Form_Load()
{
    if (!settings_.exists())
        settings_.createDefault();
    settings_.load(*this);
}

void DwnLoad1::Form_Unload()
{
    saveSettingsOnce();
}

void DwnLoad1::File_mnu_Click()
{
    saveSettingsOnce();
    hide();
    if (exitHandler_)
        exitHandler_();
}

void DwnLoad1::closeEvent(QCloseEvent *event)
{
    Form_Unload();
    event->accept();
}

void DwnLoad1::saveSettingsOnce()
{
    // Both exit paths may run in one shutdown (menu, then the window going away).
    if (settingsSaved_)
        return;
    settingsSaved_ = true;
    settings_.save(snapshot());
}

SettingsSnapshot DwnLoad1::snapshot() const
{
    SettingsSnapshot s;
    s.portIndex = selectedIndex(option2Group_);
    const int baud = selectedIndex(option1Group_);
    s.baudCaption = baud >= 0 ? Option1[baud]->text() : QString();
    s.handshakeIndex = selectedIndex(option3Group_);
    s.slaveIdText = Text1->text();
    s.downloadFileText = Text2->text();
    s.palmDatabasePath = shared_.PalmDatabasePath;
    s.palmCheckState = Check1->checkState() == Qt::Checked ? 1
                       : Check1->checkState() == Qt::PartiallyChecked ? 2
                                                                      : 0;
    s.separationIndex = selectedIndex(option4Group_);
    for (int row = 1; row <= 10; ++row) {
        for (int col = 1; col <= 3; ++col)
            s.phoneList[row - 1][col - 1] = phoneList_->text(row, col);
    }
    s.meterTypeIndex = selectedIndex(option5Group_);
    s.flowUnits = listPosition(Combo1);
    s.flowFormat = listPosition(Combo3);
    s.velocityUnits = listPosition(Combo4);
    s.totalUnits = listPosition(Combo2);
    return s;
}

int DwnLoad1::selectedIndex(QButtonGroup *group) const
{
    return group->checkedId();
}

int DwnLoad1::listPosition(const QComboBox *combo) const
{
    const int index = combo->currentIndex();
    if (index < 0 || combo->currentText() != combo->itemText(index))
        return -1;
    return index;
}

// ---- Settings tab and file name ----

void DwnLoad1::Option1_Click(int index)
{
    if (index >= 0 && index < 7)
        shared_.BaudRateText = QLatin1String(kBaudCaptions[index]);
}

void DwnLoad1::Option2_Click(int index)
{
    if (index >= 0 && index < 4)
        shared_.CommPortNumber = static_cast<qint16>(index + 1);
}

void DwnLoad1::Text1_Change()
{
    setSlaveIdFromText(Text1->text());
}

void DwnLoad1::Text2_Change()
{
    shared_.DownloadFileName = Text2->text();
}

void DwnLoad1::Command3_Click()
{
    const auto chosen = platform_.dialogs.chooseSaveFile(QStringLiteral("Data Filename Selection"),
                                                         QStringLiteral("*.csv"),
                                                         QStringLiteral("Logdata.csv"));
    if (!chosen || chosen->isEmpty())
        return;
    // The box (and so the settings file) keeps the bare name; this run writes to the full path.
    Text2->setText(QFileInfo(*chosen).fileName());
    shared_.DownloadFileName = *chosen;
}

void DwnLoad1::describePortDevices()
{
    // A COMn link beside the program may have been made or changed since the last look.
    for (int i = 0; i < 4; ++i)
        Option2[i]->setToolTip(describeComDevice(programDir_, i + 1));
}

void DwnLoad1::SSTab1_Click(int previousTab)
{
    if (previousTab == kDisplayTab) {
        const auto type = meterTypeFromIndex(selectedMeterType()).value_or(MeterType::Series7700);
        applyDisplayTransition(displayTransition(DisplayEvent::LeftDisplayTab, type), *Timer1, *Timer2,
                               *Timer3, *displayView_);
    }
}

// ---- downloads ----

// The Download tab's status line, progress bar and count boxes.
class DwnLoad1::DownloadDisplayAdapter : public DownloadDisplay {
public:
    explicit DownloadDisplayAdapter(DwnLoad1 &w) : w_(w) {}
    void setStatus(const QString &text) override { w_.Label4->setText(text); }
    void setProgress(int percent) override { w_.ProgressBar1->setValue(std::clamp(percent, 0, 100)); }
    void setRecordsUsed(const QString &text) override { w_.Text3[9]->setText(text); }
    void setRecordsAvailable(const QString &text) override { w_.Text3[8]->setText(text); }
    void setChannelLabel(int channel, const QString &text) override
    {
        if (channel >= 1 && channel <= 8)
            w_.Text3[channel - 1]->setText(text);
    }
    void showDetail(const QString &text) override { w_.statusBar()->showMessage(text); }

private:
    DwnLoad1 &w_;
};

void DwnLoad1::Check2_Click()
{
    PortableMeter = Check2->isChecked();
}

// The Palm controls of the Download and Palm DataBase tabs, as the conversion sees them.
class DwnLoad1::PalmControls : public PalmConversionView {
public:
    explicit PalmControls(DwnLoad1 &w) : w_(w) {}
    bool separateByModId() const override { return w_.option4Group_->checkedId() == 0; }
    QString idListText() const override { return w_.SortList->currentText(); }
    QStringList idListEntries() const override
    {
        QStringList entries;
        for (int i = 0; i < w_.SortList->count(); ++i)
            entries << w_.SortList->itemText(i);
        return entries;
    }
    void addIdListEntry(const QString &text) override
    {
        // Adding to an editable list must not replace what the user typed.
        const QString typed = w_.SortList->currentText();
        w_.SortList->addItem(text);
        w_.SortList->setEditText(typed);
    }
    void setDownloadEnabled(bool enabled) override { w_.Command2->setEnabled(enabled); }

private:
    DwnLoad1 &w_;
};

void DwnLoad1::Command2_Click()
{
    if (Check1->checkState() == Qt::Unchecked) {
        runSerialDownload(false);
        return;
    }
    DownloadDisplayAdapter display(*this);
    if (!palm_->busy() && !checkOutputBeforeStart(shared_.DownloadFileName, display))
        return;
    palm_->downloadData(PalmSource{shared_.PalmDatabasePath}, shared_.DownloadFileName, *palmControls_, display);
    if (chartView_->isVisible())
        chartView_->refresh();
}

void DwnLoad1::Command6_Click()
{
    if (Check1->checkState() == Qt::Unchecked)
        return;
    DownloadDisplayAdapter display(*this);
    palm_->getIdList(PalmSource{shared_.PalmDatabasePath}, *palmControls_, display);
}

void DwnLoad1::Command7_Click()
{
    runSerialDownload(true);
}

void DwnLoad1::runSerialDownload(bool sinceLastTime)
{
    // One operation on the link at a time: a second download would spoil the
    // first, and a click that lands inside a display poll's wait is taken up
    // again as soon as that poll has finished.
    if (downloadRunning_ || palm_->busy())
        return;
    if (link_.isBusy()) {
        QTimer::singleShot(50, this, [this, sinceLastTime] { runSerialDownload(sinceLastTime); });
        return;
    }
    DownloadDisplayAdapter display(*this);
    if (!checkOutputBeforeStart(shared_.DownloadFileName, display))
        return;
    downloadRunning_ = true;
    MeterLink::Hold hold(link_);
    // The grid is one: a Palm conversion cannot start inside this download either.
    PalmJobGuard gridInUse(palm_->jobLock());
    SinceLastTimeMode = sinceLastTime;
    Label4->setText(sinceLastTime ? QStringLiteral("Last Time Downloading") : QStringLiteral("Downloading"));
    Command2->setEnabled(false);
    if (sinceLastTime)
        Command7->setEnabled(false);
    results_->clear();

    DownloadEngine engine(link_, *results_, gridState_, display);
    DownloadOptions options;
    options.sinceLastTime = sinceLastTime;
    options.portableMeter = PortableMeter;
    options.slave = shared_.SlaveId;
    const qint16 result = engine.DownloadLog(options);
    finishDownload(result, *results_, gridState_, shared_.DownloadFileName, display,
                   [&] { engine.ConfirmDownload(); });

    Command2->setEnabled(true);
    Command7->setEnabled(true);
    downloadRunning_ = false;
    if (chartView_->isVisible())
        chartView_->refresh();
}

// ---- dialer ----

void DwnLoad1::Command4_Click()
{
    // As with the downloads: a click inside a poll's wait is taken up once the link is free.
    if (dialer_.DialModem(Text5[0]->text()) == DialResult::Busy)
        QTimer::singleShot(50, this, &DwnLoad1::Command4_Click);
}

void DwnLoad1::Command5_Click()
{
    dialer_.HangUpModem();
}

// ---- Palm mode and meter type ----

void DwnLoad1::Check1_Click()
{
    const bool palmMode = Check1->checkState() != Qt::Unchecked;
    Label9->setVisible(palmMode);
    SortList->setVisible(palmMode);
    Command6->setVisible(palmMode);
    Command7->setVisible(!palmMode);
}

void DwnLoad1::Option4_Click(int index)
{
    if (index == 0)
        Label9->setText(QStringLiteral("Files separated by ModID"));
    else if (index == 2)
        Label9->setText(QStringLiteral("Files not separated"));
}

void DwnLoad1::Command8_Click()
{
    const auto chosen = platform_.dialogs.chooseOpenFile(QStringLiteral("Palm Database Selection"),
                                                         QStringLiteral("*.pdb"),
                                                         QStringLiteral("PLOGR2.PDB"));
    if (!chosen || chosen->isEmpty())
        return;
    Text6->setText(*chosen);
    shared_.PalmDatabasePath = *chosen;
}

void DwnLoad1::Option5_Click(int index)
{
    const auto type = meterTypeFromIndex(index);
    if (!type)
        return;
    const MeterTypeInfo &info = meterTypeInfo(*type);
    Frame11->setVisible(info.keypadVisible);
    applyDisplayTransition(displayTransition(DisplayEvent::MeterTypeSelected, *type), *Timer1, *Timer2,
                           *Timer3, *displayView_);
    Text4[4]->setVisible(info.unitControlsVisible);
    Label10->setVisible(info.unitControlsVisible);
    for (QGroupBox *frame : {Frame12, Frame13, Frame14, Frame15})
        frame->setVisible(info.unitControlsVisible);
}

// ---- live display ----

int DwnLoad1::selectedMeterType() const
{
    return option5Group_->checkedId();
}

void DwnLoad1::Command9_Click()
{
    const auto type = meterTypeFromIndex(selectedMeterType()).value_or(MeterType::Series7700);
    applyDisplayTransition(displayTransition(DisplayEvent::Begin, type), *Timer1, *Timer2, *Timer3,
                           *displayView_);
}

void DwnLoad1::Command1_Click(int index)
{
    poller_->pressKey(index);
}

// A tick finds the link busy (a download, a dial, or its own last exchange
// still waiting) and simply passes: the next tick tries again.
void DwnLoad1::Timer1_Timer()
{
    poller_->PollTextDisplay();
}

void DwnLoad1::Timer2_Timer()
{
    poller_->PollDisplayBlock();
}

void DwnLoad1::Timer3_Timer()
{
    poller_->PollDisplayBlock();
}

// ---- phone list ----

void DwnLoad1::MSHFlexGrid2_Click()
{
    const int col = phoneList_->currentCol();
    if (col != PhoneList::kPhoneCol && col != PhoneList::kDescriptionCol)
        return;
    const int row = phoneList_->currentRow();
    Text5[0]->setText(phoneList_->text(row, PhoneList::kPhoneCol));
    Text5[1]->setText(phoneList_->text(row, PhoneList::kDescriptionCol));
    if (col == PhoneList::kPhoneCol)
        phoneList_->setCurrentCol(PhoneList::kPhoneCol);
}

void DwnLoad1::Text5_Change(int index)
{
    if (index == 0) {
        phoneList_->setCurrentCol(PhoneList::kPhoneCol);
        phoneList_->setCurrentText(Text5[0]->text());
    } else if (index == 1) {
        phoneList_->setCurrentCol(PhoneList::kDescriptionCol);
        phoneList_->setCurrentText(Text5[1]->text());
    }
}

void DwnLoad1::applyPhoneColumnWidths()
{
    MSHFlexGrid2->verticalHeader()->setMinimumWidth(phoneList_->colWidthTwips(0) / kTwipsPerPixel);
    // Twips were sized for an 8-point font; never let a heading be cut off.
    QHeaderView *header = MSHFlexGrid2->horizontalHeader();
    for (int col = 1; col < PhoneList::kCols; ++col) {
        const int twips = phoneList_->colWidthTwips(col) / kTwipsPerPixel;
        MSHFlexGrid2->setColumnWidth(col - 1, std::max(twips, header->sectionSizeHint(col - 1)));
    }
}

void DwnLoad1::showPhoneCurrentCell(int row, int col)
{
    if (row >= 1 && col >= 1)
        MSHFlexGrid2->setCurrentIndex(phoneList_->index(row - 1, col - 1));
}

// ---- settings reader's view of the window ----

void DwnLoad1::selectOption(QButtonGroup *group, int index)
{
    if (QAbstractButton *button = group->button(index))
        button->setChecked(true);
}

void DwnLoad1::setCommPortNumber(qint16 value)
{
    shared_.CommPortNumber = value;
}

void DwnLoad1::selectPortOption(int index)
{
    selectOption(option2Group_, index);
    Option2_Click(index);
}

void DwnLoad1::setBaudRateText(const QString &text)
{
    shared_.BaudRateText = text;
}

void DwnLoad1::selectBaudOption(int index)
{
    selectOption(option1Group_, index);
    Option1_Click(index);
}

void DwnLoad1::setSlaveIdText(const QString &text)
{
    Text1->setText(text);
}

void DwnLoad1::setSlaveIdFromText(const QString &text)
{
    // A value beyond 16 bits would reach the meter as some other address:
    // keep the last good one and show the box as wrong instead.
    const auto value = leadingNumberAsInt16(text);
    if (value) {
        shared_.SlaveId = *value;
        Text1->setStyleSheet(kSlaveIdNormalStyle);
        Text1->setToolTip(QString());
        Text1->setProperty("invalid", false);
    } else {
        Text1->setStyleSheet(kSlaveIdInvalidStyle);
        Text1->setToolTip(QStringLiteral("Slave ID out of range: still using %1").arg(shared_.SlaveId));
        Text1->setProperty("invalid", true);
    }
}

void DwnLoad1::setDownloadFileName(const QString &name)
{
    shared_.DownloadFileName = name;
}

void DwnLoad1::setDownloadFileText(const QString &text)
{
    Text2->setText(text);
}

void DwnLoad1::setPalmDatabasePath(const QString &path)
{
    shared_.PalmDatabasePath = path;
}

void DwnLoad1::setPalmPathText(const QString &text)
{
    Text6->setText(text);
}

void DwnLoad1::setPalmCheckState(int state)
{
    Check1->setCheckState(state == 1 ? Qt::Checked : state == 2 ? Qt::PartiallyChecked : Qt::Unchecked);
}

void DwnLoad1::setPalmIdListVisible(bool visible)
{
    Label9->setVisible(visible);
    SortList->setVisible(visible);
}

void DwnLoad1::selectSeparationOption(int index)
{
    selectOption(option4Group_, index);
    Option4_Click(index);
}

void DwnLoad1::setUpPhoneListHeadings()
{
    phoneList_->setUpHeadings();
}

void DwnLoad1::setPhoneListCell(int row, int col, const QString &text)
{
    phoneList_->setCurrentCell(row, col);
    phoneList_->setCurrentText(text);
}

void DwnLoad1::selectMeterTypeOption(int index)
{
    selectOption(option5Group_, index);
    Option5_Click(index);
}

QComboBox *DwnLoad1::unitList(int combo) const
{
    switch (combo) {
    case 1: return Combo1;
    case 2: return Combo2;
    case 3: return Combo3;
    case 4: return Combo4;
    default: return nullptr;
    }
}

bool DwnLoad1::setUnitListPosition(int combo, int position)
{
    QComboBox *list = unitList(combo);
    if (!list || position < -1 || position >= list->count())
        return false;
    list->setCurrentIndex(position);
    return true;
}

void DwnLoad1::selectFirstPhoneEntry()
{
    phoneList_->setCurrentCell(1, PhoneList::kPhoneCol);
    Text5[0]->setText(phoneList_->text(1, PhoneList::kPhoneCol));
    Text5[1]->setText(phoneList_->text(1, PhoneList::kDescriptionCol));
    phoneList_->setCurrentCol(PhoneList::kPhoneCol);
}

} // namespace ostrand
