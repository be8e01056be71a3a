#include "view/panel/CalibrationSection.h"

#include "engine/calibration/CalibrationFile.h"
#include "view/ReadableLabel.h"

#include <QDoubleSpinBox>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>

#include <cmath>
#include <limits>
#include <initializer_list>
#include <tuple>

namespace view {

CalibrationSection::CalibrationSection(QWidget* parent) : QGroupBox(QStringLiteral("較正"), parent)
{
    auto* grid = new QGridLayout(this);
    grid->addWidget(new QLabel(QStringLiteral("値")), 0, 1);
    grid->addWidget(new QLabel(QStringLiteral("反射率")), 0, 2);
    const auto byteBox = [this](const char* name, int low, int high, int value) {
        auto* box = new QSpinBox;
        box->setObjectName(QLatin1String(name));
        box->setRange(low, high);
        box->setValue(value);
        connect(box, &QSpinBox::valueChanged, this, &CalibrationSection::changed);
        connect(box, &QSpinBox::editingFinished, this, &CalibrationSection::edited);
        return box;
    };
    const auto reflectanceBox = [this](const char* name, double value) {
        auto* box = new QDoubleSpinBox;
        box->setObjectName(QLatin1String(name));
        box->setRange(0.0, 1.0);
        box->setDecimals(3);
        box->setSingleStep(0.01);
        box->setValue(value);
        connect(box, &QDoubleSpinBox::valueChanged, this, &CalibrationSection::changed);
        connect(box, &QDoubleSpinBox::editingFinished, this, &CalibrationSection::edited);
        return box;
    };
    nirWhite_ = byteBox("nirWhite", 1, 255, 255);
    redWhite_ = byteBox("redWhite", 1, 255, 255);
    nirDark_ = byteBox("nirDark", 0, 254, 0);
    redDark_ = byteBox("redDark", 0, 254, 0);
    nirWhiteReflectance_ = reflectanceBox("nirWhiteReflectance", 1.0);
    redWhiteReflectance_ = reflectanceBox("redWhiteReflectance", 1.0);
    nirDarkReflectance_ = reflectanceBox("nirDarkReflectance", 0.0);
    redDarkReflectance_ = reflectanceBox("redDarkReflectance", 0.0);
    const std::tuple<QString, QSpinBox*, QDoubleSpinBox*> rows[] = {
        {QStringLiteral("白色板 NIR（赤バイト）:"), nirWhite_, nirWhiteReflectance_},
        {QStringLiteral("白色板 Red（緑バイト）:"), redWhite_, redWhiteReflectance_},
        {QStringLiteral("暗色板 NIR（赤バイト）:"), nirDark_, nirDarkReflectance_},
        {QStringLiteral("暗色板 Red（緑バイト）:"), redDark_, redDarkReflectance_},
    };
    int row = 1;
    for (const auto& [name, byte, reflectance] : rows) {
        auto* label = new QLabel(name);
        label->setBuddy(byte);
        byte->setAccessibleName(name.chopped(1) + QStringLiteral(" の値"));
        reflectance->setAccessibleName(name.chopped(1) + QStringLiteral(" の反射率"));
        grid->addWidget(label, row, 0);
        grid->addWidget(byte, row, 1);
        grid->addWidget(reflectance, row, 2);
        ++row;
    }
    clearDarkButton_ = new QPushButton(QStringLiteral("暗色板を解除"));
    clearDarkButton_->setToolTip(QStringLiteral("暗色板の値と反射率を0に戻し、印を消します"));
    connect(clearDarkButton_, &QPushButton::clicked, this, &CalibrationSection::clearDarkRequested);
    grid->addWidget(clearDarkButton_, row++, 0, 1, 3, Qt::AlignRight);
    modelLabel_ = new QLabel;
    modelLabel_->setObjectName(QStringLiteral("model"));
    modelLabel_->setAccessibleName(QStringLiteral("使用中の較正"));
    modelLabel_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    modelLabel_->setWordWrap(true);
    grid->addWidget(modelLabel_, row++, 0, 1, 3);
    // Beside the model: a panel that fails a check gives a model that is not to be trusted.
    warningLabel_ = new QLabel;
    warningLabel_->setObjectName(QStringLiteral("panelWarnings"));
    warningLabel_->setWordWrap(true);
    warningLabel_->setStyleSheet(QStringLiteral("color: #a05000;"));
    warningLabel_->hide();
    grid->addWidget(warningLabel_, row++, 0, 1, 3);
    sourceLabel_ = new QLabel;
    sourceLabel_->setObjectName(QStringLiteral("calibrationSource"));
    sourceLabel_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    sourceLabel_->setWordWrap(true);
    grid->addWidget(sourceLabel_, row++, 0, 1, 3);
    flatFieldLabel_ = new QLabel;
    flatFieldLabel_->setObjectName(QStringLiteral("flatField"));
    flatFieldLabel_->setAccessibleName(QStringLiteral("周辺減光補正"));
    flatFieldLabel_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    flatFieldLabel_->setWordWrap(true);
    flatFieldLabel_->hide();
    grid->addWidget(flatFieldLabel_, row++, 0, 1, 3);
    problemLabel_ = new QLabel;
    problemLabel_->setObjectName(QStringLiteral("modelProblem"));
    problemLabel_->setWordWrap(true);
    problemLabel_->setStyleSheet(QStringLiteral("color: #c00000;"));
    problemLabel_->hide();
    grid->addWidget(problemLabel_, row++, 0, 1, 3);
}

engine::NdviModel CalibrationSection::fieldsModel() const
{
    // Whole bytes are exact as floats, and a reflectance of three decimals becomes the
    // float its text would: the very model zrvimage-batch builds from the same numbers.
    const auto band = [](const QSpinBox* white, const QDoubleSpinBox* rWhite, const QSpinBox* dark,
                         const QDoubleSpinBox* rDark, const engine::BandCalibration& exact) {
        return engine::BandCalibration{valueOf(white, exact.dnWhite), static_cast<float>(rWhite->value()),
                                       valueOf(dark, exact.dnDark), static_cast<float>(rDark->value())};
    };
    return {band(nirWhite_, nirWhiteReflectance_, nirDark_, nirDarkReflectance_, exact_.nir),
            band(redWhite_, redWhiteReflectance_, redDark_, redDarkReflectance_, exact_.red)};
}

float CalibrationSection::valueOf(const QSpinBox* box, float exact)
{
    return std::isfinite(exact) && box->value() == std::lround(exact) ? exact : static_cast<float>(box->value());
}

void CalibrationSection::fitRanges(const engine::NdviModel& model)
{
    const bool wide = correctedLevels_ || model.nir.dnWhite > 255 || model.red.dnWhite > 255 ||
                      model.nir.dnDark > 254 || model.red.dnDark > 254;
    const int most = wide ? static_cast<int>(engine::kMaxCorrectedLevel) : 255;
    const QSignalBlocker blocks[] = {QSignalBlocker(nirWhite_), QSignalBlocker(redWhite_), QSignalBlocker(nirDark_),
                                     QSignalBlocker(redDark_)};
    for (QSpinBox* white : {nirWhite_, redWhite_}) white->setMaximum(most);
    for (QSpinBox* dark : {nirDark_, redDark_}) dark->setMaximum(most - 1);
}

void CalibrationSection::setCorrectedLevels(bool corrected)
{
    correctedLevels_ = corrected;
    // Narrowing keeps the values the fields hold now.
    fitRanges(fieldsModel());
}

void CalibrationSection::showFlatField(const QString& text)
{
    setReadableText(flatFieldLabel_, text);
    flatFieldLabel_->setVisible(!text.isEmpty());
}

void CalibrationSection::setModel(const engine::NdviModel& model)
{
    {
        // One recomputation for all eight fields.
        const QSignalBlocker blocks[] = {QSignalBlocker(nirWhite_),           QSignalBlocker(redWhite_),
                                         QSignalBlocker(nirDark_),            QSignalBlocker(redDark_),
                                         QSignalBlocker(nirWhiteReflectance_), QSignalBlocker(redWhiteReflectance_),
                                         QSignalBlocker(nirDarkReflectance_), QSignalBlocker(redDarkReflectance_)};
        exact_ = model;
        fitRanges(model);
        nirWhite_->setValue(static_cast<int>(std::lround(model.nir.dnWhite)));
        redWhite_->setValue(static_cast<int>(std::lround(model.red.dnWhite)));
        nirDark_->setValue(static_cast<int>(std::lround(model.nir.dnDark)));
        redDark_->setValue(static_cast<int>(std::lround(model.red.dnDark)));
        nirWhiteReflectance_->setValue(model.nir.rWhite);
        redWhiteReflectance_->setValue(model.red.rWhite);
        nirDarkReflectance_->setValue(model.nir.rDark);
        redDarkReflectance_->setValue(model.red.rDark);
    }
    emit changed();
}

void CalibrationSection::setWhiteValues(WhiteValues white)
{
    {
        // One recomputation for both values.
        const QSignalBlocker blockNir(nirWhite_);
        const QSignalBlocker blockRed(redWhite_);
        nirWhite_->setValue(white.nir);
        redWhite_->setValue(white.red);
        exact_.nir.dnWhite = static_cast<float>(white.nir);
        exact_.red.dnWhite = static_cast<float>(white.red);
    }
    emit changed();
}

void CalibrationSection::setDarkValues(WhiteValues dark)
{
    {
        const QSignalBlocker blockNir(nirDark_);
        const QSignalBlocker blockRed(redDark_);
        nirDark_->setValue(dark.nir);
        redDark_->setValue(dark.red);
        exact_.nir.dnDark = static_cast<float>(dark.nir);
        exact_.red.dnDark = static_cast<float>(dark.red);
    }
    emit changed();
}

WhiteValues CalibrationSection::whiteValues() const
{
    return {nirWhite_->value(), redWhite_->value()};
}

void CalibrationSection::showProblem(const std::optional<std::string>& problem, bool darkTargetMarked)
{
    // While the fields give an impossible model (often only half-way through typing a
    // number) the picture and its figures stay on the last possible one, and say so.
    problemLabel_->setText(problem ? QString::fromStdString(*problem) +
                                         QStringLiteral("\n表示と数値は直前の正しい較正のままです。")
                                   : QString());
    problemLabel_->setVisible(problem.has_value());
    const engine::NdviModel wanted = fieldsModel();
    clearDarkButton_->setEnabled(wanted.nir.dnDark != 0 || wanted.red.dnDark != 0 || wanted.nir.rDark != 0 ||
                                 wanted.red.rDark != 0 || darkTargetMarked);
}

void CalibrationSection::showModelInUse(const engine::NdviModel& model)
{
    setReadableText(modelLabel_, QStringLiteral("使用中: ") + QString::fromStdString(engine::describeModel(model))
                                                                   .replace(QStringLiteral("; "), QStringLiteral("\n")));
}

void CalibrationSection::showOwnPanelInUse(const QString& panel, const std::optional<engine::NdviModel>& frame,
                                           const engine::NdviModel& fields)
{
    const auto lines = [](const engine::NdviModel& m) {
        return QString::fromStdString(engine::describeModel(m)).replace(QStringLiteral("; "), QStringLiteral("\n"));
    };
    QString text = QStringLiteral("使用中: 各フレームの白色板「%1」").arg(panel);
    if (frame) {
        text += QStringLiteral("\n") + lines(*frame);
        // The picture's NDVI view and the rectangle's figures stay on the fields' values.
        if (!(*frame == fields)) text += QStringLiteral("\n（画像の表示と範囲の数値は上の欄の値）");
    }
    setReadableText(modelLabel_, text);
}

void CalibrationSection::showSource(const QString& text)
{
    sourceLabel_->setText(text);
}

void CalibrationSection::showWarnings(const std::vector<std::string>& warnings)
{
    QStringList lines;
    for (const std::string& w : warnings) lines << QString::fromStdString(w);
    warningLabel_->setText(lines.join(QLatin1Char('\n')));
    warningLabel_->setVisible(!warnings.empty());
}

engine::NdviModel CalibrationSection::asShown(const engine::NdviModel& model)
{
    // As QDoubleSpinBox rounds a value to its decimals, then as fieldsModel() reads it;
    // the values are kept exact (valueOf), within the ranges fitRanges gives.
    const auto band = [](const engine::BandCalibration& b) {
        const auto byte = [](float v) {
            // Beyond what a field takes: a number unlike any, so the model is refused.
            return v >= 0 && v <= engine::kMaxCorrectedLevel ? v : std::numeric_limits<float>::quiet_NaN();
        };
        const auto reflectance = [](float v) {
            return static_cast<float>(QString::number(static_cast<double>(v), 'f', 3).toDouble());
        };
        return engine::BandCalibration{byte(b.dnWhite), reflectance(b.rWhite), byte(b.dnDark), reflectance(b.rDark)};
    };
    return {band(model.nir), band(model.red)};
}

void CalibrationSection::setFieldsEnabled(bool enabled)
{
    for (QWidget* w : std::initializer_list<QWidget*>{nirWhite_, redWhite_, nirDark_, redDark_, nirWhiteReflectance_,
                                                      redWhiteReflectance_, nirDarkReflectance_, redDarkReflectance_}) {
        w->setEnabled(enabled);
    }
    if (!enabled) clearDarkButton_->setEnabled(false);
}

void CalibrationSection::showRasterModel(const QString& description)
{
    problemLabel_->hide();
    setReadableText(modelLabel_, description.isEmpty()
                                     ? QStringLiteral("ラスターの較正: 不明（ヘッダーに記述がありません）")
                                     : QStringLiteral("ラスターの較正: ") +
                                           QString(description).replace(QStringLiteral("; "), QStringLiteral("\n")));
}

}  // namespace view
