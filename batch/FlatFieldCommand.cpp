#include "batch/FlatFieldCommand.h"

#include "batch/Report.h"
#include "batch/Runner.h"
#include "engine/calibration/FlatField.h"
#include "engine/formats/PictureReader.h"
#include "engine/platform/Platform.h"
#include "runtime/Exceptions.h"

#include <cstdio>
#include <filesystem>
#include <system_error>

namespace batch {

namespace {

constexpr const char* kProgram = "zrvimage-batch: ";

std::string oneDecimal(double v)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", v);
    return text;
}

std::string twoDecimals(double v)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.2f", v);
    return text;
}

std::string bandLine(const char* name, const engine::GainModel& g)
{
    return std::string(name) + "\t四隅の減光 " + oneDecimal(g.cornerFalloff) + " %\tRMS 残差 " + twoDecimals(g.rmsResidual)
           + " %\t中心 (" + oneDecimal(g.cx) + ", " + oneDecimal(g.cy) + ")\tオフセット " + shortestText(g.offset) + '\n';
}

std::string bandJson(const engine::GainModel& g)
{
    return "{\"corner_falloff_percent\":" + shortestText(g.cornerFalloff) + ",\"rms_residual_percent\":"
           + shortestText(g.rmsResidual) + ",\"offset\":" + shortestText(g.offset) + ",\"cx\":" + shortestText(g.cx)
           + ",\"cy\":" + shortestText(g.cy) + ",\"k1\":" + shortestText(g.k1) + ",\"k2\":" + shortestText(g.k2)
           + ",\"k3\":" + shortestText(g.k3) + ",\"c0\":" + shortestText(g.c0) + "}";
}

}  // namespace

std::string flatFieldReport(const std::string& output, const engine::FlatFieldFit& fit, bool json)
{
    const engine::FlatFieldModel& m = fit.model;
    if (!json) {
        return output + "\t" + std::to_string(m.width) + "×" + std::to_string(m.height) + "\t画像 "
               + std::to_string(fit.frames) + " 枚\n" + bandLine("NIR", m.nir) + bandLine("Red", m.red);
    }
    std::string warnings;
    for (const std::string& w : fit.warnings) warnings += (warnings.empty() ? "" : ",") + jsonString(w);
    return "{\"output\":" + jsonString(output) + ",\"width\":" + std::to_string(m.width) + ",\"height\":"
           + std::to_string(m.height) + ",\"frames\":" + std::to_string(fit.frames) + ",\"nir\":" + bandJson(m.nir)
           + ",\"red\":" + bandJson(m.red) + ",\"warnings\":[" + warnings + "]}\n";
}

int runFlatField(const Options& options, std::ostream& out, std::ostream& err, const std::atomic<bool>* interrupted)
{
    const std::string& output = *options.output;
    std::error_code ec;
    if (!options.force && std::filesystem::exists(std::filesystem::symlink_status(engine::platform::pathOf(output), ec))) {
        err << kProgram << "出力ファイルが既にあります。上書きするには --force を指定してください:\n";
        err << "  " << output << '\n';
        return kBadUsage;
    }
    std::vector<std::string> frames = options.inputs;
    if (options.darkFrame) frames.push_back(*options.darkFrame);
    try {
        // No frame is written over, under any of its names.
        for (const std::string& frame : frames) {
            if (engine::openFileSource(frame)->isSameFile(output)) {
                throw engine::EngineError(engine::Failure::OutputIsInput, output);
            }
        }
        engine::RunControl control;
        control.cancel = interrupted;
        const engine::FlatFieldFit fit = engine::fitFlatField(options.inputs, options.darkFrame, control);
        engine::writeFlatField(output, fit.model);
        out << flatFieldReport(output, fit, options.json);
        for (const std::string& w : fit.warnings) err << kProgram << w << '\n';
        return kAllSucceeded;
    } catch (const runtime::EAbort&) {
        err << kProgram << "中断しました\n";
        return kInterrupted;
    } catch (const std::exception& e) {
        // One line, as every message of the batch: the engine's sentence and its path.
        std::string text = e.what();
        for (std::size_t i = 0; (i = text.find('\n', i)) != std::string::npos;) text.replace(i, 1, ": ");
        err << kProgram << text << '\n';
    }
    return kSomeFailed;
}

}  // namespace batch
