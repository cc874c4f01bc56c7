#pragma once

#include "survey/survey_units.h"

#include <QString>
#include <array>
#include <optional>

namespace ostrand::survey {

// Which logged channel (1-8) plays which part in a survey; 0: none.
struct ChannelRoles {
    int depth = 0;
    int velocity = 0;
    int flow = 0;
    int total = 0;
    bool operator==(const ChannelRoles &other) const;
};

// The pipe at the site, for the design curve; a value not given is nullopt.
struct PipeSetup {
    std::optional<double> diameterM;
    std::optional<double> slope;   // a fraction: 0.002
    std::optional<double> manningN;
    // The Manning design curve needs all three.
    bool complete() const { return diameterM && slope && manningN; }
};

// What a survey needs to know of a station that its log does not say.
struct SurveySetup {
    ChannelRoles roles;       // a role left 0 is found from the labels (defaultRoles)
    DepthUnit depthUnit = DepthUnit::Millimetre;
    VelocityUnit velocityUnit = VelocityUnit::MetrePerSecond;
    FlowUnit flowUnit = FlowUnit::LitrePerSecond;
    TotalUnit totalUnit = TotalUnit::CubicMetre;
    // Which units the user gave, so a unit the user said wins over a label's.
    bool depthUnitGiven = false;
    bool velocityUnitGiven = false;
    bool flowUnitGiven = false;
    bool totalUnitGiven = false;
    PipeSetup pipe;
};

// The keys the stations file and `report` share, in the order help lists them:
// depth-channel, velocity-channel, flow-channel, total-channel, depth-unit,
// velocity-unit, flow-unit, total-unit, pipe-diameter, pipe-slope, manning-n.
const std::array<const char *, 11> &surveyKeyNames();

enum class KeyTaken { NotASurveyKey, Taken, Refused };
// Takes one key's value into `setup`; Refused with *problem saying what the
// key takes (without the key's name: the caller says where).
KeyTaken takeSurveyKey(SurveySetup &setup, const QString &key, const QString &value, QString *problem);

// The roles the labels suggest, for the roles `given` leaves 0: depth by
// "Level" or "Depth", velocity by "Velocity" or "Vel", flow by "Flow"
// without "Tot", the total by "Tot"; the first channel that matches; a
// channel takes one role. `labels[k-1]` is channel k's label, empty when unused.
ChannelRoles rolesFor(const std::array<QString, 8> &labels, const ChannelRoles &given = {});

// The unit a label names in parentheses at its end ("Flow (GPM)" -> "GPM");
// empty when it names none. A bare last word is no unit: "Flow Tot" has none.
QString unitInParentheses(const QString &label);

// The unit the store keeps for channel `channel` with `label`: the unit the
// user gave for the role the channel plays, else the label's unit in parentheses.
QString storedUnit(const SurveySetup &setup, const ChannelRoles &roles, int channel, const QString &label);

// `setup` with each unit the user did not give taken from its role's label
// where that names one in parentheses ("Flow (GPM)": gpm, "Level (in)": in).
SurveySetup withLabelUnits(SurveySetup setup, const ChannelRoles &roles, const std::array<QString, 8> &labels);

} // namespace ostrand::survey
