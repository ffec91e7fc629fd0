#include "workers.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalBlocker>

#include <algorithm>
#include <exception>
#include <utility>

#include "Unit1.h"
#include "app/globals.h"
#include "catalogue/fatdss.h"

QString LocalText(const std::string& s) { return QString::fromLocal8Bit(s.data(), static_cast<qsizetype>(s.size())); }

QString ViewLines(const std::vector<std::string>& lines, std::size_t from, std::size_t to) {
    QString text;
    for (std::size_t i = from; i < to; ++i) {
        if (i > from) text += QLatin1Char('\n');
        text += ViewText(lines[i]);
    }
    return text;
}

std::string WindowText(const Outcome& o, Job job, const std::string& port, const std::string& name, std::size_t lines) {
    const char* consequence = job == Job::kListing  ? "No logs were listed."
                              : job == Job::kUpload ? "Nothing was uploaded."
                              : o.sent              ? "The log may not have been deleted."
                                                    : "The log was not deleted.";
    const std::string what = job == Job::kListing ? "listing" : "upload";
    const bool ended = o.kind == Ending::Done || o.kind == Ending::Stopped || o.kind == Ending::PortNotOpened;
    if (!o.answered && !ended && job != Job::kDelete) return UnansweredText(o, port, what, consequence);
    const std::string broken = BrokenText(o, what);
    switch (o.kind) {
        case Ending::Done:
        case Ending::Stopped:
            return std::string();
        case Ending::PortNotOpened:
            return OpenFailureText(port, o, consequence);
        case Ending::DeviceSilent:
            return UnansweredText(o, port, what, consequence);
        case Ending::Short:
        case Ending::Unended:
            return UnprovenText(o, name) +
                   "\nThe log stays on the logger. What came is offered for saving under the log's own name.";
        case Ending::LineLost:
        case Ending::Cut:
        case Ending::NotSent:
        case Ending::NoLines:
            break;
    }
    // An empty listing shows as "no entries", which is what the device sent.
    if (job == Job::kListing && o.kind == Ending::NoLines) return std::string();
    if (job == Job::kListing) return broken + "\nThe list may be incomplete.";
    if (job == Job::kUpload && lines == 0)
        return "The device sent no line for log \"" + name + "\"." + (broken.empty() ? "" : "\n" + broken) +
               "\nNothing was saved.";
    if (job == Job::kUpload)
        return broken + "\nThe log is incomplete: " + std::to_string(lines) +
               " lines arrived. Save them only if a partial log is of use; the file name says it is incomplete.";
    if (!o.sent)
        return "The delete command could not be sent to the device on " + port + ": " +
               (o.kind == Ending::Cut        ? "the device kept sending and never fell silent for it."
                : o.kind == Ending::LineLost ? "the connection was lost."
                                             : "the device did not take it (is it switched on and connected?).") +
               "\n\n" + consequence;
    if (o.kind == Ending::LineLost)
        return "The connection to the device on " + port + " was lost after the delete command.\n\n" + consequence;
    return std::string();
}

// ---------------------------------------------------------------- TWorker

std::function<void(const char*)> TWorker::Checkpoint;

void TWorker::ButtonsFalse() { Form1->ControlsForRun(); }

void TWorker::RichEdit1Clear() { Form1->RichEdit1->clear(); }

void TWorker::ShowError() { Form1->ShowError(QString::fromLatin1(Action()), LocalText(GetStr())); }

void TWorker::Guarded(const std::function<void()>& run, const std::function<void()>& tidy,
                      const std::function<void()>& done, const char* what) {
    try {
        run();
    } catch (const EThreadTerminated&) {
        // The window is closing: nothing more to show.
    } catch (const std::exception& e) {
        const std::string error = e.what();
        try {
            tidy();
        } catch (...) {
        }
        Report(std::string("The ") + what + " failed: " + error);
        try {
            done();
        } catch (...) {
        }
    }
}

void TWorker::Report(const std::string& text) {
    try {
        SetStr(text);
        Synchronize(&TWorker::ShowError);
    } catch (...) {
        // The window is closing or the report itself failed; nothing is left to tell.
    }
}

// -------------------------------------------------------- TListLogsThread

void TListLogsThread::ButtonsTrue() { Form1->ControlsAfterRun(list_state != 0); }

void TListLogsThread::ComboBox2Clear() {
    const QSignalBlocker blocker(Form1->ComboBox2);
    Form1->ComboBox2->clear();
}

void TListLogsThread::ComboBox2Add() {
    const QSignalBlocker blocker(Form1->ComboBox2);
    Form1->ComboBox2->addItem(LocalText(GetStr()));
}

void TListLogsThread::ComboBox2Text() {
    const QSignalBlocker blocker(Form1->ComboBox2);
    Form1->ComboBox2->setEditText(LocalText(GetStr()));
}

void TListLogsThread::ComboBox2ItemIndex() {
    const QSignalBlocker blocker(Form1->ComboBox2);
    Form1->ComboBox2->setCurrentIndex(0);
}

void TListLogsThread::ComboBox2Change() { Form1->ComboBox2Change(); }

void TListLogsThread::LabelClearCaption() {
    for (QLabel* l : {Form1->Label5, Form1->Label6, Form1->Label7, Form1->Label8}) TForm1::SetCaption(l, std::string());
}

void TListLogsThread::NoEntries() {
    SetStr("no entries");
    Synchronize(&TListLogsThread::ComboBox2Text);
    Synchronize(&TListLogsThread::LabelClearCaption);
    list_state = 0;
}

void TListLogsThread::ShowLogs(const Listing& l) {
    // Only logs go into the list, so that entry i of the log box stays
    // line i of `list`; what else the device said is shown when nothing
    // else came.
    for (std::size_t i = 0; i < l.logs.size(); ++i) {
        list->Add(l.log_lines[i]);
        SetStr(entry_text(l.logs[i].start));
        Synchronize(&TListLogsThread::ComboBox2Add);
    }
    if (!l.logs.empty()) {
        SetStr(entry_text(l.logs.front().start));
        Synchronize(&TListLogsThread::ComboBox2Text);
        Synchronize(&TListLogsThread::ComboBox2ItemIndex);
        Synchronize(&TListLogsThread::ComboBox2Change);
        list_state = 1;
    } else {
        NoEntries();
    }
}

void TListLogsThread::ReportListing(const std::string& port, const Listing& l, bool quiet) {
    const std::string words = WindowText(l.outcome, Job::kListing, port);
    if (!words.empty()) {
        if (!quiet) Report(words);
    } else if (l.logs.empty() && !l.other.empty()) {
        Report(NoLogsListedText(port, l.other));
    }
    if (after_ && l.AfterDeleting(after_->name) == Listing::AfterDelete::StillListed && !quiet) {
        Report("The device did not delete log " + after_->file + "; it is still listed.\n" +
               (after_->reply.empty() ? std::string("It gave no immediate reply to the delete command.")
                                      : "Its reply to the delete command:\n" + Quoted({after_->reply}, 1)));
    }
}

void TListLogsThread::Execute() {
    // The click handler disabled the controls; with no port there is nothing
    // to list, and the window goes back to how it was.
    if (selport.empty()) {
        try {
            Synchronize(&TListLogsThread::ButtonsTrue);
        } catch (...) {
        }
        return;
    }
    const std::string port = selport;
    Guarded(
        [&] {
            Synchronize(&TListLogsThread::ButtonsFalse);
            list->Clear();
            Synchronize(&TListLogsThread::ComboBox2Clear);
            Synchronize(&TListLogsThread::RichEdit1Clear);

            // After a delete that already told why it failed, the listing's
            // own failures have the same cause: they are not told twice.
            const bool quiet = after_ && after_->reported;
            const Listing l = ListLogs(port, Pauses());
            if (l.outcome.kind == Ending::PortNotOpened) {
                NoEntries();
                if (!quiet) Report(WindowText(l.outcome, Job::kListing, port));
                Synchronize(&TListLogsThread::ButtonsTrue);
                return;
            }
            if (l.outcome.kind == Ending::Stopped) throw EThreadTerminated();
            if (Checkpoint) Checkpoint("listed");

            ShowLogs(l);
            ReportListing(port, l, quiet);
            Synchronize(&TListLogsThread::ButtonsTrue);
        },
        [this] {
            list_state = 0;
            if (list) list->Clear();
            Synchronize(&TListLogsThread::ComboBox2Clear);
            NoEntries();
        },
        [this] { Synchronize(&TListLogsThread::ButtonsTrue); }, "listing");
}

// ------------------------------------------------------- TUploadLogThread

TUploadLogThread::TUploadLogThread(bool CreateSuspended, std::string port, fatdss_t log)
    : TWorker(CreateSuspended), port_(std::move(port)), log_(std::move(log)) {}

void TUploadLogThread::ButtonsTrue() { Form1->ControlsAfterRun(true); }

// The bar ignores a value outside its range (it does not clamp), and a range
// of 0 to 0 turns it into a busy indicator. So a position past the maximum
// shows a full bar, and a log shorter than two seconds (maximum 0) gets a
// range of 0 to 1 that is full from its first line on.
void TUploadLogThread::ProgressBar1Pos() {
    QProgressBar* bar = Form1->ProgressBar1;
    bar->setValue(std::clamp(GetVal(), bar->minimum(), bar->maximum()));
}

void TUploadLogThread::ProgressBar1Max() {
    progress_->maximum = GetVal();
    Form1->ProgressBar1->setMaximum(std::max(1, GetVal()));
}

void TUploadLogThread::ShowLine(QProgressBar* bar, int maximum, int position) {
    bar->setValue(maximum <= 0 ? bar->maximum() : std::min(position, bar->maximum()));
}

void TUploadLogThread::RichEdit1Add() { Form1->RichEdit1->appendPlainText(block_); }

void TUploadLogThread::SaveToFile() {
    QFileDialog* dialog = Form1->SaveDialog1;
    // A cut log never goes under the whole log's name: it could later pass for it.
    QString proposed = Form1->Label5->text();
    if (incomplete_ && !proposed.isEmpty()) {
        if (proposed.endsWith(QStringLiteral(".log"))) proposed.chop(4);
        proposed += QStringLiteral("-incomplete.log");
    }
    dialog->selectFile(proposed);
    QStringList chosen;
    // Two logs can share a name (their start time): a file that holds
    // another log is replaced only when the person says so; No offers the
    // dialog again, for another name. The same bytes are saved again
    // without a question.
    for (;;) {
        if (dialog->exec() != QDialog::Accepted) return;
        chosen = dialog->selectedFiles();
        if (chosen.isEmpty()) return;
        QString unread;
        if (!QFileInfo::exists(chosen.first()) || SameLogFile(chosen.first(), lines_.Lines(), &unread)) break;
        const QString path = QDir::toNativeSeparators(chosen.first());
        const QString question =
            unread.isEmpty() ? QStringLiteral("%1 already holds another log. Replace it?").arg(path)
                             : QStringLiteral("%1 exists and cannot be read (%2). Replace it?").arg(path, unread);
        QMessageBox box(QMessageBox::Warning, dialog->windowTitle(), question, QMessageBox::Yes | QMessageBox::No,
                        Form1);
        box.setTextFormat(Qt::PlainText);
        box.setDefaultButton(QMessageBox::No);
        box.setEscapeButton(QMessageBox::No);
        if (box.exec() == QMessageBox::Yes) break;
        dialog->selectFile(chosen.first());
    }
    const QString path = QDir::toNativeSeparators(chosen.first());
    const std::string error = WriteLogFile(chosen.first(), lines_.Lines());
    if (!error.empty())
        Form1->ShowError(QString::fromLatin1(Action()),
                         QStringLiteral("The log could not be saved to \"%1\":\n%2").arg(path, LocalText(error)));
}

void TUploadLogThread::QueueProgress(int position) {
    progress_->latest.store(position, std::memory_order_relaxed);
    if (progress_->queued.exchange(true)) return;
    std::shared_ptr<Progress> progress = progress_;
    QMetaObject::invokeMethod(
        Form1,
        [progress] {
            progress->queued.store(false);
            if (Form1)
                ShowLine(Form1->ProgressBar1, progress->maximum, progress->latest.load(std::memory_order_relaxed));
        },
        Qt::QueuedConnection);
}

// The view takes the lines in blocks: one step per line would keep the
// window busy for seconds on a long log, and one block of long lines too
// large would stall it. Each block's text is made here, so that the window's
// thread only appends it.
void TUploadLogThread::ShowInView() {
    const std::vector<std::string>& lines = lines_.Lines();
    for (std::size_t from = 0; from < lines.size();) {
        std::size_t to = from;
        for (std::size_t bytes = 0; to < lines.size() && to - from < kLinesPerStep && bytes < kBytesPerStep; ++to)
            bytes += lines[to].size() + 1;
        block_ = ViewLines(lines, from, to);
        from = to;
        Synchronize(&TUploadLogThread::RichEdit1Add);
    }
}

void TUploadLogThread::Execute() {
    Guarded(
        [&] {
            Synchronize(&TUploadLogThread::ButtonsFalse);
            Synchronize(&TUploadLogThread::RichEdit1Clear);

            SetVal(0);
            Synchronize(&TUploadLogThread::ProgressBar1Pos);
            SetVal(ProgressMaximum(log_.dur));
            Synchronize(&TUploadLogThread::ProgressBar1Max);

            LogRead r = ReadLog(
                port_, log_, [this](int position, std::size_t) { QueueProgress(position); }, Pauses());
            const Outcome o = r.outcome;
            if (o.kind == Ending::PortNotOpened) {
                Report(WindowText(o, Job::kUpload, port_));
                Synchronize(&TUploadLogThread::ButtonsTrue);
                return;
            }
            if (o.kind == Ending::Stopped) throw EThreadTerminated();
            lines_ = std::move(r.lines);
            if (Checkpoint) Checkpoint("uploaded");

            ShowInView();
            if (Checkpoint) Checkpoint("shown");

            // Only lines are ever offered for saving; a broken reply under a
            // name that says it is incomplete.
            const std::size_t count = lines_.Lines().size();
            incomplete_ = o.Broken();
            const std::string words = WindowText(o, Job::kUpload, port_, log_.name, count);
            if (!words.empty()) Report(words);
            if (count > 0 && (o.Whole() || o.Broken() || o.Unproven())) Synchronize(&TUploadLogThread::SaveToFile);
            SetVal(0);
            Synchronize(&TUploadLogThread::ProgressBar1Pos);
            Synchronize(&TUploadLogThread::ButtonsTrue);
        },
        [this] {
            SetVal(0);
            Synchronize(&TUploadLogThread::ProgressBar1Pos);
        },
        [this] { Synchronize(&TUploadLogThread::ButtonsTrue); }, "upload");
}

// ------------------------------------------------------- TDeleteLogThread

void TDeleteLogThread::ListAfter() {
    Form1->ControlsAfterRun(list_state != 0);
    Form1->StartListing(std::move(after_));
}

void TDeleteLogThread::Execute() {
    // Until the device is known to have taken the command, a failure is told
    // here, and the listing after it does not tell it again.
    after_ = TListLogsThread::AfterDelete{name_, file_, std::string(), true};
    Guarded(
        [&] {
            Synchronize(&TDeleteLogThread::ButtonsFalse);
            const Deletion d = DeleteLog(port_, name_, Pauses());
            if (d.outcome.kind == Ending::Stopped) throw EThreadTerminated();
            after_.reply = d.reply;
            const std::string failure = WindowText(d.outcome, Job::kDelete, port_);
            if (failure.empty())
                after_.reported = false;
            else
                Report(failure);
            Synchronize(&TDeleteLogThread::ListAfter);
        },
        [] {}, [this] { Synchronize(&TDeleteLogThread::ListAfter); }, "delete");
}
