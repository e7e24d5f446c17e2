#include <windows.h>

#include "runner/plugin_call.h"

// A structured exception frame built by hand (mingw's g++ has no __try).  32-bit: the
// registration record sits in RunGuarded's frame and is linked at the head of the thread's
// handler chain (fs:0) while the plug-in runs.  64-bit (the win64 test build): handlers come
// from unwind tables, so a small assembly trampoline that calls the plug-in carries our handler
// in its own unwind information.  Either way faults the plug-in handles itself never reach us,
// because its own frames are searched first.

namespace {

#if !defined(_WIN64)
struct GuardRecord {
  EXCEPTION_REGISTRATION_RECORD reg;  // first: the handler receives its address as the frame
  void* jump[5];                      // __builtin_setjmp buffer of the recovery point
  DWORD code;
  void* address;
};
#endif

bool IsProcessorFault(DWORD code) {
  switch (code) {
    case EXCEPTION_ACCESS_VIOLATION:
    case EXCEPTION_ILLEGAL_INSTRUCTION:
    case EXCEPTION_PRIV_INSTRUCTION:
    case EXCEPTION_INT_DIVIDE_BY_ZERO:
    case EXCEPTION_INT_OVERFLOW:
    case EXCEPTION_ARRAY_BOUNDS_EXCEEDED:
    case EXCEPTION_DATATYPE_MISALIGNMENT:
    case EXCEPTION_IN_PAGE_ERROR:
    case EXCEPTION_FLT_DENORMAL_OPERAND:
    case EXCEPTION_FLT_DIVIDE_BY_ZERO:
    case EXCEPTION_FLT_INEXACT_RESULT:
    case EXCEPTION_FLT_INVALID_OPERATION:
    case EXCEPTION_FLT_OVERFLOW:
    case EXCEPTION_FLT_STACK_CHECK:
    case EXCEPTION_FLT_UNDERFLOW:
      return true;
    default:  // stack overflow (no guard page left to resume on), software exceptions
      return false;
  }
}

#if !defined(_WIN64)
// RtlUnwind on x86 does not preserve ebx, esi and edi; save them around the call.
void UnwindTo(void* frame, void* record) {
  void* unwind = reinterpret_cast<void*>(&RtlUnwind);
  asm volatile(
      "pushl %%ebx\n\t"
      "pushl %%esi\n\t"
      "pushl %%edi\n\t"
      "pushl $0\n\t"
      "pushl %1\n\t"
      "pushl $0\n\t"
      "pushl %0\n\t"
      "call *%2\n\t"
      "popl %%edi\n\t"
      "popl %%esi\n\t"
      "popl %%ebx"
      :
      : "r"(frame), "r"(record), "r"(unwind)
      : "eax", "ecx", "edx", "memory", "cc");
}

EXCEPTION_DISPOSITION NTAPI GuardHandler(EXCEPTION_RECORD* record, void* frame, CONTEXT*, void*) {
  if (record->ExceptionFlags & (EXCEPTION_UNWINDING | EXCEPTION_EXIT_UNWIND)) return ExceptionContinueSearch;
  if (!IsProcessorFault(record->ExceptionCode)) return ExceptionContinueSearch;
  GuardRecord* guard = static_cast<GuardRecord*>(frame);
  guard->code = record->ExceptionCode;
  guard->address = record->ExceptionAddress;
  // The plug-in's frames (and the dispatcher's) below ours are told they are being unwound;
  // afterwards our record is the head of the chain again.
  UnwindTo(frame, record);
  __builtin_longjmp(guard->jump, 1);
}

// The thread information block, at fs:0x18 on 32-bit Windows; its first field is the head of
// the handler chain.
NT_TIB* ThreadBlock() {
  NT_TIB* tib;
  asm volatile("movl %%fs:0x18, %0" : "=r"(tib));
  return tib;
}

}  // namespace

__attribute__((noinline)) bool RunGuarded(void (*body)(void*), void* context, TPluginFault& fault) {
  GuardRecord guard{};
  uint16_t fpuControl;
  uint32_t sseControl;
  asm volatile("fnstcw %0" : "=m"(fpuControl));
  asm volatile("stmxcsr %0" : "=m"(sseControl));
  NT_TIB* tib = ThreadBlock();
  guard.reg.Next = tib->ExceptionList;
  guard.reg.Handler = &GuardHandler;
  if (__builtin_setjmp(guard.jump) == 0) {
    tib->ExceptionList = &guard.reg;
    asm volatile("" ::: "memory");
    body(context);
    asm volatile("" ::: "memory");
    ThreadBlock()->ExceptionList = guard.reg.Next;
    return true;
  }
  // Resumed from the handler: unlink our record and give the host a sane floating-point unit.
  ThreadBlock()->ExceptionList = guard.reg.Next;
  asm volatile("fnclex\n\tfldcw %0" : : "m"(fpuControl));
  asm volatile("ldmxcsr %0" : : "m"(sseControl));
  fault.Code = guard.code;
  fault.Address = guard.address;
  return false;
}

#else  // _WIN64

// kor_guarded_call(body, context, fault) calls body(context) and returns 1.  When a processor
// fault inside body reaches the trampoline's frame, kor_guard_handler fills *fault (kept at
// rbp-8) and unwinds to kor_guard_recover, which returns 0.  The unwinding restores the
// non-volatile registers the plug-in's frames saved, as the calling convention demands.
extern "C" int kor_guarded_call(void (*body)(void*), void* context, TPluginFault* fault);
extern "C" void kor_guard_recover();
extern "C" EXCEPTION_DISPOSITION kor_guard_handler(EXCEPTION_RECORD* record, void* frame, CONTEXT*, void*);

asm(R"(
        .text
        .globl  kor_guarded_call
        .def    kor_guarded_call; .scl 2; .type 32; .endef
        .seh_proc kor_guarded_call
kor_guarded_call:
        pushq   %rbp
        .seh_pushreg %rbp
        movq    %rsp, %rbp
        .seh_setframe %rbp, 0
        subq    $48, %rsp
        .seh_stackalloc 48
        .seh_endprologue
        movq    %r8, -8(%rbp)
        movq    %rcx, %rax
        movq    %rdx, %rcx
        callq   *%rax
        movl    $1, %eax
        jmp     1f
        .globl  kor_guard_recover
kor_guard_recover:
        leaq    -48(%rbp), %rsp
        xorl    %eax, %eax
1:
        addq    $48, %rsp
        popq    %rbp
        ret
        .seh_handler kor_guard_handler, @except
        .seh_endproc
)");

extern "C" __attribute__((used)) EXCEPTION_DISPOSITION kor_guard_handler(EXCEPTION_RECORD* record,
                                                                         void* frame, CONTEXT*, void*) {
  if (record->ExceptionFlags & (EXCEPTION_UNWINDING | EXCEPTION_EXIT_UNWIND)) return ExceptionContinueSearch;
  if (!IsProcessorFault(record->ExceptionCode)) return ExceptionContinueSearch;
  TPluginFault* fault = *reinterpret_cast<TPluginFault**>(static_cast<char*>(frame) - 8);
  fault->Code = record->ExceptionCode;
  fault->Address = record->ExceptionAddress;
  RtlUnwind(frame, reinterpret_cast<void*>(&kor_guard_recover), record, nullptr);
  return ExceptionContinueSearch;  // not reached: RtlUnwind resumes at kor_guard_recover
}

}  // namespace

bool RunGuarded(void (*body)(void*), void* context, TPluginFault& fault) {
  uint16_t fpuControl;
  uint32_t sseControl;
  asm volatile("fnstcw %0" : "=m"(fpuControl));
  asm volatile("stmxcsr %0" : "=m"(sseControl));
  if (kor_guarded_call(body, context, &fault)) return true;
  // Give the host a sane floating-point unit after the plug-in's fault.
  asm volatile("fnclex\n\tfldcw %0" : : "m"(fpuControl));
  asm volatile("ldmxcsr %0" : : "m"(sseControl));
  return false;
}

#endif  // _WIN64
