#include "cli_common.h"
#include "command_registry.h"
#include "download/download_display.h"
#include "download/download_outcome.h"
#include "line/line_values.h"
#include "table/grid_state.h"
#include "table/results_grid.h"
#include "palm/palm_conversion_view.h"
#include "palm/palm_import.h"
#include "platform/file_identity.h"
#include "platform/qt_event_pump.h"
#include "platform/system_clock.h"
#include "table/grid_state.h"
#include "table/results_grid.h"

#include <QCommandLineParser>

namespace ostrand::cli
{

int runPalmCommand(const QStringList &arguments);
int runPalmIdsCommand(const QStringList &arguments);

namespace
{

// Status texts to stdout, one a line, in the order the window shows them.
class StatusLines : public DownloadDisplay
{
public:
    void setStatus(const QString &text) override { printLine(text); }
    void setProgress(int) override {}
    void setRecordsUsed(const QString &) override {}
    void setRecordsAvailable(const QString &) override {}
    void setChannelLabel(int, const QString &) override {}
    void showDetail(const QString &text) override { printDetail(text); }
};

// The window's Palm controls as given on the command line. IDs added to the
// list are printed when `printAdded` is set.
class CommandLineView : public PalmConversionView
{
public:
    CommandLineView(bool separate, QString listText, bool printAdded)
        : separate_(separate), listText_(std::move(listText)), printAdded_(printAdded)
    {
    }
    bool separateByModId() const override { return separate_; }
    QString idListText() const override { return listText_; }
    QStringList idListEntries() const override { return entries_; }
    void addIdListEntry(const QString &text) override
    {
        entries_ << text;
        if (printAdded_)
            printLine(text);
    }
    void setDownloadEnabled(bool) override {}

private:
    bool separate_;
    QString listText_;
    bool printAdded_;
    QStringList entries_;
};

// The parts of a Palm run that both commands share.
struct PalmRun {
    ResultsGrid grid;
    GridState state;
    SystemClock clock;
    QtEventPump pump;
    PalmImport import{grid, state, pump, clock};
};

const RegisterCommand palmRegistration{
    {"palm",
     "  palm --pdb FILE (--modid ID | --all) [--output FILE]\n"
     "      Converts the Palm handheld's database FILE (PLOGR2.PDB from the HotSync\n"
     "      backup folder) into the CSV file (default Logdata.csv): with --modid only the\n"
     "      records of the meter with Modbus ID 0 to 255, with --all every meter's records\n"
     "      merged. The output cannot be the database FILE, by any name. An output\n"
     "      that holds data is first kept as OUTPUT.N, as download does. Prints each\n"
     "      status line as the window shows it. Exit status:\n"
     "      0 Finished. Data in File; 1 0 Records Available; 2 Could not find Palm\n"
     "      DataFile!!; 3 Error putting into file!!; 4 Error in Downloading!!\n",
     20, &runPalmCommand}};

const RegisterCommand palmIdsRegistration{
    {"palm-ids",
     "  palm-ids --pdb FILE [--exclude ID]\n"
     "      Prints the Modbus IDs of the meters whose records the Palm database FILE\n"
     "      holds, one a line in the order first met (leaving out ID), then the status\n"
     "      line. Exit status: 0 Finished Reading; 1 0 Records Available; 2 Could not\n"
     "      find Palm DataFile!!; 4 Error!!\n",
     21, &runPalmIdsCommand}};

QCommandLineOption pdbOption()
{
    return {QStringLiteral("pdb"), QStringLiteral("The Palm database file."),
            QStringLiteral("FILE")};
}

// Parses `arguments`; an empty text when they are fine, else what is wrong.
QString parse(QCommandLineParser &parser, const QStringList &arguments)
{
    if (!parser.parse(arguments))
        return parser.errorText();
    if (!parser.positionalArguments().isEmpty())
        return QStringLiteral("unexpected argument '%1'").arg(parser.positionalArguments().first());
    if (!parser.isSet(QStringLiteral("pdb")) || parser.value(QStringLiteral("pdb")).isEmpty())
        return QStringLiteral("a Palm database is needed: --pdb FILE");
    return QString();
}

} // namespace

int runPalmCommand(const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.addOption(pdbOption());
    parser.addOption({QStringLiteral("modid"), QStringLiteral("Only this meter's records."),
                      QStringLiteral("ID")});
    parser.addOption({QStringLiteral("all"), QStringLiteral("Every meter's records.")});
    parser.addOption({QStringLiteral("output"), QStringLiteral("CSV file to write."),
                      QStringLiteral("FILE"), QStringLiteral("Logdata.csv")});
    const QString wrong = parse(parser, arguments);
    if (!wrong.isEmpty())
        return usageError(wrong);
    const bool all = parser.isSet(QStringLiteral("all"));
    if (all == parser.isSet(QStringLiteral("modid")))
        return usageError(QStringLiteral("palm needs either --modid ID or --all"));
    const QString modId = parser.value(QStringLiteral("modid"));
    if (!all && !parseSlave(modId))
        return usageError(QStringLiteral("--modid takes a number from 0 to 255"));

    const QString output = parser.value(QStringLiteral("output"));
    if (output.isEmpty())
        return usageError(QStringLiteral("--output needs a file name"));

    PalmRun run;
    CommandLineView view(!all, modId, false);
    StatusLines display;
    const QString pdb = parser.value(QStringLiteral("pdb"));
    // Through a link or another path the output could still be the database it is read from.
    if (sameFile(output, pdb)) {
        display.setStatus(QStringLiteral("Error putting into file!!"));
        display.showDetail(QStringLiteral("%1 is the Palm database %2; choose another output file").arg(output, pdb));
        return code(ExitStatus::FileFailed);
    }
    if (!checkOutputBeforeStart(output, display))
        return code(ExitStatus::FileFailed);
    const PalmOutcome outcome =
        run.import.downloadData(PalmSource{pdb},
                                output, view, display);
    if (outcome.start != PalmOutcome::Start::Ran)
        return code(ExitStatus::OtherFailure);
    return code(exitStatusFor(outcome.result, outcome.fileFailed));
}

int runPalmIdsCommand(const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.addOption(pdbOption());
    parser.addOption(
        {QStringLiteral("exclude"), QStringLiteral("An ID to leave out."), QStringLiteral("ID")});
    const QString wrong = parse(parser, arguments);
    if (!wrong.isEmpty())
        return usageError(wrong);
    const QString exclude = parser.value(QStringLiteral("exclude"));
    if (parser.isSet(QStringLiteral("exclude")) && !parseSlave(exclude))
        return usageError(QStringLiteral("--exclude takes a number from 0 to 255"));

    PalmRun run;
    CommandLineView view(true, exclude, true);
    // Only the final status: the IDs are the output, so nothing comes before them.
    class FinalStatusOnly : public StatusLines
    {
    public:
        void setStatus(const QString &text) override
        {
            if (text != QLatin1String("Reading Palm DataBase"))
                StatusLines::setStatus(text);
        }
    } display;
    const PalmOutcome outcome =
        run.import.getIdList(PalmSource{parser.value(QStringLiteral("pdb"))}, view, display);
    return code(exitStatusFor(outcome.result, outcome.fileFailed));
}

} // namespace ostrand::cli
