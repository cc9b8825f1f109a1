// Hardware faults (access violations, divisions by zero, ...) as exceptions
// of the program's own model: a class per kind with the usual message, and
// the processor context of the fault kept with the exception so that the
// report can show it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "support/Exceptions.h"

// What crash reporting knows of a structured exception.
struct FaultRecord {
  std::uint32_t code = 0;             // the platform's exception code
  std::uint64_t address = 0;          // code address of the fault
  std::string module;                 // file name of the module holding it
  // Access violations: 0 read, 1 write, 8 execution; the address touched.
  std::uint32_t access = 0;
  std::uint64_t target = 0;
  bool has_access = false;
  int pointer_digits = 8;             // 8 on the 32-bit build, 16 on the 64-bit one
  // The stack from the fault's stack pointer up, copied at the fault: by
  // the time a fault that can continue is reported, its thread has unwound
  // and reused that stack. Empty when not copied.
  std::vector<unsigned char> stack;
};

// Base of every hardware-fault class; holds the record and the raw
// processor context (the platform's CONTEXT, copied as bytes).
class EExternal : public Exception {
 public:
  EExternal(std::string message, FaultRecord record = FaultRecord(),
            std::shared_ptr<const std::vector<unsigned char>> context = nullptr)
      : Exception(std::move(message)), record_(std::move(record)), context_(std::move(context)) {}
  const char* ClassName() const override { return "EExternal"; }
  const FaultRecord& Record() const { return record_; }
  // Null when no context was captured.
  const std::vector<unsigned char>* Context() const { return context_.get(); }

 private:
  FaultRecord record_;
  std::shared_ptr<const std::vector<unsigned char>> context_;
};

QEX_DECLARE_EXCEPTION(EAccessViolation, EExternal);
QEX_DECLARE_EXCEPTION(EStackOverflow, EExternal);
QEX_DECLARE_EXCEPTION(EExternalException, EExternal);
QEX_DECLARE_EXCEPTION(EPrivilege, EExternal);
QEX_DECLARE_EXCEPTION(EIntError, EExternal);
QEX_DECLARE_EXCEPTION(EDivByZero, EIntError);
QEX_DECLARE_EXCEPTION(ERangeError, EIntError);
QEX_DECLARE_EXCEPTION(EIntOverflow, EIntError);
QEX_DECLARE_EXCEPTION(EMathError, EExternal);
QEX_DECLARE_EXCEPTION(EInvalidOp, EMathError);
QEX_DECLARE_EXCEPTION(EZeroDivide, EMathError);
QEX_DECLARE_EXCEPTION(EOverflow, EMathError);
QEX_DECLARE_EXCEPTION(EUnderflow, EMathError);

namespace fault_code {
constexpr std::uint32_t kAccessViolation = 0xC0000005;
constexpr std::uint32_t kInPageError = 0xC0000006;
constexpr std::uint32_t kIllegalInstruction = 0xC000001D;
constexpr std::uint32_t kArrayBoundsExceeded = 0xC000008C;
constexpr std::uint32_t kFltDenormalOperand = 0xC000008D;
constexpr std::uint32_t kFltDivideByZero = 0xC000008E;
constexpr std::uint32_t kFltInexactResult = 0xC000008F;
constexpr std::uint32_t kFltInvalidOperation = 0xC0000090;
constexpr std::uint32_t kFltOverflow = 0xC0000091;
constexpr std::uint32_t kFltStackCheck = 0xC0000092;
constexpr std::uint32_t kFltUnderflow = 0xC0000093;
constexpr std::uint32_t kIntDivideByZero = 0xC0000094;
constexpr std::uint32_t kIntOverflow = 0xC0000095;
constexpr std::uint32_t kPrivInstruction = 0xC0000096;
constexpr std::uint32_t kStackOverflow = 0xC00000FD;
}  // namespace fault_code

// True for the codes a processor fault in the program's own code raises and
// that can be turned into an exception at the fault (stack overflow cannot:
// there is no stack left to throw on).
bool IsRecoverableFaultCode(std::uint32_t code);

// Class name and message of a fault, e.g. "EAccessViolation" and "Access
// violation at address 00401A2B in module 'agent.exe'. Read of address
// 00000000".
std::string FaultClassName(const FaultRecord& record);
std::string FaultMessage(const FaultRecord& record);

// The exception object of the fault's class.
std::exception_ptr MakeFaultException(const FaultRecord& record,
                                      std::shared_ptr<const std::vector<unsigned char>> context);
