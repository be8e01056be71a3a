#include "view/Canvas.h"

#include "engine/calibration/FlatField.h"
#include "view/regions/RegionsModel.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QScrollBar>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>
#include <limits>

namespace view {

namespace {

constexpr QRgb kBackground = 0xff303030;
constexpr double kWheelStep = 1.25;  // zoom factor per wheel notch
constexpr double kDragThreshold = 3.0;
// The painter's fixed point holds only some millions of pixels.
constexpr double kFar = 1 << 20;

// Regions by role: plots in orange, apart from the rectangle's yellow and the magenta of
// the -10 pixels; the white panel in white; the dark target in the cyan of the dark
// target's mark. Each over a dark edge, to read on any ground.
QColor roleColour(engine::RegionRole role)
{
    switch (role) {
    case engine::RegionRole::White: return QColor(255, 255, 255);
    case engine::RegionRole::Dark: return QColor(0, 220, 255);
    case engine::RegionRole::Plot: break;
    }
    return QColor(255, 140, 0);
}

// Tags: the field's in green, any other (a region's own, or one not in use) in violet,
// both apart from the regions' colours.
QColor tagColour(bool field)
{
    return field ? QColor(40, 220, 80) : QColor(180, 130, 255);
}

// Fills image from the sampled columns and rows (source indices, -1 outside the
// picture) with colour(y, x) for each sampled pixel.
template <class Colour>
void fill(QImage& image, const std::vector<std::int64_t>& columns, const std::vector<std::int64_t>& rows, Colour colour)
{
    const int width = image.width();
    for (int j = 0; j < image.height(); ++j) {
        auto* out = reinterpret_cast<QRgb*>(image.scanLine(j));
        const std::int64_t y = rows[static_cast<std::size_t>(j)];
        if (y < 0) {
            std::fill(out, out + width, kBackground);
            continue;
        }
        for (int i = 0; i < width; ++i) {
            const std::int64_t x = columns[static_cast<std::size_t>(i)];
            out[i] = x < 0 ? kBackground : colour(y, x);
        }
    }
}

}  // namespace

double maxZoomFor(std::int64_t width, std::int64_t height)
{
    // Half of int's range: the scroll bars' ranges plus a viewport's size stay inside.
    constexpr double kMostUnits = std::numeric_limits<int>::max() / 2;
    const std::int64_t longest = std::max<std::int64_t>({width, height, 1});
    return std::min(Canvas::kMaxZoom, kMostUnits / static_cast<double>(longest));
}

int toScrollUnits(double value)
{
    if (std::isnan(value)) return 0;
    constexpr double low = std::numeric_limits<int>::min();
    constexpr double high = std::numeric_limits<int>::max();
    return static_cast<int>(std::clamp(std::round(value), low, high));
}

Canvas::Canvas(QWidget* parent) : QAbstractScrollArea(parent)
{
    setFocusPolicy(Qt::StrongFocus);
    viewport()->setMouseTracking(true);
    viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
    horizontalScrollBar()->setSingleStep(32);
    verticalScrollBar()->setSingleStep(32);
    setAccessibleName(QStringLiteral("画像"));
    updateCursor();
}

void Canvas::setPicture(const LoadedPicture* picture)
{
    picture_ = picture;
    selection_.reset();
    darkTarget_.reset();
    placement_.reset();  // the tags of another frame
    pressed_ = selecting_ = panning_ = false;
    drawnRect_.reset();
    polygon_.clear();
    fitToWindow();
}

void Canvas::setTool(Tool tool)
{
    if (tool == tool_) return;
    cancelDrawing();
    tool_ = tool;
    updateCursor();
}

void Canvas::setRegions(const RegionsModel* regions)
{
    if (regions_) disconnect(regions_, nullptr, this, nullptr);
    regions_ = regions;
    if (regions_) {
        connect(regions_, &RegionsModel::changed, viewport(), qOverload<>(&QWidget::update));
        connect(regions_, &RegionsModel::selectionChanged, viewport(), qOverload<>(&QWidget::update));
        connect(regions_, &QObject::destroyed, this, [this] { regions_ = nullptr; });
    }
    viewport()->update();
}

void Canvas::setPlacement(std::optional<engine::Registration> placement)
{
    placement_ = std::move(placement);
    viewport()->update();
}

void Canvas::setMode(Mode mode)
{
    mode_ = mode;
    invalidate();
}

void Canvas::setNdviColours(const std::vector<QRgb>* pairColours, const ColourScale* scale)
{
    pairColours_ = pairColours;
    scale_ = scale;
    if (mode_ == Mode::Ndvi || (picture_ && picture_->kind() == LoadedPicture::Kind::Raster)) invalidate();
}

void Canvas::setCorrectedNdvi(const float* values)
{
    corrected_ = values;
    if (mode_ == Mode::Ndvi) invalidate();
}

void Canvas::setFlatField(const engine::FlatField* flat, const ColourScale* gainScale)
{
    flat_ = flat;
    gainScale_ = gainScale;
    if (mode_ == Mode::NirGain || mode_ == Mode::RedGain) invalidate();
}

double Canvas::fitZoom() const
{
    if (!picture_ || picture_->width() <= 0 || picture_->height() <= 0) return 1.0;
    const double z = std::min(viewport()->width() / static_cast<double>(picture_->width()),
                              viewport()->height() / static_cast<double>(picture_->height()));
    return std::clamp(z, 1e-4, maxZoom());
}

double Canvas::maxZoom() const
{
    return picture_ ? maxZoomFor(picture_->width(), picture_->height()) : kMaxZoom;
}

double Canvas::minZoom() const
{
    return std::min({fitZoom(), 1.0, maxZoom()}) / 2.0;
}

void Canvas::fitToWindow()
{
    fitting_ = true;
    zoom_ = fitZoom();
    updateScrollBars();
    invalidate();
    emit zoomChanged(zoom_);
}

void Canvas::showActualSize()
{
    zoomAbout(1.0, QPointF(viewport()->width() / 2.0, viewport()->height() / 2.0));
}

void Canvas::zoomBy(double factor)
{
    zoomAbout(zoom_ * factor, QPointF(viewport()->width() / 2.0, viewport()->height() / 2.0));
}

void Canvas::zoomAbout(double zoom, QPointF anchor)
{
    if (!picture_) return;
    const QPointF point = (anchor - origin()) / zoom_;  // picture coordinates under anchor
    fitting_ = false;
    zoom_ = std::clamp(zoom, minZoom(), maxZoom());
    updateScrollBars();
    horizontalScrollBar()->setValue(toScrollUnits(point.x() * zoom_ - anchor.x()));
    verticalScrollBar()->setValue(toScrollUnits(point.y() * zoom_ - anchor.y()));
    invalidate();
    emit zoomChanged(zoom_);
}

QPointF Canvas::origin() const
{
    if (!picture_) return {};
    const double contentWidth = picture_->width() * zoom_;
    const double contentHeight = picture_->height() * zoom_;
    const double x = contentWidth <= viewport()->width() ? (viewport()->width() - contentWidth) / 2.0
                                                          : -horizontalScrollBar()->value();
    const double y = contentHeight <= viewport()->height() ? (viewport()->height() - contentHeight) / 2.0
                                                            : -verticalScrollBar()->value();
    return {std::floor(x), std::floor(y)};
}

void Canvas::updateScrollBars()
{
    const double contentWidth = picture_ ? picture_->width() * zoom_ : 0.0;
    const double contentHeight = picture_ ? picture_->height() * zoom_ : 0.0;
    const QSize area = viewport()->size();
    horizontalScrollBar()->setRange(0, std::max(0, toScrollUnits(std::ceil(contentWidth) - area.width())));
    verticalScrollBar()->setRange(0, std::max(0, toScrollUnits(std::ceil(contentHeight) - area.height())));
    horizontalScrollBar()->setPageStep(area.width());
    verticalScrollBar()->setPageStep(area.height());
}

void Canvas::invalidate()
{
    cache_ = QImage();
    viewport()->update();
}

std::optional<PixelPoint> Canvas::pixelAt(QPointF viewportPoint) const
{
    if (!picture_) return std::nullopt;
    const QPointF p = (viewportPoint - origin()) / zoom_;
    const double x = std::floor(p.x());
    const double y = std::floor(p.y());
    if (!(x >= 0 && y >= 0 && x < static_cast<double>(picture_->width()) && y < static_cast<double>(picture_->height()))) {
        return std::nullopt;
    }
    return PixelPoint{static_cast<std::int64_t>(x), static_cast<std::int64_t>(y)};
}

QPointF Canvas::picturePointAt(QPointF viewportPoint) const
{
    return (viewportPoint - origin()) / zoom_;
}

engine::Vertex Canvas::vertexAt(QPointF position) const
{
    const QPointF p = picturePointAt(position);
    // Steps of 1/2^k of a pixel, k the whole binary orders of the zoom: finer than
    // the pointer can point would write noise into the regions file.
    const double steps = zoom_ >= 2.0 ? std::exp2(std::floor(std::log2(zoom_))) : 1.0;
    const auto snap = [steps](double v, std::int64_t size) {
        if (std::isnan(v)) return 0.0;
        return std::clamp(std::round(v * steps) / steps, 0.0, static_cast<double>(size));
    };
    return {snap(p.x(), picture_->width()), snap(p.y(), picture_->height())};
}

PixelPoint Canvas::clampedPixelAt(QPointF position) const
{
    const QPointF p = (position - origin()) / zoom_;
    const auto clampTo = [](double v, std::int64_t size) {
        if (std::isnan(v)) return std::int64_t{0};
        return static_cast<std::int64_t>(std::clamp(std::floor(v), 0.0, static_cast<double>(size - 1)));
    };
    return {clampTo(p.x(), picture_->width()), clampTo(p.y(), picture_->height())};
}

QPointF Canvas::centreOfPixel(std::int64_t x, std::int64_t y) const
{
    return origin() + QPointF((static_cast<double>(x) + 0.5) * zoom_, (static_cast<double>(y) + 0.5) * zoom_);
}

QImage Canvas::renderView(QSize deviceSize, qreal dpr) const
{
    QImage image(deviceSize, QImage::Format_RGB32);
    if (image.isNull()) return image;
    if (!picture_ || picture_->width() <= 0 || picture_->height() <= 0) {
        image.fill(kBackground);
        return image;
    }
    // The source pixel under the centre of every device pixel, once per column and row.
    const QPointF o = origin();
    const auto sample = [&](int count, double offset, std::int64_t size) {
        std::vector<std::int64_t> index(static_cast<std::size_t>(count));
        for (int i = 0; i < count; ++i) {
            const double s = std::floor(((i + 0.5) / dpr - offset) / zoom_);
            index[static_cast<std::size_t>(i)] = s >= 0 && s < size ? static_cast<std::int64_t>(s) : -1;
        }
        return index;
    };
    const auto columns = sample(image.width(), o.x(), picture_->width());
    const auto rows = sample(image.height(), o.y(), picture_->height());
    const LoadedPicture& p = *picture_;

    if ((p.kind() == LoadedPicture::Kind::Raster && !scale_) || (mode_ == Mode::Ndvi && !pairColours_)) {
        image.fill(kBackground);  // no colours given yet
        return image;
    }
    if (p.kind() == LoadedPicture::Kind::Raster) {
        const ColourScale& scale = *scale_;
        fill(image, columns, rows, [&](std::int64_t y, std::int64_t x) { return scale.colourOf(p.values(y)[x]); });
        return image;
    }
    switch (mode_) {
    case Mode::Colour:
        fill(image, columns, rows, [&](std::int64_t y, std::int64_t x) {
            const std::uint8_t* b = p.pixel(x, y);
            return qRgb(b[2], b[1], b[0]);
        });
        break;
    case Mode::Nir:
        fill(image, columns, rows, [&](std::int64_t y, std::int64_t x) {
            const std::uint8_t v = p.pixel(x, y)[2];
            return qRgb(v, v, v);
        });
        break;
    case Mode::Red:
        fill(image, columns, rows, [&](std::int64_t y, std::int64_t x) {
            const std::uint8_t v = p.pixel(x, y)[1];
            return qRgb(v, v, v);
        });
        break;
    case Mode::Ndvi: {
        if (corrected_ && scale_) {
            const ColourScale& scale = *scale_;
            const float* values = corrected_;
            const std::int64_t width = p.width();
            fill(image, columns, rows, [&](std::int64_t y, std::int64_t x) { return scale.colourOf(values[y * width + x]); });
            break;
        }
        const QRgb* colours = pairColours_->data();
        fill(image, columns, rows, [&](std::int64_t y, std::int64_t x) {
            const std::uint8_t* b = p.pixel(x, y);
            return colours[static_cast<std::size_t>(b[2]) << 8 | b[1]];
        });
        break;
    }
    case Mode::NirGain:
    case Mode::RedGain: {
        // Only a flat-field of the picture's size is ever in use.
        if (!flat_ || !gainScale_ || flat_->width() != p.width() || flat_->height() != p.height()) {
            image.fill(kBackground);
            break;
        }
        // The gains of each row shown, worked out once as the rows are visited in order.
        const bool nir = mode_ == Mode::NirGain;
        std::vector<float> nirGains(static_cast<std::size_t>(p.width())), redGains(nirGains.size());
        std::int64_t made = -1;
        const ColourScale& scale = *gainScale_;
        fill(image, columns, rows, [&](std::int64_t y, std::int64_t x) {
            if (y != made) {
                flat_->rowGains(y, nirGains.data(), redGains.data());
                made = y;
            }
            return scale.colourOf((nir ? nirGains : redGains)[static_cast<std::size_t>(x)]);
        });
        break;
    }
    }
    return image;
}

void Canvas::paintEvent(QPaintEvent*)
{
    QPainter painter(viewport());
    if (!picture_) {
        painter.fillRect(viewport()->rect(), QColor::fromRgb(kBackground));
        painter.setPen(Qt::lightGray);
        painter.drawText(viewport()->rect(), Qt::AlignCenter | Qt::TextWordWrap,
                         QStringLiteral("ファイル > 開く（Ctrl+O）で、またはここへドラッグ＆ドロップして\n"
                                        "24ビットBMPかNDVIラスター（.raw）を開きます"));
        return;
    }
    const qreal dpr = viewport()->devicePixelRatioF();
    const QSize deviceSize = viewport()->size() * dpr;
    if (cache_.size() != deviceSize) {
        cache_ = renderView(deviceSize, dpr);
        cache_.setDevicePixelRatio(dpr);
    }
    painter.drawImage(QPointF(0, 0), cache_);

    // The dark target in cyan with a label, so it reads apart from the yellow rectangle
    // even where the two coincide.
    if (darkTarget_ && darkTarget_->x1 <= darkTarget_->x2 && darkTarget_->y1 <= darkTarget_->y2) {
        const QRectF r = onScreen(*darkTarget_);
        painter.setPen(QPen(Qt::black, 0));
        painter.drawRect(r);
        painter.setPen(QPen(QColor(0, 220, 255), 0, Qt::DotLine));
        painter.drawRect(r);
        const QString label = QStringLiteral("暗色板");
        const QRectF text = painter.fontMetrics().boundingRect(label).adjusted(-3, -1, 3, 1);
        const QRectF box(r.left(), r.top() - text.height(), text.width(), text.height());
        if (box.intersects(QRectF(viewport()->rect()))) {
            painter.fillRect(box, QColor(0, 220, 255));
            painter.setPen(Qt::black);
            painter.drawText(box, Qt::AlignCenter, label);
        }
    }
    drawTags(painter);
    drawRegions(painter);
    drawPending(painter);
    if (selection_ && selection_->x1 <= selection_->x2 && selection_->y1 <= selection_->y2) {
        const QRectF r = onScreen(*selection_);
        painter.setPen(QPen(Qt::black, 0));
        painter.drawRect(r);
        QPen dashed(QColor(255, 235, 0), 0, Qt::DashLine);
        painter.setPen(dashed);
        painter.drawRect(r);
    }
}

QRectF Canvas::onScreen(const engine::Rectangle& a) const
{
    const QPointF o = origin();
    const QRectF r(o.x() + static_cast<double>(a.x1) * zoom_, o.y() + static_cast<double>(a.y1) * zoom_,
                   static_cast<double>(a.x2 - a.x1 + 1) * zoom_, static_cast<double>(a.y2 - a.y1 + 1) * zoom_);
    // A rectangle that reaches past the painter's fixed point, on a tall picture zoomed
    // in, is cut to just past the viewport, where the edges cut off were not seen
    // either. Nearer ones are drawn as they are.
    if (std::abs(r.left()) < kFar && std::abs(r.top()) < kFar && std::abs(r.right()) < kFar &&
        std::abs(r.bottom()) < kFar) {
        return r;
    }
    const QRectF around = QRectF(viewport()->rect()).adjusted(-2, -2, 2, 2);
    return r.intersects(around) ? r.intersected(around) : QRectF(around.topLeft() - QPointF(1, 1), QSizeF(0, 0));
}

QPolygonF Canvas::onScreen(const std::vector<engine::Vertex>& polygon) const
{
    const QPointF o = origin();
    QPolygonF shape;
    shape.reserve(static_cast<qsizetype>(polygon.size()));
    bool far = false;
    for (const auto& v : polygon) {
        const QPointF p(o.x() + v.x * zoom_, o.y() + v.y * zoom_);
        far = far || std::abs(p.x()) >= kFar || std::abs(p.y()) >= kFar;
        shape << p;
    }
    if (!far) return shape;
    // As the rectangles: cut to just past the viewport.
    return shape.intersected(QPolygonF(QRectF(viewport()->rect()).adjusted(-2, -2, 2, 2)));
}

void Canvas::drawRegions(QPainter& painter) const
{
    if (!regions_ || !picture_) return;
    const QRectF view = QRectF(viewport()->rect());
    const engine::RegionSet& set = regions_->set();
    if (set.usesMarkers() && (!placement_ || placement_->problem || placement_->mapped.regions.size() != set.regions.size())) {
        return;
    }
    // Editing keeps to the set's own regions; what is drawn is where they lie on this
    // frame, one for one.
    const auto& regions = set.usesMarkers() ? placement_->mapped.regions : set.regions;
    const auto selected = regions_->selected();
    // The selected region last, over any it overlaps.
    std::vector<std::size_t> order;
    for (std::size_t i = 0; i < regions.size(); ++i) {
        if (i != selected) order.push_back(i);
    }
    if (selected) order.push_back(*selected);
    const QFont normal = painter.font();
    QFont bold = normal;
    bold.setBold(true);
    for (const std::size_t i : order) {
        const engine::Region& region = regions[i];
        const bool isSelected = selected == i;
        QPainterPath outline;
        if (region.isPolygon()) {
            outline.addPolygon(onScreen(region.polygon));
            outline.closeSubpath();
        } else if (region.rect.x1 <= region.rect.x2 && region.rect.y1 <= region.rect.y2) {
            outline.addRect(onScreen(region.rect));
        } else {
            continue;
        }
        const QRectF bounds = outline.boundingRect();
        if (!bounds.adjusted(-2, -2, 2, 2).intersects(view)) continue;
        const QColor colour = roleColour(region.role);
        if (isSelected) {
            QColor fill = colour;
            fill.setAlpha(60);
            painter.fillPath(outline, fill);
        }
        // A dark edge under the colour: the outline reads on light and dark ground.
        painter.setBrush(Qt::NoBrush);
        painter.setPen(QPen(Qt::black, isSelected ? 6 : 4));
        painter.drawPath(outline);
        painter.setPen(QPen(colour, isSelected ? 4 : 2));
        painter.drawPath(outline);

        // The name above the top-left corner, inside the viewport where the corner is not.
        const QString name = QString::fromStdString(region.name);
        painter.setFont(isSelected ? bold : normal);
        const QRectF text = painter.fontMetrics().boundingRect(name).adjusted(-3, -1, 3, 1);
        QPointF at(bounds.left(), bounds.top() - text.height());
        at.setX(std::clamp(at.x(), 0.0, std::max(0.0, view.width() - text.width())));
        at.setY(std::clamp(at.y(), 0.0, std::max(0.0, view.height() - text.height())));
        const QRectF box(at, text.size());
        painter.fillRect(box, colour);
        painter.setPen(Qt::black);
        painter.drawText(box, Qt::AlignCenter, name);
    }
    painter.setFont(normal);
}

void Canvas::drawTags(QPainter& painter) const
{
    if (!placement_ || !picture_) return;
    const QRectF view = QRectF(viewport()->rect());
    std::vector<int> field;
    if (regions_ && regions_->set().markers) field = regions_->set().markers->field;
    for (const engine::FoundTag& tag : placement_->tags) {
        const QPolygonF outline = onScreen(std::vector<engine::Vertex>(tag.corners.begin(), tag.corners.end()));
        if (!outline.boundingRect().adjusted(-2, -2, 2, 2).intersects(view)) continue;
        const QColor colour = tagColour(std::find(field.begin(), field.end(), tag.id) != field.end());
        painter.setBrush(Qt::NoBrush);
        painter.setPen(QPen(Qt::black, 4));
        painter.drawPolygon(outline);
        painter.setPen(QPen(colour, 2));
        painter.drawPolygon(outline);
        // The top-left corner as printed, so that a turned tag shows which way it lies.
        painter.setBrush(colour);
        painter.setPen(QPen(Qt::black, 1));
        painter.drawEllipse(outline.first(), 4, 4);
        painter.setBrush(Qt::NoBrush);
        // Its number at its centre.
        const QString label = QStringLiteral("#%1").arg(tag.id);
        const QRectF text = painter.fontMetrics().boundingRect(label).adjusted(-3, -1, 3, 1);
        const QPointF centre = outline.boundingRect().center();
        const QRectF box(centre - QPointF(text.width() / 2, text.height() / 2), text.size());
        painter.fillRect(box, colour);
        painter.setPen(Qt::black);
        painter.drawText(box, Qt::AlignCenter, label);
    }
    // Why no region is drawn, over the picture where the regions are missed.
    if (placement_->problem && regions_ && regions_->size() > 0) {
        const QString text = QStringLiteral("領域を置けません: %1").arg(QString::fromStdString(*placement_->problem));
        const QRectF area = view.adjusted(8, 8, -8, -8);
        QRectF box = painter.fontMetrics().boundingRect(area.toRect(), Qt::TextWordWrap, text);
        box.adjust(-6, -4, 6, 4);
        painter.fillRect(box, QColor(160, 0, 0, 220));
        painter.setPen(Qt::white);
        painter.drawText(box, Qt::AlignCenter | Qt::TextWordWrap, text);
    }
}

void Canvas::drawPending(QPainter& painter) const
{
    const QColor colour = roleColour(engine::RegionRole::Plot);
    if (drawnRect_) {
        const QRectF r = onScreen(*drawnRect_);
        painter.setPen(QPen(Qt::black, 3));
        painter.drawRect(r);
        painter.setPen(QPen(colour, 1, Qt::DashLine));
        painter.drawRect(r);
    }
    if (polygon_.empty()) return;
    QPolygonF line = onScreen(polygon_);
    if (hover_) line << QPointF(origin() + picturePointAt(*hover_) * zoom_);
    painter.setPen(QPen(Qt::black, 3));
    painter.drawPolyline(line);
    painter.setPen(QPen(colour, 1, Qt::DashLine));
    painter.drawPolyline(line);
    painter.setPen(QPen(Qt::black, 1));
    painter.setBrush(colour);
    for (const QPointF& p : onScreen(polygon_)) painter.drawRect(QRectF(p - QPointF(3, 3), QSizeF(6, 6)));
    painter.setBrush(Qt::NoBrush);
}

void Canvas::resizeEvent(QResizeEvent* event)
{
    QAbstractScrollArea::resizeEvent(event);
    if (fitting_) {
        zoom_ = fitZoom();
        emit zoomChanged(zoom_);
    }
    updateScrollBars();
    invalidate();
}

void Canvas::scrollContentsBy(int, int)
{
    invalidate();
}

void Canvas::mousePressEvent(QMouseEvent* event)
{
    if (!picture_ || picture_->width() <= 0 || picture_->height() <= 0) return;
    const bool pan = event->button() == Qt::MiddleButton || (event->button() == Qt::LeftButton && spaceHeld_);
    if (pan) {
        panning_ = true;
        panLast_ = event->position();
        updateCursor();
    } else if (event->button() == Qt::LeftButton) {
        pressed_ = true;
        selecting_ = false;
        pressPosition_ = event->position();
        anchorPixel_ = clampedPixelAt(event->position());
    }
}

void Canvas::mouseDoubleClickEvent(QMouseEvent* event)
{
    // The first click of the two put the last vertex down; the second closes.
    if (tool_ == Tool::Region && event->button() == Qt::LeftButton && !polygon_.empty() && !spaceHeld_) {
        pressed_ = selecting_ = false;  // its release is no vertex
        finishPolygon();
        return;
    }
    QAbstractScrollArea::mouseDoubleClickEvent(event);
}

void Canvas::mouseMoveEvent(QMouseEvent* event)
{
    if (panning_) {
        const QPointF delta = event->position() - panLast_;
        panLast_ = event->position();
        fitting_ = false;
        horizontalScrollBar()->setValue(toScrollUnits(horizontalScrollBar()->value() - std::round(delta.x())));
        verticalScrollBar()->setValue(toScrollUnits(verticalScrollBar()->value() - std::round(delta.y())));
    } else if (pressed_) {
        const QPointF moved = event->position() - pressPosition_;
        // While a polygon is being clicked, a press is a vertex however it moves.
        const bool canDrag = tool_ == Tool::Rectangle || polygon_.empty();
        if (canDrag && !selecting_ && std::hypot(moved.x(), moved.y()) >= kDragThreshold) selecting_ = true;
        if (selecting_) {
            const PixelPoint here = clampedPixelAt(event->position());
            const engine::Rectangle r{std::min(anchorPixel_.x, here.x), std::min(anchorPixel_.y, here.y),
                                      std::max(anchorPixel_.x, here.x), std::max(anchorPixel_.y, here.y)};
            (tool_ == Tool::Rectangle ? selection_ : drawnRect_) = r;
            viewport()->update();
        }
    }
    if (!polygon_.empty()) {
        hover_ = event->position();
        viewport()->update();
    }
    reportPointer(event->position());
}

void Canvas::mouseReleaseEvent(QMouseEvent* event)
{
    if (panning_ && (event->button() == Qt::MiddleButton || event->button() == Qt::LeftButton)) {
        panning_ = false;
        updateCursor();
        return;
    }
    if (pressed_ && event->button() == Qt::LeftButton) {
        pressed_ = false;
        const bool dragged = selecting_;
        selecting_ = false;
        if (tool_ == Tool::Rectangle) {
            if (dragged) emit selectionChanged();
        } else if (dragged && drawnRect_) {
            engine::Region region;
            region.rect = *drawnRect_;
            drawnRect_.reset();
            viewport()->update();
            emit regionDrawn(region);
        } else if (const engine::Vertex v = vertexAt(pressPosition_); polygon_.empty() || !(polygon_.back() == v)) {
            // A second press of a double-click on the same spot is no new vertex.
            polygon_.push_back(v);
            hover_ = event->position();
            viewport()->update();
        }
    }
}

void Canvas::finishPolygon()
{
    if (polygon_.size() < 3) return;
    engine::Region region;
    region.polygon = std::move(polygon_);
    cancelDrawing();
    emit regionDrawn(region);
}

void Canvas::cancelDrawing()
{
    polygon_.clear();
    drawnRect_.reset();
    hover_.reset();
    if (tool_ == Tool::Region) pressed_ = selecting_ = false;
    viewport()->update();
}

bool Canvas::event(QEvent* event)
{
    // Esc and Enter belong to the polygon being drawn, before any shortcut of the window.
    if (event->type() == QEvent::ShortcutOverride && (!polygon_.empty() || drawnRect_)) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Escape || key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Backspace) {
            event->accept();
            return true;
        }
    }
    return QAbstractScrollArea::event(event);
}

void Canvas::setSelection(std::optional<engine::Rectangle> area)
{
    selection_ = area;
    viewport()->update();
    emit selectionChanged();
}

void Canvas::setDarkTarget(std::optional<engine::Rectangle> area)
{
    darkTarget_ = area;
    viewport()->update();
}

void Canvas::wheelEvent(QWheelEvent* event)
{
    const int notches = event->angleDelta().y();
    if (!picture_ || notches == 0) return;
    zoomAbout(zoom_ * std::pow(kWheelStep, notches / 120.0), event->position());
    reportPointer(event->position());
    event->accept();
}

void Canvas::keyPressEvent(QKeyEvent* event)
{
    if (!polygon_.empty() || drawnRect_) {
        switch (event->key()) {
        case Qt::Key_Escape: cancelDrawing(); return;
        case Qt::Key_Return:
        case Qt::Key_Enter: finishPolygon(); return;
        case Qt::Key_Backspace:
            if (!polygon_.empty()) polygon_.pop_back();
            viewport()->update();
            return;
        default: break;
        }
    }
    if (event->key() == Qt::Key_Space) {
        if (!event->isAutoRepeat()) {
            spaceHeld_ = true;
            updateCursor();
        }
        return;
    }
    QAbstractScrollArea::keyPressEvent(event);
}

void Canvas::keyReleaseEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Space) {
        if (!event->isAutoRepeat()) {
            spaceHeld_ = false;
            updateCursor();
        }
        return;
    }
    QAbstractScrollArea::keyReleaseEvent(event);
}

bool Canvas::viewportEvent(QEvent* event)
{
    if (event->type() == QEvent::Leave) emit pointerLeft();
    return QAbstractScrollArea::viewportEvent(event);
}

void Canvas::reportPointer(QPointF position)
{
    if (const auto pixel = pixelAt(position)) {
        emit pointerMoved(pixel->x, pixel->y);
    } else {
        emit pointerLeft();
    }
}

void Canvas::updateCursor()
{
    if (panning_) {
        viewport()->setCursor(Qt::ClosedHandCursor);
    } else if (spaceHeld_) {
        viewport()->setCursor(Qt::OpenHandCursor);
    } else {
        viewport()->setCursor(Qt::CrossCursor);
    }
}

}  // namespace view
