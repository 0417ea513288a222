#pragma once
#include <windows.h>

#include <memory>

#include "framework/kv_handle.h"

class TkvBaseIO;

// Waits for `handle` while serving the messages other threads send to this thread's windows, so
// that a worker blocked in SendMessage to one of them can run on and end.
void kvWaitServingMessages(HANDLE handle);

// The worker thread of a port: runs the port's ThreadExecute once, swallows whatever escapes it
// and ends by itself. The port and the running thread share this object, so neither a wait nor
// the thread's own body ever touches it after it is freed.
class TkvThreadIO : public std::enable_shared_from_this<TkvThreadIO> {
public:
    // Creates the thread suspended; raises EkvError when the system cannot create it.
    explicit TkvThreadIO(TkvBaseIO& port);
    // Never waits: the port joins first, or dropped its share on the worker itself.
    ~TkvThreadIO() = default;
    TkvThreadIO(const TkvThreadIO&) = delete;
    TkvThreadIO& operator=(const TkvThreadIO&) = delete;

    TkvBaseIO& Port() const { return port_; }
    DWORD ThreadId() const { return threadId_; }
    HANDLE Handle() const { return handle_.Get(); }
    bool IsCurrent() const { return GetCurrentThreadId() == threadId_; }
    bool Finished() const { return WaitForSingleObject(handle_.Get(), 0) == WAIT_OBJECT_0; }

    // Lets the thread run; call once, on an object owned by a shared_ptr.
    void Start();

    // Waits, serving sent messages, until the body has returned. Must not run on the thread.
    void WaitFor() const { kvWaitServingMessages(handle_.Get()); }

private:
    static unsigned __stdcall Run(void* self);

    TkvBaseIO& port_;
    std::shared_ptr<TkvThreadIO> runningShare_; // the thread's own share, taken over by Run
    DWORD threadId_ = 0;
    TkvHandle handle_;
};
