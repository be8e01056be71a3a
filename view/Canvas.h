#pragma once
// The picture area: draws only the visible part of the picture, one source pixel
// sampled per screen pixel (nearest neighbour, so zoomed-in pixels stay sharp), zooms
// about the pointer, pans with the middle button, with Space held or with the scroll
// bars, reports the pixel under the pointer and lets a rectangle be dragged out.

#include "engine/ops/Kernels.h"
#include "engine/season/Markers.h"
#include "engine/season/Regions.h"
#include "view/ColourScale.h"
#include "view/LoadedPicture.h"

#include <QAbstractScrollArea>
#include <QImage>

#include <memory>

#include <optional>
#include <vector>

namespace engine {
class FlatField;
}

namespace view {

class RegionsModel;

// A pixel of the picture: 64-bit, as tall as any picture may be.
struct PixelPoint {
    std::int64_t x = 0;
    std::int64_t y = 0;
    friend bool operator==(const PixelPoint&, const PixelPoint&) = default;
};

// The largest zoom at which the whole of a picture of this size still lies within the
// scroll bars' int range; kMaxZoom for any picture that is not extremely large.
double maxZoomFor(std::int64_t width, std::int64_t height);
// A scroll bar's value or range from a picture coordinate times the zoom: rounded and
// kept within int (0 for NaN), never an undefined conversion.
int toScrollUnits(double value);

class Canvas : public QAbstractScrollArea {
    Q_OBJECT
public:
    // The gain views show the flat-field in use, one band each.
    enum class Mode { Colour, Nir, Red, Ndvi, NirGain, RedGain };
    // What the left button does: drag out the rectangle, or draw a region (a drag gives
    // a rectangle; clicks give a polygon's vertices, closed by a double-click or Enter,
    // Esc cancels, Backspace takes back the last vertex).
    enum class Tool { Rectangle, Region };
    static constexpr double kMaxZoom = 32.0;

    explicit Canvas(QWidget* parent = nullptr);

    // Shows picture (or nothing), fitted to the window, with no rectangle.
    void setPicture(const LoadedPicture* picture);
    void setMode(Mode mode);
    Mode mode() const noexcept { return mode_; }
    // The NDVI view's colours: for a bitmap by (NIR byte << 8 | red byte), 65536
    // entries; for a raster by value through scale. Both must outlive their use.
    void setNdviColours(const std::vector<QRgb>* pairColours, const ColourScale* scale);
    // A bitmap's NDVI through the flat-field in use, one value a pixel row-major,
    // coloured through the scale in place of the pairs' colours; null: none. And the
    // flat-field itself with the grey scale of its gain views. Each must outlive its use.
    void setCorrectedNdvi(const float* values);
    void setFlatField(const engine::FlatField* flat, const ColourScale* gainScale);

    double zoom() const noexcept { return zoom_; }
    void fitToWindow();
    void showActualSize();
    // Zooms to zoom (within the limits) keeping the picture point under anchor, a
    // point of the viewport, where it is.
    void zoomAbout(double zoom, QPointF anchor);
    void zoomBy(double factor);

    void setTool(Tool tool);
    Tool tool() const noexcept { return tool_; }
    // The regions drawn over the picture, followed as they change; null: none.
    void setRegions(const RegionsModel* regions);
    // Where the regions lie on the picture shown, for regions anchored to markers: its
    // tags are outlined and numbered, and the regions are drawn where it placed them, or
    // not at all while it is unknown or could not place them (their places on the
    // reference frame would look right and be wrong). Nothing: none searched for.
    void setPlacement(std::optional<engine::Registration> placement);
    const std::optional<engine::Registration>& placement() const noexcept { return placement_; }
    // The vertices of the polygon being drawn, in picture coordinates.
    const std::vector<engine::Vertex>& pendingPolygon() const noexcept { return polygon_; }
    // Picture coordinates of a viewport point: pixel x spans x .. x + 1.
    QPointF picturePointAt(QPointF viewportPoint) const;

    std::optional<engine::Rectangle> selection() const { return selection_; }
    // Sets or clears the rectangle (already fitted to the picture); emits selectionChanged.
    void setSelection(std::optional<engine::Rectangle> area);
    // The dark target's rectangle, drawn in its own colour beside the one being
    // dragged; a new picture clears it like the rectangle.
    std::optional<engine::Rectangle> darkTarget() const { return darkTarget_; }
    void setDarkTarget(std::optional<engine::Rectangle> area);

    // The pixel under a viewport point, if any.
    std::optional<PixelPoint> pixelAt(QPointF viewportPoint) const;
    // The viewport point at the centre of a pixel.
    QPointF centreOfPixel(std::int64_t x, std::int64_t y) const;

    // What the viewport shows of the picture, without the rectangle, at the given size
    // in device pixels.
    QImage renderView(QSize deviceSize, qreal devicePixelRatio) const;

signals:
    void pointerMoved(qint64 x, qint64 y);
    void pointerLeft();
    void selectionChanged();
    void zoomChanged(double zoom);
    // A region drawn with the region tool, without its name yet.
    void regionDrawn(const engine::Region& region);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    bool event(QEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
    bool viewportEvent(QEvent* event) override;

private:
    QPointF origin() const;  // viewport position of the picture's top-left corner
    double fitZoom() const;
    double minZoom() const;
    double maxZoom() const;
    void updateScrollBars();
    void invalidate();
    void reportPointer(QPointF position);
    PixelPoint clampedPixelAt(QPointF position) const;
    void updateCursor();
    QRectF onScreen(const engine::Rectangle& area) const;
    QPolygonF onScreen(const std::vector<engine::Vertex>& polygon) const;
    // A polygon's vertex at a viewport point: on the picture, and rounded to what the
    // zoom lets the pointer pick (whole pixels below 2x, halves from 2x, ...).
    engine::Vertex vertexAt(QPointF position) const;
    void drawRegions(QPainter& painter) const;
    void drawTags(QPainter& painter) const;
    void drawPending(QPainter& painter) const;
    void finishPolygon();
    void cancelDrawing();

    const LoadedPicture* picture_ = nullptr;
    Mode mode_ = Mode::Colour;
    const std::vector<QRgb>* pairColours_ = nullptr;
    const ColourScale* scale_ = nullptr;
    const float* corrected_ = nullptr;
    const engine::FlatField* flat_ = nullptr;
    const ColourScale* gainScale_ = nullptr;
    double zoom_ = 1.0;
    bool fitting_ = true;  // follows the window's size until the user zooms
    std::optional<engine::Rectangle> selection_;
    std::optional<engine::Rectangle> darkTarget_;
    Tool tool_ = Tool::Rectangle;
    const RegionsModel* regions_ = nullptr;
    std::optional<engine::Registration> placement_;
    std::optional<engine::Rectangle> drawnRect_;  // a region's rectangle being dragged
    std::vector<engine::Vertex> polygon_;         // a region's polygon being clicked
    std::optional<QPointF> hover_;                // the pointer, for the polygon's next edge

    bool spaceHeld_ = false;
    bool panning_ = false;
    QPointF panLast_;
    bool pressed_ = false;    // left button down for a rectangle
    bool selecting_ = false;  // moved far enough to be a drag
    QPointF pressPosition_;
    PixelPoint anchorPixel_;

    mutable QImage cache_;
};

}  // namespace view
