#include "CaseRun.h"

#include "Unit87.h"
#include "bitmap/BitmapProbe.h"
#include "bitmap/ByteOrder.h"
#include "bitmap/PictureReader.h"

#include <QApplication>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <deque>
#include <fstream>
#include <spawn.h>
#include <sstream>
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
    Moment dialogDone;
    Moment messageAsked;

    std::optional<std::string> chooseFile(bitmap::FileDialog dialog, const bitmap::FileDialogRequest& request) override
    {
        auto chosen = TForm87::chooseFile(dialog, request);
        dialogDone = Moment::now();
        return chosen;
    }

    void showMessage(const std::string& text) override
    {
        messageAsked = Moment::now();
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

// A field of /proc/self/status in kB (VmRSS, VmHWM), or -1.
long statusKb(const char* field)
{
    std::ifstream status("/proc/self/status");
    std::string line;
    const std::size_t length = std::strlen(field);
    while (std::getline(status, line)) {
        if (line.compare(0, length, field) == 0 && line.size() > length && line[length] == ':') {
            return std::stol(line.substr(length + 1));
        }
    }
    return -1;
}

// Starts the peak over again from the memory in use now.
void resetPeakMemory()
{
    std::ofstream("/proc/self/clear_refs") << "5";
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// The median of each clock on its own.
Seconds median(const std::vector<Seconds>& times)
{
    std::vector<double> wall;
    std::vector<double> cpu;
    for (const Seconds& t : times) {
        wall.push_back(t.wall);
        cpu.push_back(t.cpu);
    }
    return {median(wall), median(cpu)};
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
        if (fields >> tag >> r.operation.wall >> r.operation.cpu >> r.floor.wall >> r.floor.cpu >> r.longestGapMs
                >> r.peakMiB >> r.idleMiB
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

    const auto picture = QString::fromStdString(input.string());
    const auto output = folder / (*op == Operation::Ndvi ? "out.raw" : "out.bmp");
    const auto floorOutput = folder / "floor.out";
    const char* buttonName = "Button3";
    std::deque<QString> answers{picture, QString::fromStdString(output.string())};
    if (*op == Operation::Crop) buttonName = "Button1";
    if (*op == Operation::Maxima) {
        buttonName = "Button2";
        answers.pop_back();
        // The whole frame.
        const bitmap::BitmapProbe size = bitmap::PictureReader::open(input.string()).header();
        setField(form, "Edit1", QStringLiteral("0"));
        setField(form, "Edit2", QStringLiteral("0"));
        setField(form, "Edit3", QString::number(size.width - 1));
        setField(form, "Edit4", QString::number(size.height - 1));
    }
    auto* button = form.findChild<QPushButton*>(QString::fromLatin1(buttonName));

    DialogAnswerer answerer;
    std::vector<Seconds> operationTimes;
    std::vector<Seconds> floorTimes;
    double longestGapMs = 0;
    long idleKb = 0;
    for (int run = 0; run <= runs; ++run) {  // run 0 warms up
        if (run == 1) {
            idleKb = statusKb("VmRSS");
            resetPeakMemory();
        }
        std::filesystem::remove(floorOutput);
        const Seconds floorTime = runFloor(*op, input, floorOutput);
        std::filesystem::remove(floorOutput);
        std::filesystem::remove(output);

        answerer.prepare(answers);
        button->click();
        if (answerer.boxTexts != std::vector<QString>{QStringLiteral("完了")}) {
            for (const auto& t : answerer.boxTexts) std::fprintf(stderr, "box: %s\n", t.toUtf8().constData());
            return 1;
        }
        if (run == 0) continue;
        floorTimes.push_back(floorTime);
        operationTimes.push_back(form.messageAsked - form.dialogDone);
        longestGapMs = std::max(longestGapMs, static_cast<double>(form.longestEventGapNs()) / 1e6);
    }
    std::filesystem::remove(output);

    const Seconds operation = median(operationTimes);
    const Seconds floor = median(floorTimes);
    std::printf("RESULT %.9f %.9f %.9f %.9f %.3f %.3f %.3f\n", operation.wall, operation.cpu, floor.wall, floor.cpu,
                longestGapMs, static_cast<double>(statusKb("VmHWM")) / 1024.0, static_cast<double>(idleKb) / 1024.0);
    return 0;
}

}  // namespace bench
