#include "framework/Thread.h"

#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>
#include <thread>

#include "framework/Backend.h"

namespace {

struct SyncRequest {
    std::function<void()> method;
    std::exception_ptr error;
    bool done = false;
};

// Static initialisation runs on the program's first thread, the usual UI thread.
std::thread::id mainThreadId = std::this_thread::get_id();

struct SyncShared {
    std::mutex mutex;
    std::condition_variable done;           // a request has run
    std::condition_variable mainAttention;  // a request was queued or a thread ended
    std::deque<SyncRequest*> queue;
};

// Never destroyed: a free-on-terminate worker may still be leaving Synchronize while the
// program exits.
SyncShared& shared = *new SyncShared;
std::mutex& syncMutex = shared.mutex;
std::condition_variable& syncDone = shared.done;
std::condition_variable& mainAttention = shared.mainAttention;
std::deque<SyncRequest*>& syncQueue = shared.queue;

bool OnMainThread() { return std::this_thread::get_id() == mainThreadId; }

}  // namespace

struct TThread::State {
    std::thread thread;
    bool finished = false;  // guarded by syncMutex
};

void SetMainThread() { mainThreadId = std::this_thread::get_id(); }

bool CheckSynchronize() {
    if (!OnMainThread()) return false;
    bool ran = false;
    for (;;) {
        SyncRequest* request = nullptr;
        {
            std::lock_guard<std::mutex> lock(syncMutex);
            if (syncQueue.empty()) break;
            // Popped before it runs: a nested message loop inside the method must not run
            // it a second time.
            request = syncQueue.front();
            syncQueue.pop_front();
        }
        ran = true;
        try {
            request->method();
        } catch (...) {
            request->error = std::current_exception();
        }
        {
            std::lock_guard<std::mutex> lock(syncMutex);
            request->done = true;  // the worker may free the request from here on
        }
        syncDone.notify_all();
    }
    return ran;
}

TThread::TThread() : state_(std::make_shared<State>()) {}

TThread::~TThread() {
    if (state_->thread.joinable()) {
        if (state_->thread.get_id() == std::this_thread::get_id())
            state_->thread.detach();  // free-on-terminate: the worker deletes itself
        else
            state_->thread.join();
    }
}

void TThread::Start() {
    std::shared_ptr<State> state = state_;
    state->thread = std::thread([this, state] {
        try {
            Execute();
        } catch (...) {
            // The body's error ends the thread; the termination handler still runs.
        }
        bool freeSelf = false;
        try {
            Synchronize([this, &freeSelf] {
                freeSelf = FreeOnTerminate;
                if (OnTerminate) OnTerminate(this);
            });
        } catch (...) {
        }
        if (freeSelf) {
            delete this;  // nobody waits for such a thread
            return;
        }
        // Past this point the owner may delete the thread object.
        {
            std::lock_guard<std::mutex> lock(syncMutex);
            state->finished = true;
        }
        mainAttention.notify_all();
    });
}

void TThread::WaitFor() {
    if (!state_->thread.joinable()) return;
    if (OnMainThread()) {
        // The worker may still need the UI thread for a synchronize (its OnTerminate at
        // least), so serve those while waiting.
        for (;;) {
            CheckSynchronize();
            std::unique_lock<std::mutex> lock(syncMutex);
            mainAttention.wait(lock, [this] { return state_->finished || !syncQueue.empty(); });
            if (state_->finished) break;
        }
    }
    state_->thread.join();
}

void TThread::Synchronize(const std::function<void()>& method) {
    if (OnMainThread()) {
        method();
        return;
    }
    SyncRequest request;
    request.method = method;
    {
        std::lock_guard<std::mutex> lock(syncMutex);
        syncQueue.push_back(&request);
    }
    mainAttention.notify_all();
    backend::WakeMainThread();
    {
        std::unique_lock<std::mutex> lock(syncMutex);
        syncDone.wait(lock, [&request] { return request.done; });
    }
    if (request.error) std::rethrow_exception(request.error);
}
