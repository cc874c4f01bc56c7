#include "survey_setup.h"

#include <QRegularExpression>
#include <QStringList>
#include <cmath>

namespace ostrand::survey {

bool ChannelRoles::operator==(const ChannelRoles &other) const
{
    return depth == other.depth && velocity == other.velocity && flow == other.flow &&
           total == other.total;
}

const std::array<const char *, 11> &surveyKeyNames()
{
    static const std::array<const char *, 11> names{
        "depth-channel", "velocity-channel", "flow-channel", "total-channel",
        "depth-unit",    "velocity-unit",    "flow-unit",    "total-unit",
        "pipe-diameter", "pipe-slope",       "manning-n"};
    return names;
}

namespace {

bool refuse(QString *problem, const QString &text)
{
    if (problem)
        *problem = text;
    return false;
}

bool takeChannel(int &role, const QString &value, QString *problem)
{
    bool ok = false;
    const int channel = value.toInt(&ok);
    if (!ok || channel < 1 || channel > 8)
        return refuse(problem,
                      QStringLiteral("takes a channel number from 1 to 8; not \"%1\"").arg(value));
    role = channel;
    return true;
}

template <typename Unit>
bool takeUnit(Unit &unit, bool &given, const std::optional<Unit> &named, const QString &choices,
              const QString &value, QString *problem)
{
    if (!named)
        return refuse(problem, QStringLiteral("takes one of %1; not \"%2\"").arg(choices, value));
    unit = *named;
    given = true;
    return true;
}

// Slope and roughness are both fractions; a value of 1 or more is a percent or a typing slip.
bool takeFraction(std::optional<double> &target, const QString &value, const QString &example,
                  QString *problem)
{
    bool ok = false;
    const double number = value.toDouble(&ok);
    if (!ok || !std::isfinite(number) || number <= 0 || number >= 1)
        return refuse(problem,
                      QStringLiteral("takes a number above 0 and below 1, such as %1; not \"%2\"")
                          .arg(example, value));
    target = number;
    return true;
}

// The label's words, without the punctuation and units around them.
QStringList wordsOf(const QString &label)
{
    static const QRegularExpression nonLetters(QStringLiteral("[^A-Za-z]+"));
    return label.toLower().split(nonLetters, Qt::SkipEmptyParts);
}

bool hasWord(const QStringList &words, std::initializer_list<const char *> wanted)
{
    for (const char *w : wanted)
        if (words.contains(QLatin1String(w)))
            return true;
    return false;
}

bool hasTotalWord(const QStringList &words)
{
    for (const QString &w : words)
        if (w.startsWith(QLatin1String("tot")))
            return true;
    return false;
}

} // namespace

KeyTaken takeSurveyKey(SurveySetup &setup, const QString &key, const QString &rawValue,
                       QString *problem)
{
    const QString value = rawValue.trimmed();
    bool taken = false;
    if (key == QLatin1String("depth-channel"))
        taken = takeChannel(setup.roles.depth, value, problem);
    else if (key == QLatin1String("velocity-channel"))
        taken = takeChannel(setup.roles.velocity, value, problem);
    else if (key == QLatin1String("flow-channel"))
        taken = takeChannel(setup.roles.flow, value, problem);
    else if (key == QLatin1String("total-channel"))
        taken = takeChannel(setup.roles.total, value, problem);
    else if (key == QLatin1String("depth-unit"))
        taken = takeUnit(setup.depthUnit, setup.depthUnitGiven, depthUnitNamed(value),
                         depthUnitChoices(), value, problem);
    else if (key == QLatin1String("velocity-unit"))
        taken = takeUnit(setup.velocityUnit, setup.velocityUnitGiven, velocityUnitNamed(value),
                         velocityUnitChoices(), value, problem);
    else if (key == QLatin1String("flow-unit"))
        taken = takeUnit(setup.flowUnit, setup.flowUnitGiven, flowUnitNamed(value),
                         flowUnitChoices(), value, problem);
    else if (key == QLatin1String("total-unit"))
        taken = takeUnit(setup.totalUnit, setup.totalUnitGiven, totalUnitNamed(value),
                         totalUnitChoices(), value, problem);
    else if (key == QLatin1String("pipe-diameter")) {
        const std::optional<double> metres = lengthInMetres(value, problem);
        if (metres)
            setup.pipe.diameterM = metres;
        taken = metres.has_value();
    } else if (key == QLatin1String("pipe-slope"))
        taken = takeFraction(setup.pipe.slope, value, QStringLiteral("0.002"), problem);
    else if (key == QLatin1String("manning-n"))
        taken = takeFraction(setup.pipe.manningN, value, QStringLiteral("0.013"), problem);
    else
        return KeyTaken::NotASurveyKey;
    return taken ? KeyTaken::Taken : KeyTaken::Refused;
}

ChannelRoles rolesFor(const std::array<QString, 8> &labels, const ChannelRoles &given)
{
    ChannelRoles roles = given;
    std::array<QStringList, 8> words;
    for (size_t k = 0; k < labels.size(); ++k)
        words[k] = wordsOf(labels[k]);
    auto taken = [&roles](int channel) {
        return roles.depth == channel || roles.velocity == channel || roles.flow == channel ||
               roles.total == channel;
    };
    auto find = [&](int &role, auto matches) {
        if (role != 0)
            return;
        for (int k = 1; k <= 8; ++k)
            if (!labels[k - 1].isEmpty() && !taken(k) && matches(words[k - 1])) {
                role = k;
                return;
            }
    };
    // "Level" holds "vel": roles go by whole words, so a level is never taken for a velocity.
    find(roles.depth, [](const QStringList &w) { return hasWord(w, {"level", "depth"}); });
    find(roles.velocity, [](const QStringList &w) { return hasWord(w, {"velocity", "vel"}); });
    find(roles.flow, [](const QStringList &w) { return hasWord(w, {"flow"}) && !hasTotalWord(w); });
    find(roles.total, [](const QStringList &w) { return hasTotalWord(w); });
    return roles;
}

QString unitInParentheses(const QString &label)
{
    const QString text = label.trimmed();
    if (!text.endsWith(u')'))
        return {};
    const qsizetype open = text.lastIndexOf(u'(');
    if (open < 0)
        return {};
    return text.mid(open + 1, text.size() - open - 2).trimmed();
}

QString storedUnit(const SurveySetup &setup, const ChannelRoles &roles, int channel,
                   const QString &label)
{
    if (channel != 0) {
        if (channel == roles.depth && setup.depthUnitGiven)
            return unitName(setup.depthUnit);
        if (channel == roles.velocity && setup.velocityUnitGiven)
            return unitName(setup.velocityUnit);
        if (channel == roles.flow && setup.flowUnitGiven)
            return unitName(setup.flowUnit);
        if (channel == roles.total && setup.totalUnitGiven)
            return unitName(setup.totalUnit);
    }
    return unitInParentheses(label);
}

SurveySetup withLabelUnits(SurveySetup setup, const ChannelRoles &roles,
                           const std::array<QString, 8> &labels)
{
    auto unitOf = [&labels](int channel) {
        return channel >= 1 && channel <= 8 ? unitInParentheses(labels[channel - 1]) : QString();
    };
    if (!setup.depthUnitGiven)
        if (const auto unit = depthUnitNamed(unitOf(roles.depth)))
            setup.depthUnit = *unit;
    if (!setup.velocityUnitGiven)
        if (const auto unit = velocityUnitNamed(unitOf(roles.velocity)))
            setup.velocityUnit = *unit;
    if (!setup.flowUnitGiven)
        if (const auto unit = flowUnitNamed(unitOf(roles.flow)))
            setup.flowUnit = *unit;
    if (!setup.totalUnitGiven)
        if (const auto unit = totalUnitNamed(unitOf(roles.total)))
            setup.totalUnit = *unit;
    return setup;
}

} // namespace ostrand::survey
