#include "window/Unit87.h"

#include "window/AreaMaxima.h"
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

namespace {

// Waiting events are handled at most this often during a run: a hundred times a
// second, more than a screen shows, and rarely enough that the passes (a few tenths of
// a millisecond each, the progress bar repainted) cost the run about 3 %.
constexpr qint64 kPumpPeriodNs = 10'000'000;

QString fromUtf8(const std::string& text)
{
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

std::string toUtf8(const QString& text)
{
    return text.toUtf8().toStdString();
}

template <typename W>
W* place(W* widget, const char* name, int left, int top, int width = -1, int height = -1)
{
    widget->setObjectName(QString::fromLatin1(name));
    if (width < 0) {
        widget->move(left, top);
    } else {
        widget->setGeometry(left, top, width, height);
    }
    return widget;
}

QLineEdit* makeEdit(QWidget* parent, const char* name, int left, int top, const char* text)
{
    auto* edit = place(new QLineEdit(parent), name, left, top, 41, 21);
    edit->setText(QString::fromUtf8(text));
    return edit;
}

QPushButton* makeButton(QWidget* parent, const char* name, int left, int top, const char* text)
{
    auto* button = place(new QPushButton(parent), name, left, top, 75, 25);
    button->setText(QString::fromUtf8(text));
    button->setAutoDefault(false);
    return button;
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
    return "NDVI画像作成では，NIRとRが共にゼロの場合，-10としています．\n\n"
           "RAWファイルの画像処理は，リモートセンシング画像処理ソフトVKS等を使用して下さい．";
}

TForm87::TForm87(QWidget* parent)
    : QWidget(parent)
    , applicationTitle_(fromUtf8(runtime::applicationTitle(toUtf8(QCoreApplication::applicationFilePath()))))
{
    initResources();
    setObjectName(QStringLiteral("Form87"));
    resize(364, 433);
    // Tahoma 8 pt at 96 dpi is 11 pixels. Where Tahoma is missing, Noto Sans CJK JP
    // stands in: its Latin letters are about as narrow as Tahoma's, so the texts fit
    // the designed layout, and it has the Japanese glyphs.
    QFont::insertSubstitutions(QStringLiteral("Tahoma"),
                               {QStringLiteral("Noto Sans CJK JP"), QStringLiteral("Noto Sans JP"),
                                QStringLiteral("DejaVu Sans")});
    QFont font(QStringLiteral("Tahoma"));
    font.setPixelSize(11);
    setFont(font);
    setWindowIcon(QIcon(QStringLiteral(":/zrvimage.xpm")));

    Label13 = place(new QLabel(this), "Label13", 24, 376);
    ProgressBar1 = place(new QProgressBar(this), "ProgressBar1", 80, 376, 257, 17);
    ProgressBar1->setTextVisible(false);
    GroupBox1 = place(new QGroupBox(this), "GroupBox1", 24, 16, 313, 57);
    Button1 = makeButton(GroupBox1, "Button1", 24, 24, "実行");

    GroupBox2 = place(new QGroupBox(this), "GroupBox2", 24, 79, 313, 154);
    Label1 = place(new QLabel(GroupBox2), "Label1", 24, 38);
    Label2 = place(new QLabel(GroupBox2), "Label2", 24, 64);
    Label3 = place(new QLabel(GroupBox2), "Label3", 162, 16);
    Label4 = place(new QLabel(GroupBox2), "Label4", 218, 16);
    Label5 = place(new QLabel(GroupBox2), "Label5", 152, 96);
    Label6 = place(new QLabel(GroupBox2), "Label6", 152, 115);
    Label7 = place(new QLabel(GroupBox2), "Label7", 152, 134);
    Label8 = place(new QLabel(GroupBox2), "Label8", 218, 96);
    Label9 = place(new QLabel(GroupBox2), "Label9", 218, 115);
    Label10 = place(new QLabel(GroupBox2), "Label10", 218, 134);
    Button2 = makeButton(GroupBox2, "Button2", 24, 96, "実行");
    Edit1 = makeEdit(GroupBox2, "Edit1", 152, 35, "0");
    Edit2 = makeEdit(GroupBox2, "Edit2", 208, 35, "0");
    Edit3 = makeEdit(GroupBox2, "Edit3", 152, 62, "0");
    Edit4 = makeEdit(GroupBox2, "Edit4", 208, 62, "0");

    GroupBox3 = place(new QGroupBox(this), "GroupBox3", 24, 239, 313, 122);
    Label11 = place(new QLabel(GroupBox3), "Label11", 24, 28);
    Label12 = place(new QLabel(GroupBox3), "Label12", 24, 56);
    Edit5 = makeEdit(GroupBox3, "Edit5", 152, 24, "255");
    Edit6 = makeEdit(GroupBox3, "Edit6", 152, 51, "255");
    Button3 = makeButton(GroupBox3, "Button3", 24, 86, "実行");
    Button4 = makeButton(this, "Button4", 262, 400, "ヘルプ");

    OpenDialog1 = makeFileDialog(this, "OpenDialog1", QFileDialog::AcceptOpen);
    SaveDialog1 = makeFileDialog(this, "SaveDialog1", QFileDialog::AcceptSave);

    // The run-time texts, in the order the window has always set them.
    setWindowTitle(QString::fromUtf8("MIRVALEN－ZRV画像処理ソフト"));
    GroupBox1->setTitle(QString::fromUtf8("切り出し（2048×1536)"));
    GroupBox2->setTitle(QString::fromUtf8("エリア最大値算出"));
    GroupBox3->setTitle(QString::fromUtf8("NDVI画像（Float-RAW）作成"));
    const std::pair<QLabel*, const char*> labels[] = {
        {Label1, "左上座標（x,y) :"}, {Label2, "右下座標（x,y）:"}, {Label3, "x"},
        {Label4, "y"},               {Label5, "Red  -Max :"},     {Label6, "Green-Max :"},
        {Label7, "Blue -Max :"},     {Label8, ""},                {Label9, ""},
        {Label10, ""},               {Label11, "白色板 NIR (Max:255) :"},
        {Label12, "白色板 Red (Max:255) :"}, {Label13, "Progress :"},
    };
    for (const auto& [label, text] : labels) {
        label->setText(QString::fromUtf8(text));
        label->adjustSize();
    }

    // Keyboard order: the groups top to bottom, inside each as designed.
    QWidget* order[] = {Button1, Button2, Edit1, Edit2, Edit3, Edit4, Edit5, Edit6, Button3, Button4};
    for (std::size_t i = 0; i + 1 < std::size(order); ++i) setTabOrder(order[i], order[i + 1]);

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
        for (QPushButton* b : {Button1, Button2, Button3}) b->setEnabled(false);
    }
    try {
        handler();
    } catch (const runtime::EAbort&) {
    } catch (const runtime::Exception& e) {
        showErrorBox(e.message());
    } catch (const std::exception& e) {
        showErrorBox(e.what());
    }
    if (startsRun) {
        syncProgressBar();
        running_ = false;
        for (QPushButton* b : {Button1, Button2, Button3}) b->setEnabled(true);
        if (closeRequested_) close();
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
