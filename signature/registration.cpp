#include "registration.h"

#include <QCoreApplication>
#include <QStringList>

#include <algorithm>
#include <cmath>

namespace sig {
namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("sig::Registration", text);
}

// Closer than this is one place: a pixel on the photo, a micrometre on the board.
constexpr double kSamePixel = 1.0;
constexpr double kSameMm = 1e-3;
// Positions whose spread across is less than this share of their spread
// along (as variances, about 3 % as distances) are on one line: a fit
// through them would tilt with every pixel of error.
constexpr double kFlat = 1e-3;

struct Spread
{
    double xx = 0, xy = 0, yy = 0;
    double determinant() const { return xx * yy - xy * xy; }
    double trace() const { return xx + yy; }
};

Spread spreadOf(const std::vector<QPointF> &centred)
{
    Spread s;
    for (const QPointF &p : centred) {
        s.xx += p.x() * p.x();
        s.xy += p.x() * p.y();
        s.yy += p.y() * p.y();
    }
    return s;
}

QPointF mean(const std::vector<QPointF> &points)
{
    QPointF sum;
    for (const QPointF &p : points)
        sum += p;
    return sum / double(points.size());
}

double distance(const QPointF &a, const QPointF &b)
{
    return std::hypot(a.x() - b.x(), a.y() - b.y());
}

// Why these positions cannot fix a map, or empty.
QString degenerate(
    const std::vector<QPointF> &points, double same, const QStringList &names, const QString &where)
{
    for (std::size_t i = 0; i < points.size(); ++i)
        for (std::size_t j = i + 1; j < points.size(); ++j)
            if (distance(points[i], points[j]) < same)
                return tr("fiducials %1 and %2 are at one place %3")
                    .arg(names.value(int(i)), names.value(int(j)), where);
    if (points.size() >= 3) {
        std::vector<QPointF> centred;
        const QPointF centre = mean(points);
        for (const QPointF &p : points)
            centred.push_back(p - centre);
        const Spread s = spreadOf(centred);
        if (s.determinant() <= kFlat * s.trace() * s.trace())
            return tr("fiducials %1 lie on one line %2")
                .arg(names.join(QStringLiteral(", ")), where);
    }
    return QString();
}

} // namespace

Affine Affine::inverted() const
{
    const double det = determinant();
    if (det == 0 || !std::isfinite(det))
        return Affine();
    Affine inv;
    inv.m11 = m22 / det;
    inv.m12 = -m12 / det;
    inv.m21 = -m21 / det;
    inv.m22 = m11 / det;
    inv.dx = -(inv.m11 * dx + inv.m12 * dy);
    inv.dy = -(inv.m21 * dx + inv.m22 * dy);
    return inv;
}

std::optional<Registration> fitRegistration(
    const std::vector<Correspondence> &pairs, QString *error, Side photo, QStringList names)
{
    const auto fail = [error](const QString &why) {
        if (error)
            *error = why;
        return std::nullopt;
    };
    if (pairs.size() < 2)
        return fail(pairs.empty()
                ? tr("no fiducial has a place on the photo: registering needs two")
                : tr("one fiducial has a place on the photo: registering needs two"));
    for (int k = int(names.size()); k < int(pairs.size()); ++k)
        names << QString::number(k + 1);
    std::vector<QPointF> px, mm;
    for (const auto &[p, q] : pairs) {
        if (!isPlace(p) || !isPlace(q))
            return fail(tr("a fiducial's position is not a number"));
        px.push_back(p);
        mm.push_back(q);
    }
    if (QString why = degenerate(px, kSamePixel, names, tr("on the photo")); !why.isEmpty())
        return fail(why);
    if (QString why = degenerate(mm, kSameMm, names, tr("on the board")); !why.isEmpty())
        return fail(why);

    // Fitted about the centroids, where the translation drops out.
    const QPointF pc = mean(px), qc = mean(mm);
    std::vector<QPointF> p, q;
    for (std::size_t k = 0; k < pairs.size(); ++k) {
        p.push_back(px[k] - pc);
        q.push_back(mm[k] - qc);
    }
    Affine m;
    if (pairs.size() == 2) {
        // A similarity [a -b; b a] after turning the photo's y up for the top
        // side: the closed form of its least squares.
        const double flip = photo == Side::Top ? -1.0 : 1.0;
        double dot = 0, cross = 0, norm = 0;
        for (std::size_t k = 0; k < p.size(); ++k) {
            const QPointF u(p[k].x(), flip * p[k].y());
            dot += u.x() * q[k].x() + u.y() * q[k].y();
            cross += u.x() * q[k].y() - u.y() * q[k].x();
            norm += u.x() * u.x() + u.y() * u.y();
        }
        const double a = dot / norm, b = cross / norm;
        m.m11 = a;
        m.m12 = -b * flip;
        m.m21 = b;
        m.m22 = a * flip;
    } else {
        // Least squares of an affine map: M = (sum q p^T) (sum p p^T)^-1.
        const Spread c = spreadOf(p);
        double bxx = 0, bxy = 0, byx = 0, byy = 0;
        for (std::size_t k = 0; k < p.size(); ++k) {
            bxx += q[k].x() * p[k].x();
            bxy += q[k].x() * p[k].y();
            byx += q[k].y() * p[k].x();
            byy += q[k].y() * p[k].y();
        }
        const double det = c.determinant();
        m.m11 = (bxx * c.yy - bxy * c.xy) / det;
        m.m12 = (bxy * c.xx - bxx * c.xy) / det;
        m.m21 = (byx * c.yy - byy * c.xy) / det;
        m.m22 = (byy * c.xx - byx * c.xy) / det;
    }
    m.dx = qc.x() - (m.m11 * pc.x() + m.m12 * pc.y());
    m.dy = qc.y() - (m.m21 * pc.x() + m.m22 * pc.y());
    if (!std::isfinite(m.determinant()) || m.determinant() == 0)
        return fail(tr("the fiducials do not fix a map from the photo to the board"));

    Registration r;
    r.toMm = m;
    r.toPixels = m.inverted();
    r.fiducials = int(pairs.size());
    double squares = 0;
    for (std::size_t k = 0; k < pairs.size(); ++k) {
        const double d = distance(m.map(px[k]), mm[k]);
        squares += d * d;
        r.maxMm = std::max(r.maxMm, d);
    }
    r.rmsMm = std::sqrt(squares / double(pairs.size()));
    return r;
}

std::optional<Registration> registration(const Signature &board, QString *error)
{
    std::vector<Correspondence> pairs;
    QStringList names;
    for (const Fiducial &f : board.fiducials)
        if (f.px) {
            pairs.emplace_back(*f.px, f.mm);
            names << f.name;
        }
    return fitRegistration(pairs, error, Side::Top, names);
}

std::optional<QPointF> placeOnPhoto(const Point &p, const std::optional<Registration> &r)
{
    if (p.at)
        return p.at;
    if (p.mm && r)
        return r->toPixels.map(*p.mm);
    return std::nullopt;
}

QString describe(const Registration &r)
{
    return tr("registered on %1 fiducials: %2 mm RMS, %3 mm at worst")
        .arg(r.fiducials)
        .arg(r.rmsMm, 0, 'f', 3)
        .arg(r.maxMm, 0, 'f', 3);
}

} // namespace sig
