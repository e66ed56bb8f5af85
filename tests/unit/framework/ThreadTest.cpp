// Worker threads that hand work to the user-interface thread.
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "FrameworkFixture.h"
#include "framework/Thread.h"

namespace {

// A thread whose body is a function; signals its own destruction.
class LambdaThread : public TThread {
public:
    explicit LambdaThread(std::function<void(LambdaThread&)> body, bool freeOnTerminate,
                          std::atomic<bool>* destroyed = nullptr)
        : body_(std::move(body)), destroyed_(destroyed) {
        FreeOnTerminate = freeOnTerminate;
        Start();
    }
    ~LambdaThread() override {
        if (destroyed_) destroyed_->store(true);
    }
    using TThread::Synchronize;

protected:
    void Execute() override { body_(*this); }

private:
    std::function<void(LambdaThread&)> body_;
    std::atomic<bool>* destroyed_;
};

}  // namespace

class FrameworkThread : public FrameworkTest {
protected:
    // What a blocking client does: handle messages until the thread says it has ended.
    void PumpUntil(const bool& flag) {
        while (!flag) Application->HandleMessage();
    }
};

TEST_F(FrameworkThread, SynchronizedMethodRunsOnceOnTheUiThreadEvenWhenItPumpsMessages) {
    const auto uiThread = std::this_thread::get_id();
    int runs = 0, posted = 0;
    bool terminated = false;
    std::vector<std::string> order;
    auto* t = new LambdaThread(
        [&](LambdaThread& self) {
            self.Synchronize([&] {
                EXPECT_EQ(std::this_thread::get_id(), uiThread);
                ++runs;
                order.push_back("sync start");
                headless::Post([&] { ++posted; order.push_back("posted"); });
                // A nested message pass, as a transfer does after every block.
                for (int i = 0; i < 3; ++i) Application->ProcessMessages();
                order.push_back("sync end");
            });
            order.push_back("worker after sync");
        },
        true);
    t->OnTerminate = [&](TObject* sender) {
        EXPECT_EQ(sender, t);
        EXPECT_EQ(std::this_thread::get_id(), uiThread);
        order.push_back("terminate");
        terminated = true;
    };
    PumpUntil(terminated);
    EXPECT_EQ(runs, 1);
    EXPECT_EQ(posted, 1);
    EXPECT_EQ(order, (std::vector<std::string>{"sync start", "posted", "sync end",
                                               "worker after sync", "terminate"}));
}

TEST_F(FrameworkThread, ExceptionInASynchronizedMethodReachesTheWorker) {
    std::string caught;
    bool terminated = false;
    auto* t = new LambdaThread(
        [&](LambdaThread& self) {
            try {
                self.Synchronize([] { throw EInOutError(112); });
            } catch (const EInOutError& e) {
                caught = e.Message() + " code " + std::to_string(e.ErrorCode);
            }
            // Another error leaves the body; OnTerminate must still come.
            self.Synchronize([] { throw std::runtime_error("ends the body"); });
            caught += " not reached";
        },
        true);
    t->OnTerminate = [&](TObject*) { terminated = true; };
    PumpUntil(terminated);
    EXPECT_EQ(caught, "I/O error 112 code 112");
    EXPECT_TRUE(headless::MessageBoxCalls().empty());  // nothing surfaced on the UI thread
}

TEST_F(FrameworkThread, FreeOnTerminateDeletesTheThreadAfterOnTerminate) {
    std::atomic<bool> destroyed{false};
    bool terminated = false;
    bool destroyedAtTerminate = true;
    auto* t = new LambdaThread([](LambdaThread&) { throw std::runtime_error("body failed"); },
                               true, &destroyed);
    t->OnTerminate = [&](TObject*) {
        destroyedAtTerminate = destroyed.load();
        terminated = true;
    };
    PumpUntil(terminated);
    EXPECT_FALSE(destroyedAtTerminate);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!destroyed && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_TRUE(destroyed);
}

TEST_F(FrameworkThread, WaitForServesTheTerminationHandlerAndKeepsTheObject) {
    std::atomic<bool> destroyed{false};
    int terminations = 0;
    auto* t = new LambdaThread(
        [](LambdaThread& self) { self.Synchronize([] {}); }, false, &destroyed);
    t->OnTerminate = [&](TObject*) { ++terminations; };
    t->WaitFor();
    EXPECT_EQ(terminations, 1);
    EXPECT_FALSE(destroyed);
    delete t;
    EXPECT_TRUE(destroyed);
}

TEST_F(FrameworkThread, RequestsFromSeveralWorkersAllRun) {
    constexpr int Workers = 4, Each = 25;
    int total = 0;  // UI thread only
    int ended = 0;
    for (int w = 0; w < Workers; ++w) {
        auto* t = new LambdaThread(
            [&](LambdaThread& self) {
                for (int i = 0; i < Each; ++i) self.Synchronize([&] { ++total; });
            },
            true);
        t->OnTerminate = [&](TObject*) { ++ended; };
    }
    while (ended < Workers) Application->HandleMessage();
    EXPECT_EQ(total, Workers * Each);
}
