// Background workers and their hand-off to the UI thread.
//
// A worker is created suspended, started with Resume(), runs Execute() on a
// thread of its own and, with FreeOnTerminate (the default), deletes itself
// when Execute() returns. It changes the window only through Synchronize(),
// which runs a step on the UI thread and returns when the step has finished.
//
// The UI thread is reached through a UiDispatcher: the window plugs in a
// queued call of its toolkit, tests a plain loop thread. Nothing here
// depends on a GUI toolkit.
#pragma once

#include <chrono>
#include <condition_variable>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>

// Runs tasks on the UI thread, in the order posted. Post must be callable
// from any thread and must not run the task before it returns.
class UiDispatcher {
public:
    virtual ~UiDispatcher() = default;
    virtual void Post(std::function<void()> task) = 0;
};

// Thrown by Synchronize (and Sleep) in a worker that was asked to terminate,
// or when no dispatcher is installed any more: the run should unwind.
class EThreadTerminated : public std::runtime_error {
public:
    EThreadTerminated() : std::runtime_error("The background operation was stopped.") {}
};

class TThread {
public:
    // The run always starts with Resume(), whatever CreateSuspended says: a
    // base class cannot start Execute() before the derived constructor has
    // finished, and every worker is created suspended anyway.
    explicit TThread(bool CreateSuspended);
    // A worker without FreeOnTerminate that is still running is asked to
    // terminate and waited for here; a derived class must itself make sure
    // its run has ended before its own members go.
    virtual ~TThread();
    TThread(const TThread&) = delete;
    TThread& operator=(const TThread&) = delete;

    // Starts a thread created suspended; does nothing on a second call.
    void Resume();

    // Asks the run to end: a pending or later Synchronize or Sleep throws
    // EThreadTerminated. Thread-safe.
    void Terminate();

    // Deletes the object when Execute() has returned (default true). Set
    // before Resume().
    bool FreeOnTerminate = true;

    // The hand-off used by every worker; nullptr makes Synchronize throw
    // EThreadTerminated. Thread-safe.
    static void SetDispatcher(UiDispatcher* dispatcher);

    // Workers started and not yet finished.
    static int RunningCount();
    // Terminate() for every running worker.
    static void TerminateAll();
    // Waits until no worker runs, at most `bound`; true when none runs.
    static bool WaitForAll(std::chrono::milliseconds bound);

protected:
    virtual void Execute() = 0;

    // Runs `step` on the UI thread and waits for it. An exception the step
    // throws is thrown again here. Throws EThreadTerminated without running
    // the step when the worker was asked to terminate or there is no
    // dispatcher; a step already running is waited for. A step the
    // dispatcher destroys without running it also ends in EThreadTerminated.
    void Synchronize(const std::function<void()>& step);
    template <class T>
    void Synchronize(void (T::*step)()) {
        T* self = static_cast<T*>(this);
        Synchronize(std::function<void()>([self, step] { (self->*step)(); }));
    }

    // Pauses the worker; ends early (throwing EThreadTerminated) on Terminate().
    void Sleep(int milliseconds);

private:
    struct SyncState;

    void Run();
    // Hands `step` to the dispatcher; throws EThreadTerminated without one.
    static void PostStep(const std::shared_ptr<SyncState>& state, const std::function<void()>& step);
    // Waits until the step has run (rethrowing what it threw), was dropped,
    // or the worker was asked to terminate while it still waited in the queue.
    static void AwaitStep(SyncState& state);

    mutable std::mutex mutex_;
    std::condition_variable wake_;
    bool terminated_ = false;
    bool started_ = false;
    std::thread thread_;
    // The hand-off Synchronize is waiting for, so that Terminate() can end
    // the wait; guarded by mutex_.
    std::shared_ptr<SyncState> sync_;
};

// The exchange slots of a worker: a text and a number handed to its next UI
// step. Written by the worker, read by the step while the worker waits.
class TWorkerSlots {
public:
    void SetStr(const std::string& s) { Str = s; }
    std::string GetStr() const { return Str; }
    void SetVal(int v) { Val = v; }
    int GetVal() const { return Val; }

protected:
    std::string Str;
    int Val = 0;
};
