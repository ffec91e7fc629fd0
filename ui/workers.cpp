#include "workers.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
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
#include "fatdss.h"
#include "globals.h"
#include "serial.h"

QString LocalText(const std::string& s) { return QString::fromLocal8Bit(s.data(), static_cast<qsizetype>(s.size())); }

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

QString ViewText(const std::string& line) {
    QString text = QString::fromLatin1(line.data(), static_cast<qsizetype>(line.size()));
    text.replace(QChar(u'\0'), QChar(0xFFFD));
    return text;
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

std::vector<std::string> TListLogsThread::ShowLogs(const Conversation& c) {
    // Only logs go into the list, so that entry i of the log box stays
    // line i of `list`; what else the device said is shown when nothing
    // else came.
    const std::vector<std::string> other = SplitListing(c.reply, list);
    for (int i = 0; i < list->Count(); ++i) {
        fatdss_t entry;
        xfnd(list->Get(i), &entry);
        SetStr(entry_text(entry.start));
        Synchronize(&TListLogsThread::ComboBox2Add);
        still_there_ = still_there_ || (after_ && entry.name == after_->name);
    }
    if (list->Count() > 0) {
        fatdss_t first;
        xfnd(list->Get(0), &first);
        SetStr(entry_text(first.start));
        Synchronize(&TListLogsThread::ComboBox2Text);
        Synchronize(&TListLogsThread::ComboBox2ItemIndex);
        Synchronize(&TListLogsThread::ComboBox2Change);
        list_state = 1;
    } else {
        NoEntries();
    }
    return other;
}

void TListLogsThread::ReportListing(const std::string& port, const Conversation& c,
                                    const std::vector<std::string>& other, bool quiet) {
    const std::string problem = ExchangeProblem(c.end, "listing");
    if (!problem.empty()) {
        if (!quiet) Report(problem + "\nThe list may be incomplete.");
    } else if (c.Silent()) {
        if (!quiet) Report(NoAnswerText(port, "No logs were listed."));
    } else if (list->Count() == 0 && !other.empty()) {
        Report(NoLogsListedText(port, other));
    }
    if (still_there_ && problem.empty() && !quiet) {
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
            Conversation c = ListLogs(port, Pauses());
            if (!c.opened) {
                NoEntries();
                if (!quiet) Report(OpenFailureText(port, c.open_error, "No logs were listed."));
                Synchronize(&TListLogsThread::ButtonsTrue);
                return;
            }
            if (c.end == ExchangeEnd::Stopped) throw EThreadTerminated();
            if (Checkpoint) Checkpoint("listed");

            const std::vector<std::string> other = ShowLogs(c);
            ReportListing(port, c, other, quiet);
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

TUploadLogThread::TUploadLogThread(bool CreateSuspended, std::string port, std::string name, std::uint32_t dur)
    : TWorker(CreateSuspended), port_(std::move(port)), name_(std::move(name)), dur_(dur) {}

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
    if (dialog->exec() != QDialog::Accepted) return;
    const QStringList chosen = dialog->selectedFiles();
    if (chosen.isEmpty()) return;
    const std::string error = WriteLogFile(chosen.first(), lines_.Lines());
    if (!error.empty())
        Form1->ShowError(QString::fromLatin1(Action()),
                         QStringLiteral("The log could not be saved to \"%1\":\n%2")
                             .arg(QDir::toNativeSeparators(chosen.first()), LocalText(error)));
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
        block_.clear();
        std::size_t to = from;
        while (to < lines.size() && to - from < kLinesPerStep &&
               static_cast<std::size_t>(block_.size()) < kBytesPerStep) {
            if (to > from) block_ += QLatin1Char('\n');
            block_ += ViewText(lines[to++]);
        }
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
            SetVal(static_cast<int>(dur_ >> 1));
            Synchronize(&TUploadLogThread::ProgressBar1Max);

            Conversation c = ReadLog(
                port_, name_, [this](int position, std::size_t) { QueueProgress(position); }, Pauses());
            if (!c.opened) {
                Report(OpenFailureText(port_, c.open_error, "Nothing was uploaded."));
                Synchronize(&TUploadLogThread::ButtonsTrue);
                return;
            }
            if (c.end == ExchangeEnd::Stopped) throw EThreadTerminated();
            lines_ = std::move(c.reply);
            if (Checkpoint) Checkpoint("uploaded");

            ShowInView();
            if (Checkpoint) Checkpoint("shown");

            const std::vector<std::string>& lines = lines_.Lines();
            const std::string problem = ExchangeProblem(c.end, "upload");
            incomplete_ = !problem.empty();
            if (c.Silent() && problem.empty()) {
                Report(NoAnswerText(port_, "Nothing was uploaded."));
            } else if (lines.empty()) {
                Report("The device sent no line for log \"" + name_ + "\"." + (problem.empty() ? "" : "\n" + problem) +
                       "\nNothing was saved.");
            } else {
                if (!problem.empty())
                    Report(problem + "\nThe log is incomplete: " + std::to_string(lines.size()) +
                           " lines arrived. Save them only if a partial log is of use; the file name says it is "
                           "incomplete.");
                Synchronize(&TUploadLogThread::SaveToFile);
            }
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
            const Conversation c = DeleteLog(port_, name_, Pauses());
            if (c.end == ExchangeEnd::Stopped) throw EThreadTerminated();
            if (c.reply.Count() > 0) after_.reply = c.reply.Get(0);
            std::string failure;
            if (!c.opened) {
                failure = OpenFailureText(port_, c.open_error, "The log was not deleted.");
            } else if (!c.sent) {
                failure = "The delete command could not be sent to the device on " + port_ + ": " +
                          (c.end == ExchangeEnd::Overrun ? "the device kept sending and never fell silent for it."
                           : c.end == ExchangeEnd::LineLost
                               ? "the connection was lost."
                               : "the device did not take it (is it switched on and connected?).") +
                          "\n\nThe log was not deleted.";
            } else if (c.end == ExchangeEnd::LineLost) {
                failure = "The connection to the device on " + port_ +
                          " was lost after the delete command.\n\nThe log may not have been deleted.";
            } else if (c.Silent()) {
                failure = NoAnswerText(port_, "The log may not have been deleted.");
            }
            if (failure.empty())
                after_.reported = false;
            else
                Report(failure);
            Synchronize(&TDeleteLogThread::ListAfter);
        },
        [] {}, [this] { Synchronize(&TDeleteLogThread::ListAfter); }, "delete");
}
