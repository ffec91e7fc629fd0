#include "Unit1.h"

#include <QCloseEvent>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QIcon>
#include <QMessageBox>
#include <QMetaObject>
#include <QProgressBar>
#include <QPushButton>
#include <QShortcut>
#include <QShowEvent>
#include <QSignalBlocker>

#include <algorithm>
#include <chrono>
#include <exception>

#include "app/globals.h"
#include "catalogue/fatdss.h"
#include "discovery/portscan.h"
#include "link/serial.h"
#include "session/session.h"
#include "ui/plot.h"
#include "ui/workers.h"
#include "ui_Unit1.h"

TForm1* Form1 = nullptr;

// The icon's images live in a resource of this static library; the linker
// keeps them only when something names them.
static void initResources() { Q_INIT_RESOURCE(krx3); }

namespace {

const char kAppTitle[] = "KRX3 LogFile Upload Tool";

TForm1::RegistryFactory& registryFactory() {
    static TForm1::RegistryFactory factory;
    return factory;
}

}  // namespace

void TQtDispatcher::Post(std::function<void()> task) {
    QMetaObject::invokeMethod(context_, std::move(task), Qt::QueuedConnection);
}

void ShowException(const QString& text) {
    QMessageBox box(QMessageBox::Critical, QString::fromLatin1(kAppTitle), text, QMessageBox::Ok, Form1);
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

TForm1::TForm1(QWidget* Owner) : QWidget(Owner), ui_(new Ui::TForm1), dispatcher_(this) {
    ui_->setupUi(this);
    setWindowTitle(windowTitle().arg(QStringLiteral(KRX3_VERSION)));
    Button1 = ui_->Button1;
    Button2 = ui_->Button2;
    ComboBox1 = ui_->ComboBox1;
    Button3 = ui_->Button3;
    Button4 = ui_->Button4;
    RichEdit1 = ui_->RichEdit1;
    ComboBox2 = ui_->ComboBox2;
    ProgressBar1 = ui_->ProgressBar1;
    Label1 = ui_->Label1;
    Label2 = ui_->Label2;
    Label3 = ui_->Label3;
    Label4 = ui_->Label4;
    Label5 = ui_->Label5;
    Label6 = ui_->Label6;
    Label7 = ui_->Label7;
    Label8 = ui_->Label8;
    Button5 = ui_->Button5;
    SetUpLook();
    SetUpDialogs();
    SetUpAnchors();
    ConnectHandlers();

    Form1 = this;
    StopConversations(false);
    TThread::SetDispatcher(&dispatcher_);
}

void TForm1::SetUpLook() {
    // Tahoma where the system has it; elsewhere a face of the same metrics,
    // so that the captions fit the sizes of the layout.
    for (QWidget* w : {static_cast<QWidget*>(this), static_cast<QWidget*>(RichEdit1)}) {
        QFont f = w->font();
        f.setFamilies({QStringLiteral("Tahoma"), QStringLiteral("Liberation Sans"), QStringLiteral("Arial")});
        w->setFont(f);
    }
    // The captions size themselves to their text, as they do with Tahoma
    // at the layout's sizes; a substitute face may need a few pixels more.
    for (QLabel* l : {Label1, Label2, Label3, Label4})
        l->resize(std::max(l->width(), l->sizeHint().width()), l->height());
    // The value labels show what the device listed: plain text, never markup.
    for (QLabel* l : {Label5, Label6, Label7, Label8}) l->setTextFormat(Qt::PlainText);
    setBackgroundRole(QPalette::Button);
    initResources();
    QIcon icon;
    for (int size : {16, 24, 32, 48, 64, 128, 256}) icon.addFile(QStringLiteral(":/krx3/%1.png").arg(size));
    setWindowIcon(icon);
}

void TForm1::SetUpDialogs() {
    SaveDialog1 = new QFileDialog(this, QStringLiteral("Save KRX3 Logfile (.log)"));
    SaveDialog1->setObjectName(QStringLiteral("SaveDialog1"));
    SaveDialog1->setAcceptMode(QFileDialog::AcceptSave);
    SaveDialog1->setFileMode(QFileDialog::AnyFile);
    SaveDialog1->setNameFilter(QStringLiteral("log files (*.log)"));
    SaveDialog1->setDefaultSuffix(QStringLiteral("log"));
    SaveDialog1->setOption(QFileDialog::DontConfirmOverwrite, true);
    // The folder "log" below the working directory; the working directory
    // itself while there is no such folder.
    const QDir logDir(QDir::current().filePath(QStringLiteral("log")));
    SaveDialog1->setDirectory(logDir.exists() ? logDir.absolutePath() : QDir::currentPath());

    OpenDialog1 = new QFileDialog(this, QStringLiteral("View KRX3 Logfile (.log)"));
    OpenDialog1->setObjectName(QStringLiteral("OpenDialog1"));
    OpenDialog1->setAcceptMode(QFileDialog::AcceptOpen);
    OpenDialog1->setFileMode(QFileDialog::AnyFile);
    OpenDialog1->setNameFilter(QStringLiteral("log files (*.log)"));
    OpenDialog1->setDefaultSuffix(QStringLiteral("log"));
}

void TForm1::SetUpAnchors() {
    design_size_ = QSize(664, 434);
    auto anchor = [this](QWidget* w, bool right, bool bottom, bool stretchRight, bool stretchBottom) {
        anchored_.push_back({w, w->geometry(), right, bottom, stretchRight, stretchBottom});
    };
    anchor(RichEdit1, true, true, true, true);
    anchor(ProgressBar1, true, true, true, false);
    anchor(Button5, false, true, false, false);
    anchor(Button4, false, true, false, false);
    anchor(Button3, false, true, false, false);
}

void TForm1::ConnectHandlers() {
    connect(Button1, &QPushButton::clicked, this, [this] { Guarded(&TForm1::Button1Click); });
    connect(Button2, &QPushButton::clicked, this, [this] { Guarded(&TForm1::Button2Click); });
    connect(Button3, &QPushButton::clicked, this, [this] { Guarded(&TForm1::Button3Click); });
    connect(Button4, &QPushButton::clicked, this, [this] { Guarded(&TForm1::Button4Click); });
    connect(Button5, &QPushButton::clicked, this, [this] { Guarded(&TForm1::Button5Click); });
    connect(ComboBox1, &QComboBox::currentTextChanged, this, [this] { Guarded(&TForm1::ComboBox1Change); });
    // The choice of a log is a change of the selected entry (two entries may
    // read alike); typing selects none and so changes nothing.
    connect(ComboBox2, &QComboBox::currentIndexChanged, this, [this] { Guarded(&TForm1::ComboBox2Change); });
    auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    connect(escape, &QShortcut::activated, this, [this] { Guarded(&TForm1::EscapePressed); });
    connect(RichEdit1, &TLogView::PlotRequested, this, [this] { Guarded(&TForm1::ShowViewPlot); });
}

TForm1::~TForm1() {
    FormClose();
    if (Form1 == this) Form1 = nullptr;
}

void TForm1::SetRegistryFactory(RegistryFactory factory) { registryFactory() = std::move(factory); }

void TForm1::Guarded(void (TForm1::*handler)()) {
    Guarded([&] { (this->*handler)(); });
}

void TForm1::Guarded(const std::function<void()>& run) {
    try {
        run();
    } catch (const std::exception& e) {
        ShowException(QString::fromLocal8Bit(e.what()));
    } catch (...) {
        ShowException(QString());
    }
}

void TForm1::SetCaption(QLabel* label, const std::string& text) {
    label->setText(LocalText(text));
    label->resize(label->sizeHint().width(), label->height());
}

void TForm1::SetComboText(QComboBox* box, const QString& text) {
    const QSignalBlocker blocker(box);
    box->setEditText(text);
}

void TForm1::ShowError(const QString& title, const QString& text) {
    // The text may hold the device's words or a file's name: never markup.
    QMessageBox box(QMessageBox::Warning, title, text, QMessageBox::Ok, this);
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

void TForm1::ControlsForRun() {
    Button1->setEnabled(false);
    Button2->setEnabled(false);
    Button3->setEnabled(false);
    Button4->setEnabled(false);
    Button5->setEnabled(false);
    ComboBox1->setEnabled(false);
    ComboBox2->setEnabled(false);
}

void TForm1::ControlsAfterRun(bool logs) {
    run_.reset();
    ProgressBar1->setTextVisible(false);
    Button1->setEnabled(true);
    Button2->setEnabled(true);
    Button3->setEnabled(logs);
    Button4->setEnabled(logs);
    Button5->setEnabled(true);
    ComboBox1->setEnabled(true);
    ComboBox2->setEnabled(true);
}

void TForm1::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (shown_ || event->spontaneous()) return;
    shown_ = true;
    Guarded(&TForm1::FormShow);
}

void TForm1::closeEvent(QCloseEvent* event) {
    Guarded(&TForm1::FormClose);
    event->accept();
}

void TForm1::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    const int dx = width() - design_size_.width();
    const int dy = height() - design_size_.height();
    for (const Anchored& a : anchored_) {
        QRect r = a.design;
        if (a.stretch_right)
            r.setWidth(r.width() + dx);
        else if (a.right)
            r.translate(dx, 0);
        if (a.stretch_bottom)
            r.setHeight(r.height() + dy);
        else if (a.bottom)
            r.translate(0, dy);
        a.widget->setGeometry(r);
    }
}

void TForm1::FormShow() {
    if (list) list->SetSorted(true);
    for (QLabel* l : {Label5, Label6, Label7, Label8}) SetCaption(l, std::string());
    Button1Click();
}

void TForm1::FormClose() {
    if (closed_) return;
    closed_ = true;
    // A run still under way stops at its next read or step; it closes the
    // port itself, and as the window no longer takes its steps it saves
    // nothing. Only when it has ended are `list` and the port released: a
    // worker that does not end in time (it cannot, as every wait of a run is
    // bounded far below this) keeps both.
    StopRun();
    TThread::TerminateAll();
    const bool idle = TThread::WaitForAll(std::chrono::milliseconds(900));
    TThread::SetDispatcher(nullptr);
    if (!idle) return;
    delete list;
    list = nullptr;
    CloseCom();
}

void TForm1::ComboBox1Change() {
    selport = ComboBox1->currentText().toLocal8Bit().toStdString();
    ResetLogControls();
}

void TForm1::ResetLogControls() {
    {
        const QSignalBlocker blocker(ComboBox2);
        ComboBox2->clear();
    }
    if (list) list->Clear();
    SetComboText(ComboBox2, QStringLiteral("no entries"));
    for (QLabel* l : {Label5, Label6, Label7, Label8}) SetCaption(l, std::string());
    list_state = 0;
    Button3->setEnabled(false);
    Button4->setEnabled(false);
    RichEdit1->clear();
}

void TForm1::Button1Click() {
    // The logs listed belong to the port they came from: a scan that
    // changes the port resets them as choosing another port does.
    const std::string before = selport;
    const PortScanResult scan = registryFactory() ? ScanPorts(*registryFactory()()) : ScanMachinePorts();
    ShowPorts(scan);
    if (selport != before) ResetLogControls();
    // The ports shown are those that could be read; the person learns that
    // the list may lack some.
    if (scan.error.Failed()) ShowError(QStringLiteral("Scan Port"), LocalText(ScanFailureText(scan.error)));
}

void TForm1::ShowPorts(const PortScanResult& found) {
    const QSignalBlocker blocker(ComboBox1);
    const QString before = ComboBox1->currentText();
    ComboBox1->clear();
    if (!found.map_exists) {
        ComboBox1->setEditText(before);
        selport.clear();
        return;
    }
    for (const FoundPort& port : PortsInOrder(found)) ComboBox1->addItem(LocalText(port.name));
    if (ComboBox1->count() > 0) {
        ComboBox1->setCurrentIndex(0);
        ComboBox1->setEditText(ComboBox1->itemText(0));
        selport = ComboBox1->currentText().toLocal8Bit().toStdString();
    } else {
        ComboBox1->setEditText(QString());
        selport.clear();
    }
}

// The click itself disables the controls, so that a second click (or a
// change of port or log) cannot come between the click and the worker's
// first step; the worker's last step enables them again.
void TForm1::StartWorker(TThread* worker, Job job) {
    ControlsForRun();
    run_ = job;
    StopConversations(false);  // a stop asked for the run before holds no more
    try {
        worker->Resume();
    } catch (...) {
        delete worker;
        ControlsAfterRun(list_state != 0);
        throw;
    }
}

void TForm1::Button2Click() { StartListing(std::nullopt); }

void TForm1::StartListing(std::optional<AfterDelete> after) {
    if (selport.empty()) return;
    if (!Button2->isEnabled()) return;  // a run is under way
    StartWorker(new TListLogsThread(true, this, std::move(after)), Job::kListing);
}

void TForm1::StopRun() { StopConversations(true); }

void TForm1::EscapePressed() {
    if (run_ != Job::kListing && run_ != Job::kUpload) return;
    QMessageBox box(QMessageBox::Question, QString::fromLatin1(kAppTitle), QStringLiteral("Stop the upload?"),
                    QMessageBox::Yes | QMessageBox::No, this);
    box.setTextFormat(Qt::PlainText);
    box.setDefaultButton(QMessageBox::No);
    box.setEscapeButton(QMessageBox::No);
    // The run may have ended while the question was open: then there is nothing to stop.
    if (box.exec() == QMessageBox::Yes && run_) StopRun();
}

void TForm1::ShowViewPlot() {
    if (RichEdit1->LineCount() == 0) return;
    std::vector<std::string_view> lines;
    lines.reserve(RichEdit1->LineCount());
    for (std::size_t i = 0; i < RichEdit1->LineCount(); ++i) lines.push_back(RichEdit1->Lines()[i]);
    ShowPlot(this, lines, Label5->text());
}

void TForm1::Queue(std::function<Handoff()> make) {
    QMetaObject::invokeMethod(
        this, [this, make = std::move(make)] { Guarded([&] { Apply(make()); }); }, Qt::QueuedConnection);
}

void TForm1::Apply(Handoff h) {
    using W = Handoff::What;
    switch (h.what) {
        case W::ControlsForRun:
            ControlsForRun();
            return;
        case W::ControlsAfterRun:
            ControlsAfterRun(h.flag);
            return;
        case W::ClearView:
            RichEdit1->clear();
            return;
        case W::ShowLines:
            RichEdit1->SetLines(std::move(h.lines));
            return;
        case W::ClearLogBox: {
            const QSignalBlocker blocker(ComboBox2);
            ComboBox2->clear();
            return;
        }
        case W::AddLog: {
            const QSignalBlocker blocker(ComboBox2);
            ComboBox2->addItem(LocalText(h.text));
            return;
        }
        case W::LogBoxText:
            SetComboText(ComboBox2, LocalText(h.text));
            return;
        case W::ChooseFirstLog: {
            const QSignalBlocker blocker(ComboBox2);
            ComboBox2->setCurrentIndex(0);
            return;
        }
        case W::ShowChosenLog:
            ComboBox2Change();
            return;
        case W::ClearLabels:
            for (QLabel* l : {Label5, Label6, Label7, Label8}) SetCaption(l, std::string());
            return;
        case W::BarMaximum:
            // The bar ignores a value outside its range (it does not clamp),
            // and a range of 0 to 0 turns it into a busy indicator: a log
            // shorter than two seconds gets a range of 0 to 1.
            bar_maximum_ = h.value;
            ProgressBar1->setMaximum(std::max(1, h.value));
            return;
        case W::BarPosition:
            ProgressBar1->setValue(std::clamp(h.value, ProgressBar1->minimum(), ProgressBar1->maximum()));
            ProgressBar1->setFormat(LocalText(h.text));
            ProgressBar1->setTextVisible(!h.text.empty() && run_ == Job::kUpload);
            return;
        case W::Error:
            ShowError(LocalText(h.title), LocalText(h.text));
            return;
        case W::Save:
            SaveLines(*h.lines, h.flag);
            return;
        case W::ListAfterDelete:
            ControlsAfterRun(h.flag);
            StartListing(std::move(h.after));
            return;
    }
}

void TForm1::SaveLines(const PackedLines& packed, bool incomplete) {
    const LineSource lines{packed.size(), [&packed](std::size_t i) { return packed[i]; }};
    // A cut log never goes under the whole log's name: it could later pass for it.
    QString proposed = Label5->text();
    if (incomplete && !proposed.isEmpty()) {
        if (proposed.endsWith(QStringLiteral(".log"))) proposed.chop(4);
        proposed += QStringLiteral("-incomplete.log");
    }
    SaveDialog1->selectFile(proposed);
    QStringList chosen;
    // Two logs can share a name (their start time): a file that holds
    // another log is replaced only when the person says so; No offers the
    // dialog again, for another name. The same bytes are saved again
    // without a question.
    for (;;) {
        if (SaveDialog1->exec() != QDialog::Accepted) return;
        chosen = SaveDialog1->selectedFiles();
        if (chosen.isEmpty()) return;
        QString unread;
        if (!QFileInfo::exists(chosen.first()) || SameLogFile(chosen.first(), lines, &unread)) break;
        const QString path = QDir::toNativeSeparators(chosen.first());
        const QString question =
            unread.isEmpty() ? QStringLiteral("%1 already holds another log. Replace it?").arg(path)
                             : QStringLiteral("%1 exists and cannot be read (%2). Replace it?").arg(path, unread);
        QMessageBox box(QMessageBox::Warning, SaveDialog1->windowTitle(), question, QMessageBox::Yes | QMessageBox::No,
                        this);
        box.setTextFormat(Qt::PlainText);
        box.setDefaultButton(QMessageBox::No);
        box.setEscapeButton(QMessageBox::No);
        if (box.exec() == QMessageBox::Yes) break;
        SaveDialog1->selectFile(chosen.first());
    }
    const QString path = QDir::toNativeSeparators(chosen.first());
    const std::string error = WriteLogFile(chosen.first(), lines);
    if (!error.empty())
        ShowError(QStringLiteral("Upload Log"),
                  QStringLiteral("The log could not be saved to \"%1\":\n%2").arg(path, LocalText(error)));
}

void TForm1::Button3Click() {
    if (selport.empty()) return;
    if (!Button3->isEnabled()) return;
    if (!is_log_name(cf.name)) return;  // no log listed: no name to send
    StartWorker(new TUploadLogThread(true, this, selport, cf), Job::kUpload);
}

void TForm1::ComboBox2Change() {
    // Typing into the box leaves no entry selected: nothing to show.
    const int i = ComboBox2->currentIndex();
    if (i < 0 || i >= ComboBox2->count() || ComboBox2->itemText(i) != ComboBox2->currentText()) return;
    if (!list || i >= list->Count()) return;

    fatdss_t entry;
    xfnd(list->Get(i), &entry);
    SetComboText(ComboBox2, LocalText(entry_text(entry.start)));
    entry.file = file_name(entry.start);
    SetCaption(Label5, entry.file);
    SetCaption(Label6, label_text(entry.start));
    SetCaption(Label7, label_text(entry.stop));
    SetCaption(Label8, duration_text(entry));
    cf = entry;
}

void TForm1::Button4Click() {
    if (selport.empty()) return;
    if (!Button4->isEnabled()) return;
    if (!is_log_name(cf.name)) return;  // no log listed: no name to send
    const std::string question =
        "Sure You want to delete " + cf.file + "?" + "\nLogfile is irretrievable deleted from KRX3 internal storage ..";
    QMessageBox box(QMessageBox::NoIcon, QStringLiteral("Delete log file"), LocalText(question),
                    QMessageBox::Ok | QMessageBox::Cancel, this);
    box.setTextFormat(Qt::PlainText);
    box.setDefaultButton(QMessageBox::Ok);
    box.setEscapeButton(QMessageBox::Cancel);
    if (box.exec() != QMessageBox::Ok) return;

    StartWorker(new TDeleteLogThread(true, this, selport, cf.name, cf.file), Job::kDelete);
}

void TForm1::Button5Click() {
    if (OpenDialog1->exec() != QDialog::Accepted) return;
    const QStringList chosen = OpenDialog1->selectedFiles();
    if (chosen.isEmpty()) return;
    const QString path = chosen.first();
    if (!QFileInfo::exists(path)) return;

    // Read first, then replace: a file that cannot be read leaves the view as it was.
    QByteArray text;
    QString error;
    if (!ReadLogFileText(path, &text, &error)) {
        ShowError(QStringLiteral("View Log"),
                  QStringLiteral("The file \"%1\" could not be read:\n%2").arg(QDir::toNativeSeparators(path), error));
        return;
    }
    RichEdit1->SetLines(std::make_shared<const PackedLines>(PackedLines::FromFileText(std::move(text))));
}
