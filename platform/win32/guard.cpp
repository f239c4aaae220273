// The access-violation guard: runs a body of raw platform calls and turns an
// access violation raised inside it into a false result. Every other
// exception goes on to the handlers further out, and handlers that the body
// installs itself see their faults first.
#include <windows.h>

#include "platform/platform.h"

#if defined(_MSC_VER)
#define ZOREK_GUARD_SEH_KEYWORDS 1  // the compiler's own __try/__except
#elif defined(__GNUC__) && defined(__i386__)
#define ZOREK_GUARD_SEH_FRAME 1  // a frame of our own on the fs:0 chain
#else
#error "no access-violation guard for this compiler and processor"
#endif

namespace ZorekPlatform {

#if defined(ZOREK_GUARD_SEH_KEYWORDS)

namespace {

int Filter(DWORD code) {
    return code == EXCEPTION_ACCESS_VIOLATION ? EXCEPTION_EXECUTE_HANDLER : EXCEPTION_CONTINUE_SEARCH;
}

}  // namespace

bool GuardAccessViolation(void (*body)(void* context), void* context) {
    __try {
        body(context);
    } __except (Filter(GetExceptionCode())) {
        return false;
    }
    return true;
}

#elif defined(ZOREK_GUARD_SEH_FRAME)

// GCC has no __try/__except for 32-bit Windows, so the guard registers an
// exception frame of its own: the two words of an EXCEPTION_REGISTRATION_RECORD
// (the next frame and the handler), followed by a resume point taken with
// __builtin_setjmp. The handler accepts access violations only, and never
// while an unwind is under way: it unwinds the frames that the body pushed
// above it (their handlers run for the unwind), takes the frame off fs:0 and
// resumes at the guard with __builtin_longjmp.
namespace {

struct GuardFrame {
    GuardFrame* next;
    void* handler;
    void* resume[5];
};

GuardFrame* ChainHead() {
    GuardFrame* head;
    asm volatile("movl %%fs:0, %0" : "=r"(head));
    return head;
}

void SetChainHead(GuardFrame* frame) { asm volatile("movl %0, %%fs:0" : : "r"(frame) : "memory"); }

// RtlUnwind(frame, 0, record, 0). Some versions of RtlUnwind return with ebx,
// esi, edi and ebp changed, so the call keeps them on the stack around it.
void UnwindTo(GuardFrame* frame, EXCEPTION_RECORD* record) {
    void* unwind = reinterpret_cast<void*>(&RtlUnwind);
    void* target = frame;
    void* exception = record;
    asm volatile(
        "pushl %%ebp\n\t"
        "pushl %%ebx\n\t"
        "pushl %%esi\n\t"
        "pushl %%edi\n\t"
        "pushl $0\n\t"     // ReturnValue
        "pushl %%ecx\n\t"  // ExceptionRecord
        "pushl $0\n\t"     // TargetIp
        "pushl %%edx\n\t"  // TargetFrame
        "call *%%eax\n\t"  // stdcall: pops its four arguments
        "popl %%edi\n\t"
        "popl %%esi\n\t"
        "popl %%ebx\n\t"
        "popl %%ebp"
        : "+a"(unwind), "+c"(exception), "+d"(target)
        :
        : "memory", "cc");
}

extern "C" EXCEPTION_DISPOSITION __cdecl ZorekGuardHandler(EXCEPTION_RECORD* record, void* establisherFrame, CONTEXT*,
                                                           void*) {
    if ((record->ExceptionFlags & (EXCEPTION_UNWINDING | EXCEPTION_EXIT_UNWIND)) != 0) return ExceptionContinueSearch;
    if (record->ExceptionCode != EXCEPTION_ACCESS_VIOLATION) return ExceptionContinueSearch;
    auto* frame = static_cast<GuardFrame*>(establisherFrame);
    UnwindTo(frame, record);
    SetChainHead(frame->next);
    __builtin_longjmp(frame->resume, 1);
}

}  // namespace

__attribute__((noinline)) bool GuardAccessViolation(void (*body)(void* context), void* context) {
    GuardFrame frame;
    frame.next = ChainHead();
    frame.handler = reinterpret_cast<void*>(&ZorekGuardHandler);
    if (__builtin_setjmp(frame.resume) != 0) return false;  // the handler has taken the frame off fs:0
    SetChainHead(&frame);
    body(context);
    SetChainHead(frame.next);
    return true;
}

#endif

}  // namespace ZorekPlatform
