#include "window/Unit87.h"

#include "window/AreaMaxima.h"
#include "window/Form87Layout.h"
#include "window/Crop2048.h"
#include "window/NdviRaster.h"
#include "runtime/ErrorText.h"
#include "runtime/Exceptions.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QCloseEvent>
#include <QCompleter>
#include <QFile>
#include <QFileDialog>
#include <QFont>
#include <QGroupBox>
#include <QIcon>
#include <QLabel>
#include <QLibraryInfo>
#include <QLineEdit>
#include <QLocale>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTranslator>

#include <algorithm>
#include <cstdlib>
#include <exception>
#include <map>
#include <string_view>

namespace form87 = window::form87;

namespace {

// Waiting events are handled at most this often during a run: a hundred times a
// second, more than a screen shows, and rarely enough that the passes (a few tenths of
// a millisecond each, the progress bar repainted) cost the run about 3 %.
constexpr qint64 kPumpPeriodNs = 10'000'000;

QString fromUtf8(std::string_view text)
{
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

std::string toUtf8(const QString& text)
{
    return text.toUtf8().toStdString();
}

void place(QWidget* widget, const form87::Control& c)
{
    widget->setObjectName(fromUtf8(c.name));
    if (c.width < 0) {
        widget->move(c.left, c.top);
    } else {
        widget->setGeometry(c.left, c.top, c.width, c.height);
    }
}

QFileDialog* makeFileDialog(QWidget* parent, const char* name, QFileDialog::AcceptMode mode)
{
    auto* dialog = new QFileDialog(parent);
    dialog->setObjectName(QString::fromLatin1(name));
    // Qt's own dialog everywhere: it behaves the same on every desktop and in tests.
    dialog->setOption(QFileDialog::DontUseNativeDialog);
    dialog->setAcceptMode(mode);
    if (mode == QFileDialog::AcceptOpen) {
        // A typed name of a file that does not exist is returned; the operation reports it.
        dialog->setFileMode(QFileDialog::AnyFile);
    }
    // The save dialog proposes the last output's name, so Enter alone would replace an
    // earlier result: Qt's dialog asks first, with "No" as the default button.
    return dialog;
}

}  // namespace

// The icon lives in the window's static library, whose resources need this call
// (outside any namespace).
static void initResources()
{
    Q_INIT_RESOURCE(zrvimage);
}

QStringList qtNameFilters(const QString& filter)
{
    const QStringList parts = filter.split(QLatin1Char('|'));
    QStringList result;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        const QString description = parts[i].trimmed();
        QString patterns = parts[i + 1].trimmed();
        patterns.replace(QLatin1Char(';'), QLatin1Char(' '));
        const QString suffix = QLatin1Char('(') + patterns + QLatin1Char(')');
        result << (description.endsWith(suffix) ? description : description + QLatin1Char(' ') + suffix);
    }
    return result;
}

bool installJapaneseQtTexts(QCoreApplication& app)
{
    // Qt's default locale picks the language of file type names in the file dialogs.
    QLocale::setDefault(QLocale(QLocale::Japanese, QLocale::Japan));
    auto* translator = new QTranslator(&app);
    if (translator->load(QStringLiteral("qtbase_ja"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)) &&
        QCoreApplication::installTranslator(translator)) {
        return true;
    }
    delete translator;
    return false;
}

const char* TForm87::helpText()
{
    return form87::kHelpText.data();
}

TForm87::TForm87(QWidget* parent)
    : QWidget(parent)
    , applicationTitle_(fromUtf8(runtime::applicationTitle(toUtf8(QCoreApplication::applicationFilePath()))))
{
    initResources();
    setObjectName(fromUtf8(form87::kFormName));
    resize(form87::kClientWidth, form87::kClientHeight);
    // Tahoma 8 pt at 96 dpi is 11 pixels. Where Tahoma is missing, Noto Sans CJK JP
    // stands in: its Latin letters are about as narrow as Tahoma's, so the texts fit
    // the designed layout, and it has the Japanese glyphs.
    QFont::insertSubstitutions(QStringLiteral("Tahoma"),
                               {QStringLiteral("Noto Sans CJK JP"), QStringLiteral("Noto Sans JP"),
                                QStringLiteral("DejaVu Sans")});
    QFont font(fromUtf8(form87::kFontFamily));
    font.setPixelSize(form87::kFontPixels);
    setFont(font);
    setWindowIcon(QIcon(QStringLiteral(":/zrvimage.xpm")));

    // Every control from the design's table, children after their group; labels are
    // sized to their texts once these are set.
    std::map<std::string_view, QWidget*> made{{form87::kFormName, this}};
    for (const form87::Control& c : form87::kControls) {
        QWidget* parent = made.at(c.parent.empty() ? form87::kFormName : c.parent);
        QWidget* widget = nullptr;
        switch (c.kind) {
        case form87::Kind::Label: widget = new QLabel(parent); break;
        case form87::Kind::ProgressBar: {
            auto* bar = new QProgressBar(parent);
            bar->setTextVisible(false);
            widget = bar;
            break;
        }
        case form87::Kind::GroupBox: widget = new QGroupBox(parent); break;
        case form87::Kind::Button: {
            auto* button = new QPushButton(parent);
            button->setText(fromUtf8(c.text));
            button->setAutoDefault(false);
            widget = button;
            break;
        }
        case form87::Kind::Edit: {
            auto* edit = new QLineEdit(parent);
            edit->setText(fromUtf8(c.text));
            widget = edit;
            break;
        }
        }
        place(widget, c);
        made[c.name] = widget;
    }
    const auto get = [&]<typename W>(W*& member, std::string_view name) { member = static_cast<W*>(made.at(name)); };
    get(Button1, "Button1");
    get(Button2, "Button2");
    get(Button3, "Button3");
    get(Button4, "Button4");
    get(GroupBox1, "GroupBox1");
    get(GroupBox2, "GroupBox2");
    get(GroupBox3, "GroupBox3");
    get(Edit1, "Edit1");
    get(Edit2, "Edit2");
    get(Edit3, "Edit3");
    get(Edit4, "Edit4");
    get(Edit5, "Edit5");
    get(Edit6, "Edit6");
    get(Label1, "Label1");
    get(Label2, "Label2");
    get(Label3, "Label3");
    get(Label4, "Label4");
    get(Label5, "Label5");
    get(Label6, "Label6");
    get(Label7, "Label7");
    get(Label8, "Label8");
    get(Label9, "Label9");
    get(Label10, "Label10");
    get(Label11, "Label11");
    get(Label12, "Label12");
    get(Label13, "Label13");
    get(ProgressBar1, "ProgressBar1");

    OpenDialog1 = makeFileDialog(this, "OpenDialog1", QFileDialog::AcceptOpen);
    SaveDialog1 = makeFileDialog(this, "SaveDialog1", QFileDialog::AcceptSave);

    // The run-time texts: the caption, the groups' titles, then the labels.
    setWindowTitle(fromUtf8(form87::kCaption));
    for (const form87::Control& c : form87::kControls) {
        if (c.kind == form87::Kind::GroupBox) static_cast<QGroupBox*>(made.at(c.name))->setTitle(fromUtf8(c.text));
    }
    for (const form87::Control& c : form87::kControls) {
        if (c.kind != form87::Kind::Label) continue;
        auto* label = static_cast<QLabel*>(made.at(c.name));
        label->setText(fromUtf8(c.text));
        label->adjustSize();
    }

    for (std::size_t i = 0; i + 1 < form87::kTabOrder.size(); ++i) {
        setTabOrder(made.at(form87::kTabOrder[i]), made.at(form87::kTabOrder[i + 1]));
    }

    progress_.setOnChange([this] { progressDirty_ = true; });
    progressDirty_ = true;
    syncProgressBar();

    connect(Button1, &QPushButton::clicked, this, [this] { dispatch([this] { Button1Click(); }, true); });
    connect(Button2, &QPushButton::clicked, this, [this] { dispatch([this] { Button2Click(); }, true); });
    connect(Button3, &QPushButton::clicked, this, [this] { dispatch([this] { Button3Click(); }, true); });
    connect(Button4, &QPushButton::clicked, this, [this] { dispatch([this] { Button4Click(); }, false); });
    steady_.start();
    clock_ = [this] { return steady_.nsecsElapsed(); };
    lastEventPassNs_ = clock_();
}

TForm87::~TForm87() = default;

void TForm87::Button1Click()
{
    window::cropTo2048(*this);
}

void TForm87::Button2Click()
{
    window::findAreaMaxima(*this);
}

void TForm87::Button3Click()
{
    window::makeNdviRaster(*this);
}

void TForm87::Button4Click()
{
    showMessage(helpText());
}

void TForm87::dispatch(const std::function<void()>& handler, bool isOperation)
{
    const bool startsRun = isOperation && !running_;
    if (isOperation && running_) return;  // a run is under way; its buttons are off
    if (startsRun) {
        running_ = true;
        longestEventGapNs_ = 0;
        eventPasses_ = 0;
        eventPassesNs_ = 0;
        lastEventPassNs_ = clock_();
        setRunButtonsEnabled(false);
    }
    try {
        handler();
    } catch (const std::exception&) {
        if (const auto text = runtime::caughtErrorText()) showErrorBox(*text);
    }
    if (startsRun) {
        syncProgressBar();
        running_ = false;
        setRunButtonsEnabled(true);
        if (closeRequested_) close();
    }
}

void TForm87::setRunButtonsEnabled(bool enabled)
{
    for (std::string_view name : form87::kRunButtons) {
        findChild<QPushButton*>(fromUtf8(name))->setEnabled(enabled);
    }
}

void TForm87::showErrorBox(const std::string& message)
{
    if (closeRequested_) return;
    QMessageBox box(QMessageBox::Critical, applicationTitle_, fromUtf8(runtime::errorBoxText(message)),
                    QMessageBox::Ok, this);
    box.setTextFormat(Qt::PlainText);
    execModal(box);
}

std::optional<std::string> TForm87::chooseFile(window::FileDialog which, const window::FileDialogRequest& request)
{
    if (closeRequested_) return std::nullopt;
    QFileDialog* dialog = which == window::FileDialog::Open ? OpenDialog1 : SaveDialog1;
    dialog->setWindowTitle(fromUtf8(request.title));
    dialog->setNameFilters(qtNameFilters(fromUtf8(request.filter)));
    QString suffix = fromUtf8(request.defaultExt);
    if (suffix.startsWith(QLatin1Char('.'))) suffix.remove(0, 1);
    dialog->setDefaultSuffix(suffix);

    // The last confirmed name of this dialog is proposed again; its folder is the
    // only one remembered.
    const QString last = dialog->property("FileName").toString();
    if (!last.isEmpty()) dialog->selectFile(last);

    syncProgressBar();
    const int result = execModal(*dialog);
    // Typing a name opens the name field's completion list, and Enter there confirms
    // the dialog with the list still up. Left behind, it keeps the application in popup
    // mode: the next click anywhere in the window would only close it. A following
    // dialog or box closes it as it opens; an operation that ends silently does not.
    for (QCompleter* completer : dialog->findChildren<QCompleter*>()) {
        if (QWidget* list = completer->popup(); list->isVisible()) list->hide();
    }
    if (result != QDialog::Accepted) return std::nullopt;
    const QStringList chosen = dialog->selectedFiles();
    if (chosen.isEmpty()) return std::nullopt;
    dialog->setProperty("FileName", chosen.first());
    return QFile::encodeName(chosen.first()).toStdString();
}

void TForm87::showMessage(const std::string& text)
{
    syncProgressBar();
    // Once the window was closed during a run, the run's last messages return at once.
    if (closeRequested_) return;
    QMessageBox box(QMessageBox::NoIcon, applicationTitle_, fromUtf8(text), QMessageBox::Ok, this);
    box.setTextFormat(Qt::PlainText);
    box.setDefaultButton(QMessageBox::Ok);
    box.setEscapeButton(QMessageBox::Ok);
    execModal(box);
}

std::string TForm87::fieldText(window::Field field)
{
    QLineEdit* const edits[] = {Edit1, Edit2, Edit3, Edit4, Edit5, Edit6};
    return toUtf8(edits[static_cast<int>(field) - 1]->text());
}

void TForm87::setResultLabel(window::ResultLabel which, const std::string& text)
{
    QLabel* const labels[] = {Label8, Label9, Label10};
    QLabel* label = labels[static_cast<int>(which) - 8];
    label->setText(fromUtf8(text));
    label->adjustSize();
}

void TForm87::exitProcess(int status)
{
    std::exit(status);
}

void TForm87::closeEvent(QCloseEvent* event)
{
    if (running_) {
        // The run goes on to its end with the window shown; then the program ends.
        closeRequested_ = true;
        event->ignore();
        return;
    }
    QWidget::closeEvent(event);
}

int TForm87::execModal(QDialog& dialog)
{
    longestEventGapNs_ = std::max(longestEventGapNs_, clock_() - lastEventPassNs_);
    const int result = dialog.exec();
    lastEventPassNs_ = clock_();
    return result;
}

void TForm87::pumpNow()
{
    const qint64 start = clock_();
    const qint64 gap = start - lastEventPassNs_;
    if (gap < kPumpPeriodNs) return;
    longestEventGapNs_ = std::max(longestEventGapNs_, gap);
    syncProgressBar();
    QCoreApplication::processEvents();
    if (eventPassHook_) eventPassHook_();
    lastEventPassNs_ = clock_();
    ++eventPasses_;
    eventPassesNs_ += lastEventPassNs_ - start;
}

void TForm87::setClock(Clock clock)
{
    clock_ = std::move(clock);
    lastEventPassNs_ = clock_();
}

void TForm87::syncProgressBar()
{
    if (!progressDirty_) return;
    progressDirty_ = false;
    // Qt draws a busy animation for an empty range; the window shows an empty bar.
    const bool empty = progress_.min() == progress_.max();
    ProgressBar1->setRange(progress_.min(), empty ? progress_.min() + 1 : progress_.max());
    ProgressBar1->setValue(progress_.position());
}
