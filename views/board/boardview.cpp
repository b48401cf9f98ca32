#include "boardview.h"

#include "tonecolour.h"

#include "boardmarkers.h"
#include "signaturemodel.h"

#include <QApplication>
#include <QGraphicsItem>
#include <QGraphicsPathItem>
#include <QGraphicsScene>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QScrollBar>
#include <QStyleOptionGraphicsItem>
#include <QtConcurrent/QtConcurrentRun>

#include <cmath>

namespace board {

// The picture, drawn from the halved copy nearest the view's zoom.
class Picture : public QGraphicsItem
{
public:
    explicit Picture(std::vector<QImage> levels)
        : m_levels(std::move(levels))
    {
        setFlag(ItemUsesExtendedStyleOption);
    }
    QRectF boundingRect() const override { return QRectF(QPointF(0, 0), m_levels.front().size()); }
    void paint(QPainter *painter, const QStyleOptionGraphicsItem *option, QWidget *) override
    {
        const double zoom = option->levelOfDetailFromTransform(painter->worldTransform());
        std::size_t level = 0;
        while (level + 1 < m_levels.size() && zoom <= 1.0 / double(1 << (level + 1)))
            ++level;
        const QImage &image = m_levels[level];
        const double shrink = double(image.width()) / m_levels.front().width();
        const QRectF exposed = option->exposedRect & boundingRect();
        const QRectF source(exposed.topLeft() * shrink, exposed.size() * shrink);
        painter->setRenderHint(QPainter::SmoothPixmapTransform, zoom < 2);
        painter->drawImage(exposed, image, source);
    }

private:
    std::vector<QImage> m_levels; // full size, then each half the one before
};

} // namespace board

namespace {

std::vector<QImage> decode(const QByteArray &data)
{
    std::vector<QImage> levels;
    QImage image = QImage::fromData(data);
    if (image.isNull())
        return levels;
    // The formats the raster engine draws fastest.
    levels.push_back(image.convertToFormat(
        image.hasAlphaChannel() ? QImage::Format_ARGB32_Premultiplied : QImage::Format_RGB32));
    while (levels.back().width() > 256 && levels.back().height() > 256)
        levels.push_back(levels.back().scaled(
            levels.back().size() / 2, Qt::IgnoreAspectRatio, Qt::SmoothTransformation));
    return levels;
}

} // namespace

BoardView::BoardView(QWidget *parent)
    : QGraphicsView(parent)
{
    setObjectName(QStringLiteral("boardView"));
    setScene(new QGraphicsScene(this));
    setDragMode(ScrollHandDrag);
    setTransformationAnchor(AnchorUnderMouse);
    setViewportUpdateMode(SmartViewportUpdate);
    setBackgroundBrush(QColor(0x30, 0x30, 0x30));
    setRenderHint(QPainter::Antialiasing);
    setMinimumSize(240, 180);
    connect(&m_decoding, &QFutureWatcher<std::vector<QImage>>::finished, this,
        [this] { showPicture(m_decoding.result()); });
}

BoardView::~BoardView()
{
    // A decoding still running is left to finish on its own; its result is dropped.
    m_decoding.disconnect(this);
}

void BoardView::setModel(SignatureModel *model)
{
    m_model = model;
    connect(model, &SignatureModel::pictureChanged, this, &BoardView::loadPicture);
    connect(model, &QAbstractItemModel::modelReset, this, &BoardView::rebuildMarkers);
    connect(model, &QAbstractItemModel::rowsInserted, this, &BoardView::rebuildMarkers);
    connect(model, &QAbstractItemModel::rowsRemoved, this, &BoardView::rebuildMarkers);
    connect(model, &QAbstractItemModel::rowsMoved, this, &BoardView::rebuildMarkers);
    connect(model, &QAbstractItemModel::dataChanged, this,
        [this](const QModelIndex &from, const QModelIndex &to) {
            for (int row = from.row(); row <= to.row(); ++row)
                updateMarker(row);
        });
    connect(model, &SignatureModel::positionChanged, this, &BoardView::updateMarker);
    connect(model, &SignatureModel::fiducialsChanged, this, &BoardView::rebuildMarkers);
    loadPicture();
    rebuildMarkers();
}

void BoardView::setEditable(bool editable)
{
    m_editable = editable;
    for (board::Marker *m : m_markers)
        if (m)
            m->setFlag(QGraphicsItem::ItemIsMovable, editable && m_model->signature()->image);
}

bool BoardView::pictureShown() const
{
    return m_picture != nullptr;
}

void BoardView::loadPicture()
{
    const sig::Signature *s = m_model ? m_model->signature() : nullptr;
    const QByteArray data = s && s->image ? s->image->data : QByteArray();
    if (data == m_decoded && (m_picture || m_decoding.isRunning()))
        return;
    m_decoded = data;
    delete m_picture;
    m_picture = nullptr;
    if (s && s->image) {
        // Markers are placed in the picture's pixels before it is decoded.
        scene()->setSceneRect(QRectF(QPointF(0, 0), s->image->size));
        m_fitted = false;
        m_decoding.setFuture(QtConcurrent::run(decode, data));
    } else {
        scene()->setSceneRect(QRectF());
    }
    drawOutline();
}

namespace {

constexpr double kOutlinePxPerMm = 10;
constexpr double kOutlineMarginMm = 5;

// Board millimetres (y up) to the drawing's pixels (y down), the outline
// with a margin around it.
std::optional<sig::Registration> outlineDrawing(const sig::Signature &s)
{
    if (s.image || s.outline.size() < 3)
        return std::nullopt;
    const QRectF box = QPolygonF(QList<QPointF>(s.outline.begin(), s.outline.end())).boundingRect();
    sig::Registration r;
    r.toPixels = { kOutlinePxPerMm, 0, 0, -kOutlinePxPerMm,
        -kOutlinePxPerMm * (box.left() - kOutlineMarginMm),
        kOutlinePxPerMm * (box.bottom() + kOutlineMarginMm) };
    r.toMm = r.toPixels.inverted();
    return r;
}

} // namespace

void BoardView::drawOutline()
{
    delete m_outline;
    m_outline = nullptr;
    const sig::Signature *s = m_model ? m_model->signature() : nullptr;
    const auto drawing = s ? outlineDrawing(*s) : std::nullopt;
    if (!drawing)
        return;
    QPainterPath path;
    path.moveTo(drawing->toPixels.map(s->outline.front()));
    for (std::size_t k = 1; k < s->outline.size(); ++k)
        path.lineTo(drawing->toPixels.map(s->outline[k]));
    path.closeSubpath();
    m_outline = new QGraphicsPathItem(path);
    m_outline->setPen(QPen(QColor(0xc8, 0xa0, 0x30), 0)); // copper on the dark board
    m_outline->setBrush(QColor(0x1b, 0x4d, 0x2b));
    m_outline->setZValue(0);
    scene()->addItem(m_outline);
    const double margin = kOutlinePxPerMm * kOutlineMarginMm;
    scene()->setSceneRect(path.boundingRect().adjusted(-margin, -margin, margin, margin));
    // Fitted once the view has its size, as a picture is.
    m_fitted = isVisible();
    if (m_fitted)
        fit();
}

void BoardView::showPicture(const std::vector<QImage> &levels)
{
    // Only the newest picture asked for is shown.
    const sig::Signature *s = m_model ? m_model->signature() : nullptr;
    if (levels.empty() || !s || !s->image || s->image->data != m_decoded || m_picture)
        return;
    m_picture = new board::Picture(levels);
    m_picture->setZValue(0);
    scene()->addItem(m_picture);
    scene()->setSceneRect(m_picture->boundingRect());
    if (!m_fitted) {
        m_fitted = true;
        fit();
    }
}

void BoardView::rebuildMarkers()
{
    for (board::Marker *m : m_markers)
        delete m;
    m_markers.clear();
    for (board::FiducialMark *f : m_fiducials)
        delete f;
    m_fiducials.clear();
    const sig::Signature *s = m_model ? m_model->signature() : nullptr;
    m_registration = !s ? std::nullopt
        : s->image     ? sig::registration(*s, nullptr)
                       : outlineDrawing(*s);
    if (s)
        for (const sig::Fiducial &f : s->fiducials)
            if (f.px) {
                m_fiducials.push_back(new board::FiducialMark(f.name, font()));
                m_fiducials.back()->setPos(*f.px);
                scene()->addItem(m_fiducials.back());
            }
    const int rows = m_model ? m_model->rowCount() : 0;
    m_markers.resize(std::size_t(rows), nullptr);
    if (m_current >= rows)
        m_current = -1;
    for (int row = 0; row < rows; ++row)
        updateMarker(row);
    placeProbe();
}

void BoardView::setProbe(std::optional<QPointF> boardMm)
{
    m_probeMm = boardMm;
    placeProbe();
}

std::optional<QPointF> BoardView::probeAt() const
{
    if (!m_probe || !m_probe->isVisible())
        return std::nullopt;
    return m_probe->pos();
}

void BoardView::placeProbe()
{
    if (!m_probeMm || !m_registration) {
        if (m_probe)
            m_probe->hide();
        return;
    }
    if (!m_probe) {
        m_probe = new board::ProbeMark;
        scene()->addItem(m_probe);
    }
    m_probe->setPos(m_registration->toPixels.map(*m_probeMm));
    m_probe->show();
}

void BoardView::updateMarker(int row)
{
    if (!m_model || row < 0 || std::size_t(row) >= m_markers.size())
        return;
    const std::optional<QPointF> at = markerAt(row);
    board::Marker *&m = m_markers[std::size_t(row)];
    if (!at) {
        delete m;
        m = nullptr;
        return;
    }
    if (!m) {
        m = new board::Marker(*this, row);
        // A place is in the photo's pixels: none is given on an outline.
        m->setFlag(QGraphicsItem::ItemIsMovable, m_editable && m_model->signature()->image);
        scene()->addItem(m);
    }
    m->setPos(*at);
    styleMarker(*m, row);
}

std::optional<QPointF> BoardView::markerAt(int row) const
{
    const sig::Signature *s = m_model ? m_model->signature() : nullptr;
    if (!s || row < 0 || std::size_t(row) >= s->points.size())
        return std::nullopt;
    return sig::placeOnPhoto(s->points[std::size_t(row)], m_registration);
}

void BoardView::styleMarker(board::Marker &marker, int row)
{
    const sig::Point &p = m_model->signature()->points[std::size_t(row)];
    const sig::Verdict verdict = m_model->verdictOf(row);
    // Before a test: learned points blue, the others the colour of "not learned".
    const QColor colour = verdict != sig::Verdict::NotTested
        ? toneQColor(sig::verdictTone(verdict))
        : toneQColor(p.learned() ? sig::Tone::Busy : sig::verdictTone(sig::Verdict::NotLearned));
    const sig::Verdict v = m_model->verdictOf(row);
    marker.setLook(p.name, colour,
        v == sig::Verdict::Different || v == sig::Verdict::NotLearned
            || v == sig::Verdict::Unstable || v == sig::Verdict::NoContact
            || v == sig::Verdict::NetDisagrees,
        row == m_current);
}

void BoardView::setCurrent(int row)
{
    const int old = m_current;
    m_current = row;
    for (int r : { old, row })
        if (r >= 0 && std::size_t(r) < m_markers.size() && m_markers[std::size_t(r)])
            styleMarker(*m_markers[std::size_t(r)], r);
    if (row >= 0 && std::size_t(row) < m_markers.size() && m_markers[std::size_t(row)]) {
        // Into view with a margin, without moving when it is already there.
        const QPoint at = mapFromScene(m_markers[std::size_t(row)]->pos());
        if (!viewport()->rect().adjusted(40, 40, -40, -40).contains(at))
            centerOn(m_markers[std::size_t(row)]);
    }
}

void BoardView::fit()
{
    if (!sceneRect().isEmpty())
        fitInView(sceneRect(), Qt::KeepAspectRatio);
}

void BoardView::wheelEvent(QWheelEvent *event)
{
    const double steps = event->angleDelta().y() / 120.0;
    const double factor = std::pow(1.25, steps);
    const double zoom = transform().m11() * factor;
    // From the whole board in a small view to eight screen pixels a picture pixel.
    const double least = sceneRect().isEmpty() ? 0.01
                                               : 0.5
            * std::min(viewport()->width() / sceneRect().width(),
                viewport()->height() / sceneRect().height());
    if ((factor < 1 && zoom < least) || (factor > 1 && zoom > 8))
        return;
    scale(factor, factor);
    event->accept();
}

void BoardView::mouseDoubleClickEvent(QMouseEvent *event)
{
    fit();
    event->accept();
}

void BoardView::mousePressEvent(QMouseEvent *event)
{
    m_pressedAt = event->position().toPoint();
    QGraphicsView::mousePressEvent(event);
}

void BoardView::mouseReleaseEvent(QMouseEvent *event)
{
    QGraphicsView::mouseReleaseEvent(event);
    // A click, not a pan, on the picture (a marker takes its own clicks).
    const QPoint at = event->position().toPoint();
    if (!m_picture || event->button() != Qt::LeftButton
        || (at - m_pressedAt).manhattanLength() >= QApplication::startDragDistance())
        return;
    for (QGraphicsItem *item : items(at))
        if (item != m_picture && item->type() != board::FiducialMark::Type
            && item->type() != board::ProbeMark::Type)
            return;
    const QPointF scenePos = mapToScene(at);
    if (sceneRect().contains(scenePos))
        emit pictureClicked(scenePos);
}

void BoardView::resizeEvent(QResizeEvent *event)
{
    QGraphicsView::resizeEvent(event);
    if (!m_fitted && (m_picture || m_outline)) {
        m_fitted = true;
        fit();
    }
}

void BoardView::markerReleased(int row, QPointF from, QPointF to)
{
    // The model has the last word: the marker goes back until the edit is made.
    if (auto *m = m_markers[std::size_t(row)])
        m->setPos(from);
    if (m_editable)
        emit pointDragged(row, to);
}
