#pragma once

#include <QStringList>

namespace ostrand {

// The entries of the Display tab's four unit lists. The settings file stores a
// position in each, so their order is part of the file format.
inline QStringList flowUnitNames()
{
    return {"GPM", "GPD", "MGD", "CFS", "CFM", "CFD", "LPS", "LPM", "LPD", "MLD", "M3S", "M3H", "M3D", "IGM", "BPH"};
}
inline QStringList totalUnitNames() { return {"GAL", "MET3", "LTRS", "IGAL", "BARR", "CUFT", "ACFT"}; }
inline QStringList flowFormatNames() { return {"#.", "#.#", "#.##", "#.###"}; }
inline QStringList velocityUnitNames() { return {"FPS", "MPS"}; }

} // namespace ostrand
