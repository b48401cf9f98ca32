// A board's CAD outputs as the start of its signature: the test records of an
// IPC-D-356 netlist (one point per REFDES.PIN) or the parts of a position file
// (one point per part, at its centre) become points with their position,
// side, net and part; a BOM gives two-pin parts their expected value.
//
// Importing again keeps what was learned: a point of the same name keeps its
// references and only takes the CAD's position, side, net and part; points
// no longer in the CAD are reported, never deleted.
#pragma once

#include "bom.h"
#include "ipcd356.h"
#include "positions.h"
#include "signature.h"

#include <QStringList>

#include <optional>

namespace sig {

// Which of the CAD's points to take; an empty list takes all. Lists hold
// names or globs ("R*", "/SDA*"), compared case-insensitively.
struct CadFilter
{
    std::optional<Side> side;
    QStringList nets;
    QStringList refdes;
};

struct CadImport
{
    QStringList added; // new, unlearned points
    QStringList updated; // points that were there, their references kept
    QStringList vanished; // points of the signature the CAD file does not have
};

// The netlist's points into the signature, its outline as the board's, and
// every part's pads into its parts (pads on no net keep an empty one). Each
// net with two or more points taken is a group of that net's name (a point
// keeps a group it already has). A point name a signature may not hold (a
// control character in it) refuses the whole import, the board untouched.
std::optional<CadImport> importNetlist(
    Signature &board, const cad::Netlist &netlist, const CadFilter &filter, QString *error);
std::optional<CadImport> importPlacements(Signature &board,
    const std::vector<cad::Placement> &parts, const CadFilter &filter, QString *error);

// Reads a CAD file and imports it: a netlist by its suffix (.d356, .ipc,
// .356) or, with another, by its content; else a position file. `units`
// is for a file that does not say its own. A file that gives no points is
// refused too. On error (naming the file and line) the board is left as it
// was.
std::optional<CadImport> importCadFile(Signature &board, const QString &path,
    const CadFilter &filter, std::optional<cad::Unit> units, QString *error);
// "" when every glob of a filter is one, else the first that is not and why
// ("'[R1': ..."): a filter that cannot match is refused before any point.
QString globError(const QStringList &globs);

// Gives the points of each part of one or two points that the BOM gives a
// value its "expect", and every part of the netlist its BOM value; returns
// the parts given an "expect".
QStringList applyBom(Signature &board, const std::vector<cad::BomLine> &bom);

} // namespace sig
