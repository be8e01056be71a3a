#pragma once
// The side panel's calibration: each band's white panel and dark target, its byte and
// its reflectance from the maker's calibration sheet beside it; the model in use, and
// why the fields' own cannot be used while they give an impossible one.

#include "engine/calibration/Calibration.h"
#include "view/Figures.h"

#include <QGroupBox>

#include <optional>
#include <string>
#include <vector>

class QDoubleSpinBox;
class QLabel;
class QPushButton;
class QSpinBox;

namespace view {

class CalibrationSection : public QGroupBox {
    Q_OBJECT
public:
    explicit CalibrationSection(QWidget* parent = nullptr);

    // What the fields say now, possible or not.
    engine::NdviModel fieldsModel() const;
    // Each setter changes the fields and then emits changed() once.
    void setModel(const engine::NdviModel& model);
    void setWhiteValues(WhiteValues white);
    void setDarkValues(WhiteValues dark);
    WhiteValues whiteValues() const;

    // The fields' state: the problem of their model (nothing when possible) and
    // whether the picture has a dark target marked.
    void showProblem(const std::optional<std::string>& problem, bool darkTargetMarked);
    void showModelInUse(const engine::NdviModel& model);
    // The regions and the season calibrate each frame by its own white region (panel):
    // that, with this frame's model when it could be read (nothing: it could not), and
    // the fields' model that the picture and the rectangle use when it differs.
    void showOwnPanelInUse(const QString& panel, const std::optional<engine::NdviModel>& frame,
                           const engine::NdviModel& fields);
    // A raster's values are already NDVI: no calibration applies to them.
    void setFieldsEnabled(bool enabled);
    // Where the calibration came from, and the white panel's and the dark target's
    // warnings (none: hidden).
    void showSource(const QString& text);
    void showWarnings(const std::vector<std::string>& warnings);

    // The model the fields hold once model is set into them: reflectances rounded to
    // three decimals. A value with a fraction (read through a flat-field) is shown
    // rounded to a whole number and kept as it is until another is typed over it.
    static engine::NdviModel asShown(const engine::NdviModel& model);
    // With a flat-field in use the values are corrected ones, which may lie above 255:
    // the fields take them up to the largest a calibration file may hold.
    void setCorrectedLevels(bool corrected);
    // The flat-field in use and its figures; empty: none, and the line is hidden.
    void showFlatField(const QString& text);
    // In place of the model in use, the one a raster says it was made with (its
    // header's description, "NIR: ...; Red: ..."), or that it does not say.
    void showRasterModel(const QString& description);

signals:
    void changed();
    // A field's edit is finished (Enter, or the focus left it): one step to undo.
    void edited();
    void clearDarkRequested();

private:
    // The value a field stands for: exact when the field still shows it rounded.
    static float valueOf(const QSpinBox* box, float exact);
    // Wide enough for the model's values, or for any corrected one.
    void fitRanges(const engine::NdviModel& model);
    engine::NdviModel exact_ = engine::NdviModel::plain(255, 255);
    bool correctedLevels_ = false;
    QLabel* flatFieldLabel_ = nullptr;
    QSpinBox* nirWhite_ = nullptr;
    QSpinBox* redWhite_ = nullptr;
    QDoubleSpinBox* nirWhiteReflectance_ = nullptr;
    QDoubleSpinBox* redWhiteReflectance_ = nullptr;
    QSpinBox* nirDark_ = nullptr;
    QSpinBox* redDark_ = nullptr;
    QDoubleSpinBox* nirDarkReflectance_ = nullptr;
    QDoubleSpinBox* redDarkReflectance_ = nullptr;
    QLabel* modelLabel_ = nullptr;
    QLabel* problemLabel_ = nullptr;
    QLabel* warningLabel_ = nullptr;
    QLabel* sourceLabel_ = nullptr;
    QPushButton* clearDarkButton_ = nullptr;
};

}  // namespace view
