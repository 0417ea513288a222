/* Preloaded into every program of the emulated i386 root (scripts/i386-root).
 * qemu's user-mode emulation hands each fault to the program's signal handler with the trap
 * number -1. Wine tells an access violation from an illegal instruction by that number alone, so
 * under qemu a read of a bad pointer became an illegal instruction, and IsBadReadPtr, which
 * expects the access violation, killed the process. This library sits in front of the fault
 * handlers a program installs and fills the trap number in from the signal, as the kernel
 * would, before the program's handler sees it. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <signal.h>
#include <ucontext.h>

enum { kDivideError = 0, kOverflow = 4, kInvalidOpcode = 6, kPageFault = 14, kFpuError = 16,
       kDebug = 1, kBreakpoint = 3 };

typedef void (*FaultHandler)(int, siginfo_t*, void*);
static volatile FaultHandler programHandlers[NSIG];

static int IsFault(int sig) {
    return sig == SIGSEGV || sig == SIGBUS || sig == SIGILL || sig == SIGFPE || sig == SIGTRAP;
}

static int TrapNumber(int sig, const siginfo_t* info) {
    switch (sig) {
    case SIGFPE:
        return info->si_code == FPE_INTDIV ? kDivideError
             : info->si_code == FPE_INTOVF ? kOverflow
                                           : kFpuError;
    case SIGILL: return kInvalidOpcode;
    case SIGTRAP: return info->si_code == TRAP_TRACE ? kDebug : kBreakpoint;
    default: return kPageFault; /* SIGSEGV, SIGBUS */
    }
}

static void FillTrapNumber(int sig, siginfo_t* info, void* context) {
    greg_t* regs = ((ucontext_t*)context)->uc_mcontext.gregs;
    if (regs[REG_TRAPNO] == -1) regs[REG_TRAPNO] = TrapNumber(sig, info);
    programHandlers[sig](sig, info, context);
}

int sigaction(int sig, const struct sigaction* act, struct sigaction* old) {
    static int (*next)(int, const struct sigaction*, struct sigaction*);
    if (!next) next = (int (*)(int, const struct sigaction*, struct sigaction*))
                          dlsym(RTLD_NEXT, "sigaction");
    if (sig <= 0 || sig >= NSIG || !IsFault(sig)) return next(sig, act, old);
    FaultHandler previous = programHandlers[sig];
    struct sigaction wrapped;
    if (act && (act->sa_flags & SA_SIGINFO)) {
        wrapped = *act;
        programHandlers[sig] = act->sa_sigaction;
        wrapped.sa_sigaction = FillTrapNumber;
        act = &wrapped;
    }
    int result = next(sig, act, old);
    /* A program that asks which handler it had gets its own, not this library's. */
    if (result == 0 && old && (old->sa_flags & SA_SIGINFO) && old->sa_sigaction == FillTrapNumber)
        old->sa_sigaction = previous;
    return result;
}
