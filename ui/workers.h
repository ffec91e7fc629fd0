// The three background workers: the listing of the device's logs, the
// upload of one log and the deletion of one. Each talks to the device on its own thread and changes
// the window only through UI steps run with Synchronize. A worker is created
// suspended by its button handler, started at once and deletes itself at the
// end of its run.
#pragma once

#include <QString>

class QProgressBar;

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "logfile/logfile.h"
#include "session/session.h"
#include "ui/thread/tthread.h"

// The steps both workers share.
class TWorker : public TThread, public TWorkerSlots {
public:
    explicit TWorker(bool CreateSuspended) : TThread(CreateSuspended) {}

    // Disables the five buttons (and the two combo boxes, see TForm1::ControlsForRun).
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
};

// Text of the system's 8-bit encoding (a port's name, a system's reason).
QString LocalText(const std::string& s);

// What a run asked of the device.
enum class Job { kListing, kUpload, kDelete };

// The window's words for how a conversation of `run` on `port` ended: empty
// when it went as asked. `name` and `lines`: the log and the lines that came.
std::string WindowText(const Outcome& o, Job job, const std::string& port, const std::string& name = std::string(),
                       std::size_t lines = 0);

// A line of the device as the view shows it: one byte a character, as the
// system's 8-bit code page has it (Windows: the ANSI code page, so that 0x80
// is the euro sign; elsewhere Latin-1), and a NUL as a visible replacement
// character (the file keeps the NUL itself). viewtext_*.cpp.
QString ViewText(const std::string& line);
// The view's text of lines [from, to): the ViewText of each, one to a text
// line. The upload and a file viewed show their lines through it.
QString ViewLines(const std::vector<std::string>& lines, std::size_t from, std::size_t to);

class TListLogsThread : public TWorker {
public:
    // What a delete that ran just before this listing left to check.
    struct AfterDelete {
        std::string name;       // the log it asked the device to delete
        std::string file;       // its file name, as the question named it
        std::string reply;      // the device's first reply line to "fs del"
        bool reported = false;  // the delete already told why it failed: no second word about it
    };

    // `after`: the delete this listing follows, if any.
    explicit TListLogsThread(bool CreateSuspended, std::optional<AfterDelete> after = std::nullopt)
        : TWorker(CreateSuspended), after_(std::move(after)) {}

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
    TUploadLogThread(bool CreateSuspended, std::string port, fatdss_t log);

    void ButtonsTrue();
    void ProgressBar1Pos();
    void ProgressBar1Max();
    // Appends the block of lines the worker made ready (separated by line
    // feeds) to the view.
    void RichEdit1Add();
    void SaveToFile();

    // At most so many lines, and about so many characters, per view step
    // when the view is filled after the reply.
    static constexpr std::size_t kLinesPerStep = 8192;
    static constexpr std::size_t kBytesPerStep = 512 * 1024;

protected:
    void Execute() override;
    const char* Action() const override { return "Upload Log"; }

private:
    // Moves the progress bar from slt_cmd without waiting: the newest
    // position wins, and at most one move is queued at a time.
    struct Progress {
        std::atomic<int> latest{0};
        std::atomic<bool> queued{false};
        int maximum = 0;  // the scale's maximum; UI thread only
    };
    void QueueProgress(int position);
    // Shows the log's lines in the view.
    void ShowInView();
    // Shows the line at `position` on a scale of 0 to `maximum`.
    static void ShowLine(QProgressBar* bar, int maximum, int position);

    std::string port_;
    fatdss_t log_;
    bool incomplete_ = false;  // the reply was cut: the save proposes the "-incomplete" name
    QString block_;            // the view's next block of lines; written by the worker between steps
    TStringList lines_;
    std::shared_ptr<Progress> progress_ = std::make_shared<Progress>();
};

class TDeleteLogThread : public TWorker {
public:
    // The log `name`, saved by default as `file` (the question named it so),
    // on `port`. The listing that follows it starts when it ends.
    TDeleteLogThread(bool CreateSuspended, std::string port, std::string name, std::string file)
        : TWorker(CreateSuspended), port_(std::move(port)), name_(std::move(name)), file_(std::move(file)) {}

    // Enables the controls and starts the listing that shows what is left.
    void ListAfter();

protected:
    void Execute() override;
    const char* Action() const override { return "Delete Log"; }

private:
    std::string port_;
    std::string name_;
    std::string file_;
    TListLogsThread::AfterDelete after_;
};
