// The main window: every control the user works with, and the handlers that
// belong to the window itself. The layout is stored in Unit1.ui.
#pragma once

#include <QFileDialog>
#include <QWidget>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "discovery/portscan.h"
#include "discovery/registry.h"
#include "ui/logview.h"
#include "ui/thread/tthread.h"
#include "ui/workers.h"

QT_BEGIN_NAMESPACE
class QComboBox;
class QLabel;
class QProgressBar;
class QPushButton;
namespace Ui {
class TForm1;
}
QT_END_NAMESPACE

// Runs worker steps on the UI thread through Qt's queued calls to the window.
class TQtDispatcher : public UiDispatcher {
public:
    explicit TQtDispatcher(QObject* context) : context_(context) {}
    void Post(std::function<void()> task) override;

private:
    QObject* context_;
};

class TForm1 : public QWidget, public TWindowSide {
    Q_OBJECT

public:
    explicit TForm1(QWidget* Owner = nullptr);
    ~TForm1() override;

    // The controls, under the names the workers and handlers use.
    QPushButton* Button1;
    QPushButton* Button2;
    QComboBox* ComboBox1;
    QPushButton* Button3;
    QPushButton* Button4;
    TLogView* RichEdit1;
    QComboBox* ComboBox2;
    QProgressBar* ProgressBar1;
    QLabel* Label1;
    QLabel* Label2;
    QLabel* Label3;
    QLabel* Label4;
    QLabel* Label5;
    QLabel* Label6;
    QLabel* Label7;
    QLabel* Label8;
    QFileDialog* SaveDialog1;
    QPushButton* Button5;
    QFileDialog* OpenDialog1;

    // The handlers. Each runs on the UI thread; an error escaping one is shown
    // by the application's general error report.
    void Button2Click();
    void Button1Click();
    void ComboBox2Change();
    void FormClose();
    void FormShow();
    void ComboBox1Change();
    void Button3Click();
    void Button4Click();
    void Button5Click();

    // Where "Scan Port" reads the registry; the platform's own by default.
    using RegistryFactory = std::function<std::unique_ptr<RegistrySource>()>;
    static void SetRegistryFactory(RegistryFactory factory);

    // The window's state while a worker runs: the five buttons and both combo
    // boxes disabled (the combo boxes too, so that a change of port or of the
    // chosen log cannot touch `list` or `cf` while the worker uses them).
    void ControlsForRun();
    // The state after a run: "Scan Port", "List Logs" and "View Log" and both
    // combo boxes enabled; "Upload Log" and "Delete Log" when `logs` says the
    // device's logs are listed.
    void ControlsAfterRun(bool logs);
    // Sets a label's text and sizes the label to it.
    static void SetCaption(QLabel* label, const std::string& text);
    // Starts a listing unless a run is under way; `after` is the delete it
    // follows, if any.
    void StartListing(std::optional<AfterDelete> after);
    // The one way a run is stopped, for Esc and for closing the window: the
    // conversation under way ends at its next read or pause, and the run
    // goes on to show and offer what came (a stopped upload under the
    // "-incomplete" name) and to give the controls back. The log stays on
    // the logger.
    void StopRun();
    // Esc during a listing or an upload: asks "Stop the upload?" (No by
    // default) and stops the run on Yes.
    void EscapePressed();
    // What a worker hands over.
    void Apply(Handoff h) override;
    void Queue(std::function<Handoff()> make) override;
    // Opens the plot of the lines in the view.
    void ShowViewPlot();
    // Shows an error to the user in a modal message box.
    void ShowError(const QString& title, const QString& text);

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    // The parts of construction: fonts, icon and label formats; the save and
    // open dialogs; the controls that follow the window's size; the
    // handlers.
    void SetUpLook();
    void SetUpDialogs();
    void SetUpAnchors();
    void ConnectHandlers();
    // Runs a handler under the general error report.
    void Guarded(void (TForm1::*handler)());
    void Guarded(const std::function<void()>& run);
    void SetComboText(QComboBox* box, const QString& text);
    void StartWorker(TThread* worker, Job job);
    // The save dialog for the lines of an upload; `incomplete` proposes the
    // "-incomplete" name.
    void SaveLines(const PackedLines& lines, bool incomplete);
    // Empties the log box, `list`, the labels and the view, and disables
    // "Upload Log" and "Delete Log": what a change of port does.
    void ResetLogControls();
    // Fills the port box from a scan and selects its first port.
    void ShowPorts(const PortScanResult& found);

    std::unique_ptr<Ui::TForm1> ui_;
    TQtDispatcher dispatcher_;
    bool shown_ = false;
    bool closed_ = false;
    std::optional<Job> run_;  // the run under way
    int bar_maximum_ = 0;     // the progress bar's scale as the run set it
    // Geometry at 96 dpi as laid out, for the anchors.
    QSize design_size_;
    struct Anchored {
        QWidget* widget;
        QRect design;
        bool right;
        bool bottom;
        bool stretch_right;
        bool stretch_bottom;
    };
    std::vector<Anchored> anchored_;
};

// The one main window.
extern TForm1* Form1;

// The application's general error report: shows `text` in a message box over
// the main window and returns.
void ShowException(const QString& text);
