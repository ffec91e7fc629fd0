// Support for the window's tests: a fresh window per test, waiting for a
// condition while the event loop runs, and answering modal dialogs.
#pragma once

#include <QApplication>
#include <QComboBox>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QObject>
#include <QPlainTextEdit>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QString>
#include <QStringList>
#include <QTest>
#include <QTextBlock>
#include <QTimer>

#include <gtest/gtest.h>

#include <chrono>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "Unit1.h"
#include "globals.h"
#include "tthread.h"

// Runs the event loop until `done` holds, at most `bound`.
bool WaitFor(const std::function<bool()>& done, std::chrono::milliseconds bound = std::chrono::milliseconds(15000));

// Answers the modal dialogs that open while it lives, in the order they come:
// each answer gets the active modal widget and returns true when it has
// dealt with it. Every box's text is recorded, once. A dialog that opens when
// no answer is left is closed after some seconds, so that a test that did not
// expect it fails on what it sees instead of waiting for ever.
class ModalAnswers : public QObject {
public:
    using Answer = std::function<bool(QWidget*)>;
    ModalAnswers();
    void Add(Answer answer) { answers_.push_back(std::move(answer)); }
    std::size_t Pending() const { return answers_.size(); }
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
    static Answer Key(Qt::Key key);           // message box: a key press (Enter, Escape)
    static Answer Save(const QString& path);  // file dialog: type the name, accept
    static Answer Cancel() {
        return On<QFileDialog>([](QFileDialog* dialog) { static_cast<QDialog*>(dialog)->reject(); });
    }

private:
    void Poll();
    QTimer timer_;
    std::deque<Answer> answers_;
    QStringList seen_;
    QPointer<QWidget> last_;     // the dialog answered last, while it shows
    QPointer<QWidget> current_;  // the dialog waiting for an answer
    std::chrono::steady_clock::time_point unanswered_since_;
};

// A fresh window per test. The port scan reads the recorded registry in
// `registry_` (none: no serial port map).
class WindowTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    // Creates and shows the window.
    TForm1& Open(const std::string& registry = std::string());
    // Types a port name into the port box, as a user does.
    void TypePort(const std::string& port);
    // Waits until no worker runs and the "List Logs" button is usable again.
    bool WaitIdle(std::chrono::milliseconds bound = std::chrono::milliseconds(15000));
    std::vector<std::string> ViewLines() const;
    std::vector<QString> ComboItems(QComboBox* box) const;

    std::unique_ptr<TForm1> form_;
};
