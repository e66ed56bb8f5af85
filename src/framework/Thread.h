#pragma once
// A worker thread with synchronize: the worker hands a method to the user-interface thread
// and waits until it has run there.
#include <functional>
#include <memory>

#include "framework/Component.h"

class TThread : public TObject {
public:
    TThread();
    ~TThread() override;

    // Starts the body. A derived class calls it at the end of its constructor.
    void Start();
    void WaitFor();  // joins; not for free-on-terminate threads

    // Delete the object after OnTerminate has run.
    bool FreeOnTerminate = false;
    // Runs on the user-interface thread when the body has ended, also by an exception.
    TNotifyEvent OnTerminate;

protected:
    virtual void Execute() = 0;
    // Runs `method` on the user-interface thread and waits for it; an exception it raises is
    // raised again here, in the worker.
    void Synchronize(const std::function<void()>& method);

private:
    struct State;
    std::shared_ptr<State> state_;
};

// Runs pending synchronize requests on the user-interface thread; true when one ran.
bool CheckSynchronize();
// Marks the calling thread as the user-interface thread (Application does it).
void SetMainThread();
