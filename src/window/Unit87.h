#pragma once
// The program's one window: three operation groups, help, a progress bar and the two
// shared file dialogs. It is also the operations' window services.

#include "window/Services.h"

#include <QElapsedTimer>
#include <QString>
#include <QWidget>

#include <functional>

class QCoreApplication;
class QDialog;
class QFileDialog;
class QGroupBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;

class TForm87 : public QWidget, public window::Services {
    Q_OBJECT

public:
    explicit TForm87(QWidget* parent = nullptr);
    ~TForm87() override;

    // The click handlers, one per button.
    void Button1Click();
    void Button2Click();
    void Button3Click();
    void Button4Click();

    // Caption of every box: the application title derived from the program file.
    QString applicationTitle() const { return applicationTitle_; }
    bool isRunning() const noexcept { return running_; }
    // The longest time, in nanoseconds, that the current or last run went without
    // handling window events (a modal dialog or box handles them while it is up).
    // A figure for the benchmark, taken where the pump reads its clock anyway.
    qint64 longestEventGapNs() const noexcept { return longestEventGapNs_; }
    // Of the current or last run, the passes through waiting events and the time they
    // took in all, in nanoseconds, by the same clock.
    int eventPasses() const noexcept { return eventPasses_; }
    qint64 eventPassesNs() const noexcept { return eventPassesNs_; }

    // The clock the pump decides by, in nanoseconds from any fixed start; a steady
    // clock unless a test sets its own, so that what the pump does can be tested
    // without depending on how fast the machine is.
    using Clock = std::function<qint64()>;
    void setClock(Clock clock);
    // Called after every pass through the waiting events during a run.
    void setEventPassHook(std::function<void()> hook) { eventPassHook_ = std::move(hook); }

    // Shows an error the way every unhandled error is shown: stop icon, the
    // application title as caption, the message with its full stop rule applied.
    void showErrorBox(const std::string& message);

    // window::Services
    std::optional<std::string> chooseFile(window::FileDialog dialog, const window::FileDialogRequest& request) override;
    void showMessage(const std::string& text) override;
    std::string fieldText(window::Field field) override;
    void setResultLabel(window::ResultLabel label, const std::string& text) override;
    window::ProgressModel& progressBar() override { return progress_; }
    [[noreturn]] void exitProcess(int status) override;
    void pumpWhileWaiting() override { pumpNow(); }

    static const char* helpText();

protected:
    void closeEvent(QCloseEvent* event) override;
    void pumpNow() override;
    // Pixels between two looks at the clock: about 20 µs of the slowest operation, and
    // few enough looks that they cost nothing (a 2048x1536 frame: 192).
    std::int64_t pumpInterval() const override { return 16384; }

private:
    // Runs one click handler: run buttons off meanwhile, every error shown in the
    // error box, a close asked for during the run carried out after it.
    void dispatch(const std::function<void()>& handler, bool isOperation);
    void syncProgressBar();
    void setRunButtonsEnabled(bool enabled);
    // Every modal dialog and box runs through here: its own event loop handles
    // events, so the time without them ends when it opens and starts over when it closes.
    int execModal(QDialog& dialog);

    QString applicationTitle_;
    window::ProgressModel progress_;
    bool progressDirty_ = false;
    bool running_ = false;
    bool closeRequested_ = false;
    QElapsedTimer steady_;
    Clock clock_;
    qint64 lastEventPassNs_ = 0;
    qint64 longestEventGapNs_ = 0;
    int eventPasses_ = 0;
    qint64 eventPassesNs_ = 0;
    std::function<void()> eventPassHook_;

    QPushButton* Button1 = nullptr;
    QPushButton* Button2 = nullptr;
    QPushButton* Button3 = nullptr;
    QPushButton* Button4 = nullptr;
    QGroupBox* GroupBox1 = nullptr;
    QGroupBox* GroupBox2 = nullptr;
    QGroupBox* GroupBox3 = nullptr;
    QLineEdit* Edit1 = nullptr;
    QLineEdit* Edit2 = nullptr;
    QLineEdit* Edit3 = nullptr;
    QLineEdit* Edit4 = nullptr;
    QLineEdit* Edit5 = nullptr;
    QLineEdit* Edit6 = nullptr;
    QLabel* Label1 = nullptr;
    QLabel* Label2 = nullptr;
    QLabel* Label3 = nullptr;
    QLabel* Label4 = nullptr;
    QLabel* Label5 = nullptr;
    QLabel* Label6 = nullptr;
    QLabel* Label7 = nullptr;
    QLabel* Label8 = nullptr;
    QLabel* Label9 = nullptr;
    QLabel* Label10 = nullptr;
    QLabel* Label11 = nullptr;
    QLabel* Label12 = nullptr;
    QLabel* Label13 = nullptr;
    QProgressBar* ProgressBar1 = nullptr;
    QFileDialog* OpenDialog1 = nullptr;
    QFileDialog* SaveDialog1 = nullptr;
};

// Turns a "description|pattern" filter into Qt name filters, one per pair.
QStringList qtNameFilters(const QString& filter);

// Qt's own texts (the file dialogs' labels, buttons and file types, standard buttons,
// the replace question) in Japanese whatever the desktop's language, from the
// translations Qt ships. False when they are not installed: those texts then stay in
// English.
bool installJapaneseQtTexts(QCoreApplication& app);
