// The three background workers: the listing of the device's logs, the
// upload of one log and the deletion of one. Each talks to the device on its
// own thread and hands what it has to the window at its UI steps, run with
// Synchronize: each step is one Handoff that the window applies. A worker
// knows no widget. It is created suspended by its button handler, started at
// once and deletes itself at the end of its run.
#pragma once

#include <QString>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "logfile/logfile.h"
#include "session/session.h"
#include "ui/packed_lines.h"
#include "ui/thread/tthread.h"

// What a delete that ran just before a listing left to check.
struct AfterDelete {
    std::string name;       // the log it asked the device to delete
    std::string file;       // its file name, as the question named it
    std::string reply;      // the device's first reply line to "fs del"
    bool reported = false;  // the delete already told why it failed: no second word about it
};

// What a worker hands to the window at one of its steps.
struct Handoff {
    enum class What {
        ControlsForRun,    // the controls wait for the run
        ControlsAfterRun,  // the controls come back; `flag`: Upload and Delete too (logs are listed)
        ClearView,         // the view empties
        ShowLines,         // the view shows `lines`
        ClearLogBox,       // the log box empties
        AddLog,            // the log box gets the entry `text`
        LogBoxText,        // the log box shows `text`
        ChooseFirstLog,    // the log box's first entry is chosen, without showing it yet
        ShowChosenLog,     // the labels show the chosen log
        ClearLabels,       // the labels empty
        BarMaximum,        // the progress bar's scale is 0 to `value`
        BarPosition,       // the bar shows the line `value`, and `text` on it (empty: none)
        Error,             // a message box titled `title` says `text`
        Save,              // the save dialog offers `lines` (`flag`: under the "-incomplete" name)
        ListAfterDelete,   // the controls come back and a listing checks `after`
    };
    explicit Handoff(What w) : what(w) {}
    What what;
    int value = 0;
    bool flag = false;
    std::string title;
    std::string text;
    std::shared_ptr<const PackedLines> lines;
    AfterDelete after;
};

// The window, as the workers see it.
class TWindowSide {
public:
    virtual ~TWindowSide() = default;
    // Applies a hand-off; on the UI thread, from a worker's step.
    virtual void Apply(Handoff h) = 0;
    // From any thread: applies what `make` gives later on the UI thread,
    // without waiting; nothing once the window is gone.
    virtual void Queue(std::function<Handoff()> make) = 0;
};

// The steps both workers share.
class TWorker : public TThread, public TWorkerSlots {
public:
    TWorker(bool CreateSuspended, TWindowSide* window) : TThread(CreateSuspended), window_(window) {}

    // The controls wait for the run.
    void ButtonsFalse();
    void RichEdit1Clear();
    // Shows Str as an error in a message box titled with the worker's action.
    void ShowError();

    // For tests and benchmarks: when set, called on the worker's thread at
    // named points of a run: "listed" (the listing's reply ended),
    // "uploaded" (the log's reply ended), "shown" (the view holds the whole
    // log). What it throws takes the run's error path.
    static std::function<void(const char* point)> Checkpoint;

    // The pause of a conversation: the worker's own Sleep, which ends the
    // run (throwing EThreadTerminated) when the window closes.
    Pause Pauses() {
        return [this](int ms) { Sleep(ms); };
    }

protected:
    virtual const char* Action() const = 0;
    // Runs a worker's body. A stop (the window closing) ends it quietly; an
    // error is told as "The <what> failed: ..." after `tidy` has put the
    // window right, and `done` gives the controls back. The port is never
    // left open: each conversation closes it.
    void Guarded(const std::function<void()>& run, const std::function<void()>& tidy, const std::function<void()>& done,
                 const char* what);
    // Reports an error in a message box (a UI step); errors of the report
    // itself are swallowed, as the run is already ending.
    void Report(const std::string& text);
    // Hands `h` to the window (within a step).
    void Hand(Handoff h) { window_->Apply(std::move(h)); }
    void Hand(Handoff::What what, int value = 0, std::string text = std::string()) {
        Handoff h{what};
        h.value = value;
        h.text = std::move(text);
        Hand(std::move(h));
    }

    TWindowSide* window_;
};

// Text of the system's 8-bit encoding (a port's name, a system's reason).
QString LocalText(const std::string& s);

// What a run asked of the device.
enum class Job { kListing, kUpload, kDelete };

// The window's words for how a conversation of `run` on `port` ended: empty
// when it went as asked. `name` and `lines`: the log and the lines that came.
std::string WindowText(const Outcome& o, Job job, const std::string& port, const std::string& name = std::string(),
                       std::size_t lines = 0);

class TListLogsThread : public TWorker {
public:
    // `after`: the delete this listing follows, if any.
    TListLogsThread(bool CreateSuspended, TWindowSide* window, std::optional<AfterDelete> after = std::nullopt)
        : TWorker(CreateSuspended, window), after_(std::move(after)) {}

    void ButtonsTrue();
    void ComboBox2Clear();
    void ComboBox2Add();
    void ComboBox2Text();
    void ComboBox2ItemIndex();
    void ComboBox2Change();
    void LabelClearCaption();

protected:
    void Execute() override;
    const char* Action() const override { return "List Logs"; }

private:
    void NoEntries();
    // Puts the listed logs into `list` and the log box, the first one chosen.
    void ShowLogs(const Listing& l);
    // Tells what went wrong with the listing, or what the device said
    // instead of logs, and a delete that did not happen.
    void ReportListing(const std::string& port, const Listing& l, bool quiet);

    std::optional<AfterDelete> after_;
};

class TUploadLogThread : public TWorker {
public:
    // Takes its own copy of what it needs, on the UI thread, when it is made:
    // the port, and the chosen log (its name, and its start and stop for the
    // lines to expect). (The save dialog proposes the "LogFile:" label's
    // text, which cannot change during the run: the combo boxes are disabled.)
    TUploadLogThread(bool CreateSuspended, TWindowSide* window, std::string port, fatdss_t log);

    void ButtonsTrue();
    void ProgressBar1Pos();
    void ProgressBar1Max();
    // Shows the lines that came in the view.
    void RichEdit1Add();
    void SaveToFile();

protected:
    void Execute() override;
    const char* Action() const override { return "Upload Log"; }

private:
    // Moves the progress bar from slt_cmd without waiting: the newest
    // position wins, at most one move is queued at a time, and the bar's
    // text (how many lines, how long is left) changes a few times a second.
    struct Progress {
        std::atomic<int> latest{0};
        std::atomic<bool> queued{false};
        std::mutex mutex;  // guards `text`
        std::string text;
    };
    void QueueProgress(int lines);

    std::string port_;
    fatdss_t log_;
    bool incomplete_ = false;  // the reply was cut or stopped: the save proposes the "-incomplete" name
    std::shared_ptr<const PackedLines> lines_;  // what came, as the view shows it and the save writes it
    std::shared_ptr<Progress> progress_ = std::make_shared<Progress>();
    std::chrono::steady_clock::time_point started_, told_;  // the read began; the bar's text last changed
};

// The bar's text while a log comes: the lines so far against the lines
// expected (`expected` 0: not known), and about how long is left at the rate
// measured since the first line came `elapsed` ago.
std::string ProgressText(long lines, long expected, std::chrono::milliseconds elapsed);

class TDeleteLogThread : public TWorker {
public:
    // The log `name`, saved by default as `file` (the question named it so),
    // on `port`. The listing that follows it starts when it ends.
    TDeleteLogThread(bool CreateSuspended, TWindowSide* window, std::string port, std::string name, std::string file)
        : TWorker(CreateSuspended, window), port_(std::move(port)), name_(std::move(name)), file_(std::move(file)) {}

    // Enables the controls and starts the listing that shows what is left.
    void ListAfter();

protected:
    void Execute() override;
    const char* Action() const override { return "Delete Log"; }

private:
    std::string port_;
    std::string name_;
    std::string file_;
    AfterDelete after_;
};
