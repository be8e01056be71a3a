#include "CaseRun.h"

#include "batch/CommandLine.h"
#include "batch/FileRun.h"
#include "batch/OutputPlan.h"
#include "engine/formats/PictureReader.h"
#include "window/Unit87.h"

#include <QApplication>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <deque>
#include <fstream>
#include <iterator>
#include <spawn.h>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace bench {

namespace {

// The real window, which also notes when the operation came back from its last file
// dialog and when it asked for its closing message: its own work lies between the two.
class TimedForm : public TForm87 {
public:
    double dialogDone = 0;
    double messageAsked = 0;

    std::optional<std::string> chooseFile(window::FileDialog dialog, const window::FileDialogRequest& request) override
    {
        auto chosen = TForm87::chooseFile(dialog, request);
        dialogDone = now();
        return chosen;
    }

    void showMessage(const std::string& text) override
    {
        messageAsked = now();
        TForm87::showMessage(text);
    }
};

// Answers the window's file dialogs and boxes from a timer, as a user would.
class DialogAnswerer : public QObject {
public:
    DialogAnswerer()
    {
        timer_.setInterval(1);
        connect(&timer_, &QTimer::timeout, this, &DialogAnswerer::answer);
        timer_.start();
    }

    void prepare(std::deque<QString> answers)
    {
        fileAnswers_ = std::move(answers);
        boxTexts.clear();
    }

    std::vector<QString> boxTexts;

private:
    void answer()
    {
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal || !modal->isVisible()) return;
        if (auto* dialog = qobject_cast<QFileDialog*>(modal)) {
            auto* nameEdit = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
            if (fileAnswers_.empty() || !nameEdit) {
                dialog->reject();
                return;
            }
            nameEdit->setText(fileAnswers_.front());
            fileAnswers_.pop_front();
            QMetaObject::invokeMethod(dialog, "accept");
            return;
        }
        if (auto* box = qobject_cast<QMessageBox*>(modal)) {
            boxTexts.push_back(box->text());
            box->done(QMessageBox::Ok);
        }
    }

    std::deque<QString> fileAnswers_;
    QTimer timer_;
};

// A field of /proc/self/status in MiB (VmRSS, VmHWM), or a negative number.
double statusMiB(const char* field)
{
    std::ifstream status("/proc/self/status");
    std::string line;
    const std::size_t length = std::strlen(field);
    while (std::getline(status, line)) {
        if (line.compare(0, length, field) == 0 && line.size() > length && line[length] == ':') {
            return static_cast<double>(std::stol(line.substr(length + 1))) / 1024.0;
        }
    }
    return -1;
}

// Peak memory of one stretch of work: the peak starts over from what is resident when
// this is made.
class PeakMemory {
public:
    PeakMemory() : before_(statusMiB("VmRSS")) { std::ofstream("/proc/self/clear_refs") << "5"; }
    double peak() const { return statusMiB("VmHWM"); }
    double added() const { return peak() - before_; }

private:
    double before_;
};

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

std::optional<Operation> operationFromArgument(const std::string& name)
{
    for (Operation op : {Operation::Crop, Operation::Maxima, Operation::Ndvi}) {
        if (name == operationName(op)) return op;
    }
    return std::nullopt;
}

void setField(QWidget& form, const char* name, const QString& text)
{
    form.findChild<QLineEdit*>(QString::fromLatin1(name))->setText(text);
}

bool sameBytes(const std::filesystem::path& a, const std::filesystem::path& b)
{
    std::ifstream fa(a, std::ios::binary);
    std::ifstream fb(b, std::ios::binary);
    return fa && fb && std::equal(std::istreambuf_iterator<char>(fa), {}, std::istreambuf_iterator<char>(fb), {});
}

// zrvimage-batch on one picture, by its own command line parser and per-file run:
// everything the tool does for a file, without the process around it.
class BatchRun {
public:
    BatchRun(Operation op, const std::filesystem::path& input, const std::filesystem::path& output,
             std::int64_t width, std::int64_t height)
    {
        std::vector<std::string> args;
        switch (op) {
        case Operation::Crop: args = {"crop", input.string(), "-o", output.string()}; break;
        case Operation::Maxima:
            args = {"maxima", input.string(), "--rect",
                    "0,0," + std::to_string(width - 1) + "," + std::to_string(height - 1)};
            break;
        case Operation::Ndvi:
            // The window's white values as it starts.
            args = {"ndvi", input.string(), "--nir-white", "255", "--red-white", "255", "-o", output.string()};
            break;
        }
        const batch::ParseResult parsed = batch::parseCommandLine(args);
        if (const auto* options = std::get_if<batch::Options>(&parsed)) options_ = *options;
        const auto jobs = batch::planJobs(options_);
        if (jobs.size() == 1) job_ = jobs.front();
    }

    // Seconds the file took; negative when it failed.
    double run()
    {
        std::string messages;
        const double start = now();
        const batch::FileOutcome outcome =
            batch::runFile(options_, job_, [&](const std::string& text) { messages += text; });
        const double seconds = now() - start;
        if (!outcome.succeeded) {
            std::fprintf(stderr, "zrvimage-batch: %s\n", messages.c_str());
            return -1;
        }
        return seconds;
    }

private:
    batch::Options options_;
    batch::FileJob job_;
};

}  // namespace

std::optional<CaseResult> measureCase(Operation op, const std::filesystem::path& input,
                                      const std::filesystem::path& folder, int runs)
{
    int out[2];
    if (::pipe(out) != 0) return std::nullopt;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    posix_spawn_file_actions_addclose(&actions, out[1]);

    const std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
    std::vector<std::string> args = {self, kCaseFlag, operationName(op), input.string(), folder.string(),
                                     std::to_string(runs)};
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);

    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, self.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    std::string text;
    char buffer[4096];
    for (ssize_t n; spawned == 0 && (n = ::read(out[0], buffer, sizeof buffer)) > 0;) text.append(buffer, n);
    ::close(out[0]);
    if (spawned != 0) return std::nullopt;
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return std::nullopt;

    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        std::istringstream fields(line);
        std::string tag;
        CaseResult r;
        if (fields >> tag >> r.floor >> r.durableFloor >> r.window >> r.batch >> r.windowRatio >> r.batchRatio >> r.windowToBatch
                >> r.longestGapMs >> r.windowPeakMiB >> r.windowAddedMiB >> r.batchPeakMiB >> r.batchAddedMiB >> r.windowEvents
            && tag == "RESULT") {
            return r;
        }
    }
    return std::nullopt;
}

int runCaseProcess(int argc, char** argv)
{
    if (argc != 6) return 2;
    const auto op = operationFromArgument(argv[2]);
    const std::filesystem::path input = argv[3];
    const std::filesystem::path folder = argv[4];
    const int runs = std::atoi(argv[5]);
    if (!op || runs < 1) return 2;

    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    // The offscreen platform's notes about what it cannot do would drown the table.
    qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString& text) {
        if (type == QtCriticalMsg || type == QtFatalMsg) std::fprintf(stderr, "%s\n", text.toLocal8Bit().constData());
    });
    QApplication app(argc, argv);
    TimedForm form;
    form.show();
    QCoreApplication::processEvents();

    const engine::BitmapProbe size = engine::PictureReader::open(input.string()).header();
    const std::int64_t width = size.width;
    const std::int64_t height = size.rows();
    const char* extension = *op == Operation::Ndvi ? ".raw" : ".bmp";
    const auto windowOutput = folder / (std::string("window") + extension);
    const auto batchOutput = folder / (std::string("batch") + extension);
    const auto floorOutput = folder / "floor.out";
    const std::int64_t floorBytes = outputBytes(*op, width, height);

    const auto picture = QString::fromStdString(input.string());
    const char* buttonName = "Button3";
    std::deque<QString> answers{picture, QString::fromStdString(windowOutput.string())};
    if (*op == Operation::Crop) buttonName = "Button1";
    if (*op == Operation::Maxima) {
        buttonName = "Button2";
        answers.pop_back();
        // The whole frame.
        setField(form, "Edit1", QStringLiteral("0"));
        setField(form, "Edit2", QStringLiteral("0"));
        setField(form, "Edit3", QString::number(width - 1));
        setField(form, "Edit4", QString::number(height - 1));
    }
    auto* button = form.findChild<QPushButton*>(QString::fromLatin1(buttonName));
    DialogAnswerer answerer;
    BatchRun batchRun(*op, input, batchOutput, width, height);

    CaseResult r;
    std::vector<double> eventSeconds;
    // Each returns its seconds, negative when the run failed; outputs of the run
    // before are removed first, so that every run writes a new file.
    const auto runWindow = [&] {
        std::filesystem::remove(windowOutput);
        answerer.prepare(answers);
        const PeakMemory memory;
        button->click();
        r.windowPeakMiB = std::max(r.windowPeakMiB, memory.peak());
        r.windowAddedMiB = std::max(r.windowAddedMiB, memory.added());
        if (answerer.boxTexts != std::vector<QString>{QStringLiteral("完了")}) {
            for (const auto& t : answerer.boxTexts) std::fprintf(stderr, "box: %s\n", t.toUtf8().constData());
            return -1.0;
        }
        r.longestGapMs = std::max(r.longestGapMs, static_cast<double>(form.longestEventGapNs()) / 1e6);
        eventSeconds.push_back(static_cast<double>(form.eventPassesNs()) / 1e9);
        return form.messageAsked - form.dialogDone;
    };
    const auto runBatch = [&] {
        std::filesystem::remove(batchOutput);
        const PeakMemory memory;
        const double seconds = batchRun.run();
        r.batchPeakMiB = std::max(r.batchPeakMiB, memory.peak());
        r.batchAddedMiB = std::max(r.batchAddedMiB, memory.added());
        return seconds;
    };

    // The warm-up: both front ends must have written the same bytes.
    if (runWindow() < 0 || runBatch() < 0) return 1;
    if (*op != Operation::Maxima && !sameBytes(windowOutput, batchOutput)) {
        std::fprintf(stderr, "the window and zrvimage-batch wrote different files\n");
        return 1;
    }
    r = {};
    eventSeconds.clear();

    std::vector<double> floors, durableFloors, windows, batches, windowRatios, batchRatios, windowToBatch;
    for (int run = 0; run < runs; ++run) {
        std::filesystem::remove(floorOutput);
        const double floor = runFloor(input, floorOutput, floorBytes);
        std::filesystem::remove(floorOutput);
        const double durableFloor = runFloor(input, floorOutput, floorBytes, true);
        std::filesystem::remove(floorOutput);
        // In turns first, so that neither always follows the floor.
        double window = 0;
        double batch = 0;
        if (run % 2 == 0) {
            window = runWindow();
            batch = runBatch();
        } else {
            batch = runBatch();
            window = runWindow();
        }
        if (window < 0 || batch < 0) return 1;
        floors.push_back(floor);
        durableFloors.push_back(durableFloor);
        windows.push_back(window);
        batches.push_back(batch);
        windowRatios.push_back(window / floor);
        batchRatios.push_back(batch / durableFloor);
        windowToBatch.push_back((window / floor) / (batch / durableFloor));
    }
    std::filesystem::remove(windowOutput);
    std::filesystem::remove(batchOutput);

    std::printf("RESULT %.9f %.9f %.9f %.9f %.4f %.4f %.4f %.3f %.3f %.3f %.3f %.3f %.9f\n", median(floors),
                median(durableFloors), median(windows),
                median(batches), median(windowRatios), median(batchRatios), median(windowToBatch), r.longestGapMs,
                r.windowPeakMiB, r.windowAddedMiB, r.batchPeakMiB, r.batchAddedMiB, median(eventSeconds));
    return 0;
}

}  // namespace bench
