#include "framework/kv_thread_io.h"

#include <process.h>

#include "framework/kv_base_io.h"
#include "framework/kv_error.h"

void kvWaitServingMessages(HANDLE handle) {
    for (;;) {
        const DWORD result = MsgWaitForMultipleObjects(1, &handle, FALSE, INFINITE, QS_SENDMESSAGE);
        if (result != WAIT_OBJECT_0 + 1)
            return; // ended, or the handle is unusable: waiting on would never end
        // Peeking delivers the pending sent messages; posted ones stay queued for their loop.
        MSG msg;
        PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    }
}

TkvThreadIO::TkvThreadIO(TkvBaseIO& port) : port_(port) {
    unsigned id = 0;
    // The C runtime's own thread start, so its per-thread data is set up and freed with the thread.
    const auto handle = _beginthreadex(nullptr, 0, &TkvThreadIO::Run, this, CREATE_SUSPENDED, &id);
    if (handle == 0)
        throw EkvError("Cannot create the worker thread");
    handle_.Reset(reinterpret_cast<HANDLE>(handle));
    threadId_ = id;
}

void TkvThreadIO::Start() {
    runningShare_ = shared_from_this();
    ResumeThread(handle_.Get());
}

unsigned __stdcall TkvThreadIO::Run(void* self) {
    // Nothing may escape into the system's thread start. The port is not touched after the body
    // returns: it may have been destroyed on this thread.
    auto* thread = static_cast<TkvThreadIO*>(self);
    const std::shared_ptr<TkvThreadIO> keep = std::move(thread->runningShare_);
    try {
        thread->port_.ThreadExecute(*thread);
    } catch (...) {
        // Nothing may leave a thread body; the port notices the ended thread when it joins.
    }
    return 0;
}
