#include "workers.h"

#include <algorithm>
#include <exception>
#include <utility>

#include "app/globals.h"
#include "catalogue/fatdss.h"

QString LocalText(const std::string& s) { return QString::fromLocal8Bit(s.data(), static_cast<qsizetype>(s.size())); }

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
            return std::string();
        case Ending::Stopped:
            if (job != Job::kUpload || lines == 0) return std::string();
            return "The upload was stopped: " + std::to_string(lines) +
                   " lines arrived. The log stays on the logger.\nSave them only if a partial log is of use; the "
                   "file name says it is incomplete.";
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

void TWorker::ButtonsFalse() { Hand(Handoff::What::ControlsForRun); }

void TWorker::RichEdit1Clear() { Hand(Handoff::What::ClearView); }

void TWorker::ShowError() {
    Handoff h{Handoff::What::Error};
    h.title = Action();
    h.text = GetStr();
    Hand(std::move(h));
}

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

void TListLogsThread::ButtonsTrue() {
    Handoff h{Handoff::What::ControlsAfterRun};
    h.flag = list_state != 0;
    Hand(std::move(h));
}

void TListLogsThread::ComboBox2Clear() { Hand(Handoff::What::ClearLogBox); }

void TListLogsThread::ComboBox2Add() { Hand(Handoff::What::AddLog, 0, GetStr()); }

void TListLogsThread::ComboBox2Text() { Hand(Handoff::What::LogBoxText, 0, GetStr()); }

void TListLogsThread::ComboBox2ItemIndex() { Hand(Handoff::What::ChooseFirstLog); }

void TListLogsThread::ComboBox2Change() { Hand(Handoff::What::ShowChosenLog); }

void TListLogsThread::LabelClearCaption() { Hand(Handoff::What::ClearLabels); }

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
            if (Checkpoint) Checkpoint("listed");
            // Stopped by the person: what came is shown, and nothing is told.

            ShowLogs(l);
            if (l.outcome.kind != Ending::Stopped) ReportListing(port, l, quiet);
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

TUploadLogThread::TUploadLogThread(bool CreateSuspended, TWindowSide* window, std::string port, fatdss_t log)
    : TWorker(CreateSuspended, window), port_(std::move(port)), log_(std::move(log)) {}

void TUploadLogThread::ButtonsTrue() {
    Handoff h{Handoff::What::ControlsAfterRun};
    h.flag = true;
    Hand(std::move(h));
}

void TUploadLogThread::ProgressBar1Pos() { Hand(Handoff::What::BarPosition, GetVal()); }

void TUploadLogThread::ProgressBar1Max() { Hand(Handoff::What::BarMaximum, GetVal()); }

void TUploadLogThread::RichEdit1Add() {
    Handoff h{Handoff::What::ShowLines};
    h.lines = lines_;
    Hand(std::move(h));
}

void TUploadLogThread::SaveToFile() {
    Handoff h{Handoff::What::Save};
    h.flag = incomplete_;
    h.lines = lines_;
    Hand(std::move(h));
}

std::string ProgressText(long lines, long expected, std::chrono::milliseconds elapsed) {
    std::string text = std::to_string(lines) + (expected > 0 ? " of " + std::to_string(expected) : "") + " lines";
    if (expected <= lines || lines <= 0 || elapsed.count() <= 0) return text;
    // At the rate so far; rounded up to whole seconds, and to whole minutes past an hour.
    const long long left_ms = (elapsed.count() * (expected - lines) + lines - 1) / lines;
    long long s = (left_ms + 999) / 1000;
    if (s >= 3600) s = (s + 59) / 60 * 60;
    text += ", about ";
    if (s >= 3600)
        text += std::to_string(s / 3600) + " h " + std::to_string(s % 3600 / 60) + " min left";
    else if (s >= 60)
        text += std::to_string(s / 60) + " min " + std::to_string(s % 60) + " s left";
    else
        text += std::to_string(s) + " s left";
    return text;
}

void TUploadLogThread::QueueProgress(int lines) {
    // The bar's scale runs to ProgressMaximum: a log shorter than two
    // seconds (maximum 0) shows a full bar from its first line on.
    const int maximum = ProgressMaximum(log_.dur);
    progress_->latest.store(maximum <= 0 ? 1 : lines, std::memory_order_relaxed);
    const auto now = std::chrono::steady_clock::now();
    if (now - told_ >= std::chrono::milliseconds(250)) {
        told_ = now;
        const std::lock_guard<std::mutex> lock(progress_->mutex);
        progress_->text = ProgressText(lines, ExpectedLines(log_),
                                       std::chrono::duration_cast<std::chrono::milliseconds>(now - started_));
    }
    if (progress_->queued.exchange(true)) return;
    std::shared_ptr<Progress> progress = progress_;
    window_->Queue([progress] {
        progress->queued.store(false);
        Handoff h{Handoff::What::BarPosition};
        h.value = progress->latest.load(std::memory_order_relaxed);
        const std::lock_guard<std::mutex> lock(progress->mutex);
        h.text = progress->text;
        return h;
    });
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

            started_ = std::chrono::steady_clock::now();
            // The lines are packed for the view as they come, so that the
            // view has them as soon as the reply ends.
            auto packing = std::make_shared<PackedLines>();
            LogRead r = ReadLog(
                port_, log_, [this](int position, std::size_t) { QueueProgress(position); }, Pauses(),
                [&packing](const std::string& line) { packing->Append(line); });
            const Outcome o = r.outcome;
            if (o.kind == Ending::PortNotOpened) {
                Report(WindowText(o, Job::kUpload, port_));
                Synchronize(&TUploadLogThread::ButtonsTrue);
                return;
            }
            if (Checkpoint) Checkpoint("uploaded");
            lines_ = std::move(packing);

            Synchronize(&TUploadLogThread::RichEdit1Add);
            if (Checkpoint) Checkpoint("shown");
            // The view and the save share the packed lines; the lines as
            // read are given up.
            r.lines.Take();

            // Only lines are ever offered for saving; a broken or stopped
            // reply under a name that says it is incomplete.
            const std::size_t count = lines_->size();
            incomplete_ = o.Broken() || o.kind == Ending::Stopped;
            const std::string words = WindowText(o, Job::kUpload, port_, log_.name, count);
            if (!words.empty()) Report(words);
            if (count > 0 && (o.Whole() || incomplete_ || o.Unproven())) Synchronize(&TUploadLogThread::SaveToFile);
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
    Handoff h{Handoff::What::ListAfterDelete};
    h.flag = list_state != 0;
    h.after = after_;
    Hand(std::move(h));
}

void TDeleteLogThread::Execute() {
    // Until the device is known to have taken the command, a failure is told
    // here, and the listing after it does not tell it again.
    after_ = AfterDelete{name_, file_, std::string(), true};
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
