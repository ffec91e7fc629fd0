// Benchmark of the upload as the window sees it (not a test; prints figures).
//
// 1. A 1,000,000-line log of 60-byte lines sent without pauses: the time
//    from the end of the reply to the view holding every line, the memory
//    the view holds for them, a scroll and a select-all, and the same log
//    viewed from its file.
// 2. A paced upload (115200 baud): the largest gap between two runs of a 1 ms
//    timer on the UI thread, i.e. the longest the window did not respond.
// 3. With --largest N: a device that never stops sending lines of N bytes
//    (0: empty lines), cut at the upload's bound; the peak memory of the
//    process and the largest UI stall while the view fills.
#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <fstream>
#ifdef __GLIBC__
#include <malloc.h>
#endif
#include <functional>
#include <string>

#include "app/globals.h"
#include "catalogue/fatdss.h"
#include "logfile/logfile.h"
#include "sim/simulator.h"
#include "tests/ui/gui_support.h"
#include "ui/packed_lines.h"
#include "ui/thread/tthread.h"
#include "ui/workers.h"

namespace {

// A log of `lines` records, one every 2 s from 2022-05-01 06:00:00: as
// many as its duration leads to expect.
krx3sim::Log LogOf(int lines) {
    const long long last = 6 * 3600 + 2LL * (lines - 1);
    const auto day = static_cast<int>(last / 86400), in_day = static_cast<int>(last % 86400);
    krx3sim::Log log{code_of(dos_value(2022, 5, 1, 6, 0, 0)),
                     code_of(dos_value(2022, 5, 1 + day, in_day / 3600, in_day / 60 % 60, in_day % 60)),
                     {}};
    for (int i = 0; i < lines; ++i)
        log.lines.push_back("2022-05-01 06:00:00;" + std::to_string(i) + ";ch1=12.34;ch2=56.78;ch3=90.12");
    return log;
}

struct Window {
    std::unique_ptr<TForm1> form;
    Window(const std::string& port) {
        if (!list) list = new TStringList;
        TForm1::SetRegistryFactory([] { return RecordedRegistryFromText("Windows Registry Editor Version 5.00\n"); });
        form = std::make_unique<TForm1>();
        form->show();
        form->ComboBox1->setEditText(QString::fromStdString(port));
        QTest::mouseClick(form->Button2, Qt::LeftButton);
        WaitFor([&] { return TThread::RunningCount() == 0 && form->Button3->isEnabled(); }, std::chrono::seconds(30));
    }
    ~Window() { form->close(); }
};

// The longest the UI thread's event loop went without running a 1 ms timer,
// counted while `counting` holds.
class StallMeter {
public:
    explicit StallMeter(std::function<bool()> counting = [] { return true; }) : counting_(std::move(counting)) {
        clock_.start();
        tick_.setTimerType(Qt::PreciseTimer);
        QObject::connect(&tick_, &QTimer::timeout, [this] {
            const qint64 now = clock_.nsecsElapsed();
            if (last_ >= 0 && counting_()) worst_ = std::max(worst_, now - last_);
            last_ = now;
        });
        tick_.start(1);
    }
    void Stop() { tick_.stop(); }
    double WorstMs() const { return worst_ / 1e6; }

private:
    std::function<bool()> counting_;
    QElapsedTimer clock_;
    QTimer tick_;
    qint64 last_ = -1;
    qint64 worst_ = 0;
};

// A figure of /proc/self/status in MiB (Linux): "VmHWM:" the peak resident
// memory so far, "VmRSS:" the resident memory now.
double StatusMiB(const char* key) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.compare(0, 6, key) == 0) return std::stod(line.substr(6)) / 1024.0;
    return -1;
}
double PeakMiB() { return StatusMiB("VmHWM:"); }
// The resident memory once the C library has handed back what is free.
double RssMiB() {
#ifdef __GLIBC__
    malloc_trim(0);
#endif
    return StatusMiB("VmRSS:");
}

// A device that keeps sending lines of `length` bytes: the upload ends at
// its bound, the window reports the cut and offers the rest for saving.
int Largest(int length) {
    krx3sim::Log log = LogOf(1);
    log.lines = {std::string(static_cast<std::size_t>(length), 'r')};
    krx3sim::Simulator sim({log});
    Window w(sim.PortPath());
    krx3sim::Behaviour endless;
    endless.endless_reply = true;
    sim.SetBehaviour(endless);
    std::atomic<bool> filling{false};
    TWorker::Checkpoint = [&](const char* point) {
        if (std::string(point) == "uploaded") filling = true;
        if (std::string(point) == "shown") filling = false;
    };
    StallMeter stalls([&] { return filling.load(); });
    ModalAnswers answers;
    answers.Add(ModalAnswers::ClickOk());
    answers.Add(ModalAnswers::Cancel());
    const double before = PeakMiB();
    QTest::mouseClick(w.form->Button3, Qt::LeftButton);
    WaitFor([&] { return TThread::RunningCount() == 0; }, std::chrono::seconds(600));
    stalls.Stop();
    TWorker::Checkpoint = nullptr;
    const auto lines = static_cast<int>(w.form->RichEdit1->LineCount());
    std::printf("largest reply of %d-byte lines: %d lines (%.1f MiB of text) in the view\n", length, lines,
                lines * (length + 1.0) / (1024.0 * 1024.0));
    std::printf("  peak memory: %.0f MiB (%.0f MiB before the upload)\n", PeakMiB(), before);
    std::printf("  largest UI stall while the view fills: %.1f ms (target under 100 ms)\n", stalls.WorstMs());
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    if (argc == 3 && std::strcmp(argv[1], "--largest") == 0) return Largest(std::atoi(argv[2]));

    {
        // 1,000,000 lines of 60 bytes, sent as fast as the pseudo-terminal takes them.
        const int count = 1000000;
        krx3sim::Log log = LogOf(count);
        for (std::string& line : log.lines) line.resize(60, ' ');
        const double log_bytes = count * 62.0;  // as saved: each line and CR LF
        krx3sim::Simulator sim({log});
        log = {};
        Window w(sim.PortPath());
        QElapsedTimer clock;
        std::atomic<qint64> replyEnded{-1};
        clock.start();
        std::atomic<qint64> filled{-1};
        TWorker::Checkpoint = [&](const char* point) {
            if (std::string(point) == "uploaded") replyEnded = clock.nsecsElapsed();
            if (std::string(point) == "shown") filled = clock.nsecsElapsed();
        };
        const QString saved =
            QDir::temp().filePath(QStringLiteral("bench_view-%1.log").arg(QCoreApplication::applicationPid()));
        ModalAnswers answers;
        answers.Add(ModalAnswers::Save(saved));
        StallMeter stalls([&] { return replyEnded >= 0 && filled < 0; });
        const double rss_before = RssMiB();
        QTest::mouseClick(w.form->Button3, Qt::LeftButton);
        WaitFor([&] { return TThread::RunningCount() == 0; }, std::chrono::seconds(600));
        stalls.Stop();
        TWorker::Checkpoint = nullptr;
        const auto lines = static_cast<int>(w.form->RichEdit1->LineCount());
        std::printf("1,000,000-line log of 60-byte lines: %d lines in the view\n", lines);
        std::printf("  end of reply -> view filled: %.1f ms (target under 100 ms)\n", (filled - replyEnded) / 1e6);
        std::printf("  largest UI stall while the view fills: %.1f ms\n", stalls.WorstMs());
        std::printf(
            "  the view's lines: %.2f bytes per byte of log; the process holds %.0f MiB more after it, for a %.0f MiB "
            "log\n",
            w.form->RichEdit1->Lines().Footprint() / log_bytes, RssMiB() - rss_before, log_bytes / (1024.0 * 1024.0));
        // Scrolling to the middle and selecting everything: one repaint each.
        QElapsedTimer step;
        step.start();
        w.form->RichEdit1->verticalScrollBar()->setValue(count / 2);
        w.form->RichEdit1->viewport()->repaint();
        const double scroll = step.nsecsElapsed() / 1e6;
        step.restart();
        w.form->RichEdit1->selectAll();
        w.form->RichEdit1->viewport()->repaint();
        std::printf("  scroll to the middle: %.1f ms; select all: %.1f ms (each with its repaint)\n", scroll,
                    step.nsecsElapsed() / 1e6);
        // The same log viewed from its file: from the file chosen to the view filled.
        ModalAnswers open;
        QElapsedTimer viewed;
        open.Add([&](QWidget* modal) {
            auto* dialog = qobject_cast<QFileDialog*>(modal);
            if (!dialog) return false;
            ModalAnswers::Save(saved)(dialog);
            viewed.start();
            return true;
        });
        w.form->RichEdit1->clear();
        QTest::mouseClick(w.form->Button5, Qt::LeftButton);
        std::printf("  View Log of its file: %.1f ms to %d lines in the view (target under 100 ms)\n",
                    viewed.nsecsElapsed() / 1e6, static_cast<int>(w.form->RichEdit1->LineCount()));
        // Its parts: the file read, and the line ends taken out.
        QByteArray text;
        QString error;
        step.restart();
        ReadLogFileText(saved, &text, &error);
        const double read = step.nsecsElapsed() / 1e6;
        step.restart();
        const PackedLines packed = PackedLines::FromFileText(std::move(text));
        std::printf("  (of which reading the file: %.1f ms, packing its %zu lines: %.1f ms)\n", read, packed.size(),
                    step.nsecsElapsed() / 1e6);
        QFile::remove(saved);
    }
    {
        krx3sim::Simulator sim({LogOf(1500)});
        Window w(sim.PortPath());
        krx3sim::Behaviour paced;
        paced.paced = true;
        sim.SetBehaviour(paced);
        QElapsedTimer clock;
        clock.start();
        StallMeter stalls;
        ModalAnswers answers;
        bool dialog = false;
        answers.Add([&](QWidget* modal) {
            if (!qobject_cast<QFileDialog*>(modal)) return false;
            dialog = true;
            stalls.Stop();
            qobject_cast<QFileDialog*>(modal)->reject();
            return true;
        });
        QTest::mouseClick(w.form->Button3, Qt::LeftButton);
        WaitFor([&] { return TThread::RunningCount() == 0; }, std::chrono::seconds(120));
        const double seconds = clock.nsecsElapsed() / 1e9;
        std::printf(
            "paced upload of %d lines (%.1f s, view fill included): largest UI stall %.1f ms "
            "(target under 50 ms)%s\n",
            static_cast<int>(w.form->RichEdit1->LineCount()), seconds, stalls.WorstMs(),
            dialog ? "" : " [save dialog not seen]");
    }
    return 0;
}
