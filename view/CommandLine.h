#pragma once
// zrvimage-view [--white NIR,RED] [--panel-reflectance NIR,RED] [--dark NIR,RED]
//               [--dark-reflectance NIR,RED] [--select X1,Y1,X2,Y2] [FILE]

#include "engine/ops/Kernels.h"
#include "view/Figures.h"

#include <QString>
#include <QStringList>

#include <optional>

namespace view {

struct CommandLine {
    std::optional<WhiteValues> white;
    // The calibration the four options give over the defaults, when any was given; a
    // possible one (engine::modelProblem), or the line is bad usage.
    std::optional<engine::NdviModel> model;
    std::optional<engine::Rectangle> select;  // as typed; fitted to the picture when shown
    QString file;
    bool help = false;
    bool version = false;
    QString error;  // bad usage: what is wrong, in Japanese
};

// "X1,Y1,X2,Y2" as --select and the panel's rectangle field read it: four decimal
// integers separated by commas, X1 <= X2 and Y1 <= Y2.
enum class RectangleFault { NotFourIntegers, Reversed };
std::optional<engine::Rectangle> parseRectangle(const QString& text, RectangleFault* fault = nullptr);

// arguments without the program name.
CommandLine parseCommandLine(const QStringList& arguments);
QString usageText();

}  // namespace view
