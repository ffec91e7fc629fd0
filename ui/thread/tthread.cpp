#include "tthread.h"

#include <set>

namespace {

// Workers between Resume() and the end of their run. `live` holds those that
// TerminateAll may still reach; `running` counts them until the very last
// thing their thread does with any object of ours. Never destroyed, so that
// a detached worker finishing during process exit finds it intact.
struct Registry {
    std::mutex mutex;
    std::condition_variable changed;
    std::set<TThread*> live;
    int running = 0;
};

Registry& registry() {
    static Registry* const instance = new Registry;
    return *instance;
}

// The dispatcher is used under this mutex, so that once SetDispatcher(nullptr)
// has returned no Post reaches the old dispatcher any more.
std::mutex& dispatcher_mutex() {
    static std::mutex* const instance = new std::mutex;
    return *instance;
}

UiDispatcher* g_dispatcher = nullptr;

}  // namespace

// One Synchronize call. The UI side runs the step only if the worker has not
// given up on it yet; the worker gives up only while the step is queued.
struct TThread::SyncState {
    enum class Phase { queued, running, done, abandoned };

    std::mutex mutex;
    std::condition_variable changed;
    Phase phase = Phase::queued;
    bool cancel = false;
    std::exception_ptr error;
};

TThread::TThread(bool) {}

TThread::~TThread() {
    Terminate();
    Registry& reg = registry();
    std::unique_lock<std::mutex> lock(reg.mutex);
    reg.changed.wait(lock, [&] { return reg.live.count(this) == 0; });
}

void TThread::Resume() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (started_) {
            return;
        }
        started_ = true;
    }
    Registry& reg = registry();
    {
        std::lock_guard<std::mutex> lock(reg.mutex);
        reg.live.insert(this);
        ++reg.running;
    }
    try {
        std::lock_guard<std::mutex> lock(mutex_);
        thread_ = std::thread([this] { Run(); });
        thread_.detach();
    } catch (...) {
        std::lock_guard<std::mutex> lock(reg.mutex);
        reg.live.erase(this);
        --reg.running;
        reg.changed.notify_all();
        throw;
    }
}

void TThread::Run() {
    {
        // Resume() is done with thread_ once it lets go of the mutex.
        std::lock_guard<std::mutex> lock(mutex_);
    }
    try {
        Execute();
    } catch (...) {
        // A worker reports its own errors; one that escapes must not take the
        // program down with std::terminate.
    }
    Registry& reg = registry();
    if (!FreeOnTerminate) {
        // The owner's destructor may go ahead as soon as the lock is released.
        std::lock_guard<std::mutex> lock(reg.mutex);
        reg.live.erase(this);
        --reg.running;
        reg.changed.notify_all();
        return;
    }
    {
        std::lock_guard<std::mutex> lock(reg.mutex);
        reg.live.erase(this);
    }
    delete this;
    // Only now may WaitForAll report that no worker runs: the delete above
    // is part of the run.
    std::lock_guard<std::mutex> lock(reg.mutex);
    --reg.running;
    reg.changed.notify_all();
}

void TThread::Terminate() {
    std::shared_ptr<SyncState> sync;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        terminated_ = true;
        sync = sync_;
        wake_.notify_all();
    }
    if (sync) {
        std::lock_guard<std::mutex> lock(sync->mutex);
        sync->cancel = true;
        sync->changed.notify_all();
    }
}

void TThread::SetDispatcher(UiDispatcher* dispatcher) {
    std::lock_guard<std::mutex> lock(dispatcher_mutex());
    g_dispatcher = dispatcher;
}

int TThread::RunningCount() {
    Registry& reg = registry();
    std::lock_guard<std::mutex> lock(reg.mutex);
    return reg.running;
}

void TThread::TerminateAll() {
    Registry& reg = registry();
    // Holding the lock keeps every listed worker alive: a worker leaves the
    // list under this lock before it deletes itself.
    std::lock_guard<std::mutex> lock(reg.mutex);
    for (TThread* worker : reg.live) {
        worker->Terminate();
    }
}

bool TThread::WaitForAll(std::chrono::milliseconds bound) {
    Registry& reg = registry();
    std::unique_lock<std::mutex> lock(reg.mutex);
    return reg.changed.wait_for(lock, bound, [&] { return reg.running == 0; });
}

void TThread::Synchronize(const std::function<void()>& step) {
    auto state = std::make_shared<SyncState>();
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (terminated_) {
            throw EThreadTerminated();
        }
        sync_ = state;
    }
    struct ForgetSync {
        TThread* self;
        ~ForgetSync() {
            std::lock_guard<std::mutex> lock(self->mutex_);
            self->sync_.reset();
        }
    } forget{this};

    PostStep(state, step);
    AwaitStep(*state);
}

void TThread::PostStep(const std::shared_ptr<SyncState>& state, const std::function<void()>& step) {
    // What the dispatcher carries. If the dispatcher drops it unrun (it is
    // being torn down), the waiting worker is released as if terminated.
    struct Ticket {
        Ticket(std::shared_ptr<SyncState> s, const std::function<void()>& f) : state(std::move(s)), step(f) {}
        Ticket(const Ticket&) = delete;
        Ticket& operator=(const Ticket&) = delete;
        ~Ticket() {
            std::lock_guard<std::mutex> lock(state->mutex);
            if (state->phase == SyncState::Phase::queued) {
                state->phase = SyncState::Phase::abandoned;
                state->changed.notify_all();
            }
        }
        void Run() {
            {
                std::lock_guard<std::mutex> lock(state->mutex);
                if (state->phase != SyncState::Phase::queued) {
                    return;
                }
                state->phase = SyncState::Phase::running;
            }
            std::exception_ptr error;
            try {
                step();
            } catch (...) {
                error = std::current_exception();
            }
            // Handed over whole: after the unlock only the worker may own the
            // exception (see Synchronize).
            std::lock_guard<std::mutex> lock(state->mutex);
            state->error = error;
            error = nullptr;
            state->phase = SyncState::Phase::done;
            state->changed.notify_all();
        }

        std::shared_ptr<SyncState> state;
        std::function<void()> step;
    };

    auto ticket = std::make_shared<Ticket>(state, step);
    std::lock_guard<std::mutex> lock(dispatcher_mutex());
    if (g_dispatcher == nullptr) {
        throw EThreadTerminated();
    }
    g_dispatcher->Post([ticket] { ticket->Run(); });
}

void TThread::AwaitStep(SyncState& state) {
    std::unique_lock<std::mutex> lock(state.mutex);
    state.changed.wait(lock, [&] {
        return state.phase == SyncState::Phase::done || state.phase == SyncState::Phase::abandoned ||
               (state.cancel && state.phase == SyncState::Phase::queued);
    });
    if (state.phase != SyncState::Phase::done) {
        state.phase = SyncState::Phase::abandoned;
        throw EThreadTerminated();
    }
    // The worker takes the step's exception over alone: the UI side may drop
    // its share of the state at any moment, and the exception object's own
    // reference count is invisible to ThreadSanitizer.
    std::exception_ptr error = state.error;
    state.error = nullptr;
    lock.unlock();
    if (error) {
        std::rethrow_exception(error);
    }
}

void TThread::Sleep(int milliseconds) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    std::unique_lock<std::mutex> lock(mutex_);
    if (wake_.wait_until(lock, deadline, [this] { return terminated_; })) {
        throw EThreadTerminated();
    }
}
