// Support for the window's tests (and for the screenshot and the view's
// benchmark): waiting for a condition while the event loop runs, answering
// modal dialogs, and a fresh window per test.
#pragma once

#include <gtest/gtest.h>

#include <QtTest>
#include <QtWidgets>

#include <deque>

#include "app/globals.h"
#include "link/serial.h"
#include "ui/Unit1.h"

// Runs the event loop until `done` holds, at most `bound`. (It sleeps 1 ms
// at a time: the view's benchmark measures the window's stalls meanwhile.)
inline bool WaitFor(const std::function<bool()>& done, std::chrono::milliseconds bound = std::chrono::seconds(15)) {
    for (const auto end = std::chrono::steady_clock::now() + bound; !done(); QTest::qSleep(1)) {
        if (std::chrono::steady_clock::now() > end) return false;
        QApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return true;
}

// Makes a file at `path` that holds `bytes`.
inline bool MakeFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// Answers the modal dialogs that open while it lives, in the order they come:
// each answer gets the active modal widget and returns true when it has
// dealt with it. Every box's text is recorded, once. Whatever a test looks
// for, no dialog may show while the window holds the port, and every box must
// show its text as plain text (the device's words and file names are never
// markup).
// A dialog that opens when no answer is left is closed after some seconds,
// so that a test that did not expect it fails on what it sees instead of
// waiting for ever.
class ModalAnswers : public QObject {
public:
    using Answer = std::function<bool(QWidget*)>;
    ModalAnswers() {
        connect(&timer_, &QTimer::timeout, this, [this] { Poll(); });
        timer_.start(10);
    }
    void Add(Answer answer) { answers_.push_back(std::move(answer)); }
    // Texts of the message boxes seen (title, a line feed, text).
    const QStringList& Seen() const { return seen_; }

    // Does `act` to the dialog when it is a `Dialog` (else waits for one).
    template <class Dialog>
    static Answer On(std::function<void(Dialog*)> act) {
        return [act](QWidget* w) {
            auto* d = qobject_cast<Dialog*>(w);
            if (d) act(d);
            return d != nullptr;
        };
    }
    static Answer ClickOk() {
        return On<QMessageBox>([](QMessageBox* box) { box->button(QMessageBox::Ok)->click(); });
    }
    // A key pressed in a message box (Enter, Escape).
    static Answer Key(Qt::Key key) {
        return On<QMessageBox>([key](QMessageBox* box) { QTest::keyClick(box, key); });
    }
    // In a file dialog: the name typed, and accepted. (A file still selected
    // from the dialog's last showing would count before the typed name.)
    static Answer Save(const QString& path) {
        return On<QFileDialog>([path](QFileDialog* dialog) {
            dialog->findChild<QAbstractItemView*>(QStringLiteral("listView"))->selectionModel()->clear();
            dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->setText(path);
            static_cast<QDialog*>(dialog)->accept();
        });
    }
    static Answer Cancel() {
        return On<QFileDialog>([](QFileDialog* dialog) { static_cast<QDialog*>(dialog)->reject(); });
    }

private:
    void Poll() {
        QWidget* modal = QApplication::activeModalWidget();
        // Guarded pointers: a new box may take the address of a deleted one;
        // a dialog that is shown again is a new showing.
        if (last_ && (last_ != modal || !last_->isVisible())) last_ = nullptr;
        if (!modal || modal == last_ || !modal->isVisible()) return;
        if (modal != current_) {
            current_ = modal;
            unanswered_since_ = std::chrono::steady_clock::now();
            // (The one question asked during a run is whether to stop it.)
            auto* box = qobject_cast<QMessageBox*>(modal);
            EXPECT_TRUE((box && box->text() == QStringLiteral("Stop the upload?")) || hCom.load() == INVALID_COM_HANDLE)
                << "the port is held while a dialog shows";
            if (box) {
                seen_ << box->windowTitle() + "\n" + box->text();
                EXPECT_EQ(box->textFormat(), Qt::PlainText) << "shown as markup: " << box->text().toStdString();
            }
        }
        if (!answers_.empty() && answers_.front()(modal)) {
            answers_.pop_front();
        } else if (std::chrono::steady_clock::now() - unanswered_since_ > std::chrono::seconds(5)) {
            // Another dialog than the one expected (a save offered where
            // none may be) is a failure of its own.
            if (!answers_.empty())
                ADD_FAILURE() << "a dialog came that was not expected: " << modal->metaObject()->className();
            modal->close();
        } else {
            return;
        }
        last_ = modal;
        current_ = nullptr;
    }
    QTimer timer_;
    std::deque<Answer> answers_;
    QStringList seen_;
    QPointer<QWidget> last_;     // the dialog answered last, while it shows
    QPointer<QWidget> current_;  // the dialog waiting for an answer
    std::chrono::steady_clock::time_point unanswered_since_;
};

// A fresh window per test, whose port scan reads a recorded registry.
class WindowTest : public ::testing::Test {
protected:
    void TearDown() override {
        form_.reset();
        TWorker::Checkpoint = nullptr;
        EXPECT_TRUE(TThread::WaitForAll(std::chrono::milliseconds(5000)));
        EXPECT_EQ(hCom.load(), INVALID_COM_HANDLE) << "the port was left open";
    }
    // Closes the window before, if any, and opens a new one on the program's
    // first state; the scan reads `registry` (by default: no serial port map).
    TForm1& Open(const std::string& registry = "Windows Registry Editor Version 5.00\n") {
        form_.reset();  // a closed window frees the log list and the port
        if (!list) list = new TStringList;
        cf = fatdss_t();
        list_state = 0;
        TForm1::SetRegistryFactory([registry] { return RecordedRegistryFromText(registry); });
        form_ = std::make_unique<TForm1>();
        form_->show();
        return *form_;
    }
    // Types a port name into the port box, as a user does.
    void TypePort(const std::string& port) {
        form_->ComboBox1->lineEdit()->clear();
        QTest::keyClicks(form_->ComboBox1->lineEdit(), QString::fromLocal8Bit(port.c_str()));
    }
    // Waits until no worker runs and the "List Logs" button is usable again.
    bool WaitIdle(std::chrono::milliseconds bound = std::chrono::seconds(15)) {
        return WaitFor([this] { return TThread::RunningCount() == 0 && form_->Button2->isEnabled(); }, bound);
    }
    // Which of the five buttons and the two boxes are usable.
    std::vector<bool> Usable() const {
        std::vector<bool> on;
        for (QWidget* c : std::vector<QWidget*>{form_->Button1, form_->Button2, form_->Button3, form_->Button4,
                                                form_->Button5, form_->ComboBox1, form_->ComboBox2})
            on.push_back(c->isEnabled());
        return on;
    }
    QStringList ComboItems(QComboBox* box) const {
        QStringList items;
        for (int i = 0; i < box->count(); ++i) items << box->itemText(i);
        return items;
    }

    std::unique_ptr<TForm1> form_;
};
