// zrv_view_measure [FOLDER]: the viewer's speed and memory on an 8000 x 6000 sample
// frame (written to FOLDER, by default /dev/shm), against the NDVI operation on the
// same picture. Runs on any Qt platform; offscreen paints into memory as a window's
// backing store does.
#include "SampleFrame.h"

#include "engine/calibration/FlatField.h"
#include "engine/formats/PictureReader.h"
#include "engine/ops/Runs.h"
#include "engine/output/OutputFile.h"
#include "view/ViewerWindow.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QScrollBar>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

namespace {

long statusKilobytes(const char* field)
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind(field, 0) == 0) return std::stol(line.substr(std::string(field).size()));
    }
    return -1;
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

template <class F>
double milliseconds(F&& f)
{
    QElapsedTimer t;
    t.start();
    f();
    return static_cast<double>(t.nsecsElapsed()) / 1e6;
}

}  // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    const std::string folder = argc > 1 ? argv[1] : "/dev/shm";
    const std::string frame = folder + "/zrv_measure_frame.bmp";
    const std::string raster = folder + "/zrv_measure_frame.raw";
    const int width = 8000, height = 6000;
    if (!view::writeSampleFrame(frame, width, height)) {
        std::fprintf(stderr, "cannot write %s\n", frame.c_str());
        return 1;
    }
    const double pictureMiB = width * 3.0 * height / (1 << 20);
    const double floatsMiB = width * 4.0 * height / (1 << 20);

    std::vector<double> operation;
    for (int i = 0; i < 3; ++i) {
        operation.push_back(milliseconds([&] {
            engine::PictureReader reader = engine::PictureReader::open(frame);
            reader.require24Bit();
            auto out = engine::OutputFile::create(raster, &reader);
            engine::runNdvi(reader, 243.0f, 238.0f, out.get());
            out->finish();
        }));
    }

    const long before = statusKilobytes("VmRSS:");
    std::vector<double> firstPaint;
    long peak = 0;
    for (int i = 0; i < 3; ++i) {
        view::ViewerWindow window;
        window.prompts().message = [](const QString& m) { std::fprintf(stderr, "%s\n", m.toUtf8().constData()); };
        window.resize(1280, 800);
        window.setWhiteValues({243, 238});
        window.setView(view::Canvas::Mode::Ndvi);
        window.show();
        QApplication::processEvents();
        firstPaint.push_back(milliseconds([&] {
            window.openFile(QString::fromStdString(frame));
            window.canvas()->viewport()->repaint();
        }));
        peak = std::max(peak, statusKilobytes("VmRSS:"));
    }

    view::ViewerWindow window;
    window.resize(1280, 800);
    window.setView(view::Canvas::Mode::Ndvi);
    window.show();
    window.openFile(QString::fromStdString(frame));
    QApplication::processEvents();
    view::Canvas* canvas = window.canvas();
    const QPointF middle(canvas->viewport()->width() / 2.0, canvas->viewport()->height() / 2.0);
    double worstRepaint = 0;
    std::printf("viewport %dx%d\n", canvas->viewport()->width(), canvas->viewport()->height());
    for (double zoom : {0.0, 0.5, 1.0, 4.0, 32.0}) {
        std::vector<double> times;
        for (int k = 0; k < 20; ++k) {
            times.push_back(milliseconds([&] {
                if (zoom == 0.0) {
                    canvas->fitToWindow();
                } else if (k % 2 == 0) {
                    canvas->zoomAbout(zoom * (k % 4 == 0 ? 1.0 : 1.25), middle);  // a zoom step
                } else {
                    canvas->horizontalScrollBar()->setValue(canvas->horizontalScrollBar()->value() + 37);  // a pan step
                }
                canvas->viewport()->repaint();
            }));
        }
        const double worst = *std::max_element(times.begin(), times.end());
        std::printf("zoom %-5s repaint: median %.2f ms, worst %.2f ms\n", zoom == 0.0 ? "fit" : QByteArray::number(zoom).constData(),
                    median(times), worst);
        worstRepaint = std::max(worstRepaint, worst);
    }

    canvas->fitToWindow();
    std::vector<double> whiteChange;
    for (int k = 0; k < 20; ++k) {
        whiteChange.push_back(milliseconds([&] {
            window.setWhiteValues({230 + k, 238});
            canvas->viewport()->repaint();
        }));
    }
    window.selectArea(engine::Rectangle{0, 0, width - 1, height - 1});
    // The figures of a rectangle this large arrive from the background.
    const double wholeRectangle = milliseconds([&] {
        window.selectArea(engine::Rectangle{0, 0, width - 1, height - 1});
        while (window.panelLines().size() < 4) QApplication::processEvents(QEventLoop::WaitForMoreEvents);
    });
    std::vector<double> whiteWithWhole;
    for (int k = 0; k < 3; ++k) {
        whiteWithWhole.push_back(milliseconds([&] {
            window.setWhiteValues({240 + k, 238});
            canvas->viewport()->repaint();
        }));
    }

    std::printf("NDVI operation (read, compute, write the raster): median %.0f ms\n", median(operation));
    std::printf("open to first NDVI paint: median %.0f ms (%.2fx the operation)\n", median(firstPaint),
                median(firstPaint) / median(operation));
    std::printf("zoom or pan repaint: worst %.2f ms\n", worstRepaint);
    std::printf("white change repainted: median %.2f ms, worst %.2f ms\n", median(whiteChange),
                *std::max_element(whiteChange.begin(), whiteChange.end()));
    std::printf("figures of a whole-frame rectangle after %.0f ms; white change repainted with it: median %.0f ms\n", wholeRectangle,
                median(whiteWithWhole));
    std::printf("memory: %.0f MiB over start-up with a picture open (picture %.0f MiB; allowed %.0f MiB)\n",
                (peak - before) / 1024.0, pictureMiB, pictureMiB + floatsMiB + 64);
    std::printf("peak resident (VmHWM): %.0f MiB\n", statusKilobytes("VmHWM:") / 1024.0);
    std::remove(frame.c_str());
    std::remove(raster.c_str());

    // Through a flat-field, on a camera frame: each calibration change works out the
    // corrected NDVI of every pixel again.
    const std::string camera = folder + "/zrv_measure_camera.bmp";
    const std::string flat = folder + "/zrv_measure_ff.tif";
    if (!view::writeSampleFrame(camera, 2048, 1536)) return 1;
    engine::FlatFieldModel lens{2048, 1536, {}, {}};
    lens.nir = {1010.5, 770.5, -0.6, 0.1, -0.02, 1, 3};
    lens.red = {1030.5, 760.5, -0.45, 0.05, 0, 1, 2};
    engine::writeFlatField(flat, lens);
    view::ViewerWindow corrected;
    corrected.resize(1280, 800);
    corrected.setView(view::Canvas::Mode::Ndvi);
    corrected.show();
    corrected.openFile(QString::fromStdString(camera));
    QApplication::processEvents();
    const double putIn = milliseconds([&] {
        corrected.openFlatField(QString::fromStdString(flat));
        corrected.canvas()->viewport()->repaint();
    });
    std::vector<double> correctedChange;
    for (int k = 0; k < 20; ++k) {
        correctedChange.push_back(milliseconds([&] {
            corrected.setWhiteValues({230 + k, 238});
            corrected.canvas()->viewport()->repaint();
        }));
    }
    std::printf("2048x1536 through a flat-field: put in and repainted %.0f ms; white change repainted: median %.1f ms, "
                "worst %.1f ms\n",
                putIn, median(correctedChange), *std::max_element(correctedChange.begin(), correctedChange.end()));
    std::remove(camera.c_str());
    std::remove(flat.c_str());
    return 0;
}
