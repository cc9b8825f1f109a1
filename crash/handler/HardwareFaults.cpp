#include "crash/handler/HardwareFaults.h"

#include <cstdio>

namespace {

std::string Hex(std::uint64_t value, int digits) {
  char text[32];
  std::snprintf(text, sizeof text, "%0*llX", digits, static_cast<unsigned long long>(value));
  return text;
}

template <class E>
std::exception_ptr Make(const FaultRecord& record, std::shared_ptr<const std::vector<unsigned char>> context) {
  return std::make_exception_ptr(E(FaultMessage(record), record, std::move(context)));
}

}  // namespace

bool IsRecoverableFaultCode(std::uint32_t code) {
  using namespace fault_code;
  switch (code) {
    case kAccessViolation:
    case kInPageError:
    case kIllegalInstruction:
    case kArrayBoundsExceeded:
    case kFltDenormalOperand:
    case kFltDivideByZero:
    case kFltInexactResult:
    case kFltInvalidOperation:
    case kFltOverflow:
    case kFltStackCheck:
    case kFltUnderflow:
    case kIntDivideByZero:
    case kIntOverflow:
    case kPrivInstruction:
      return true;
    default:
      return false;
  }
}

std::string FaultClassName(const FaultRecord& record) {
  using namespace fault_code;
  switch (record.code) {
    case kAccessViolation: return "EAccessViolation";
    case kStackOverflow: return "EStackOverflow";
    case kPrivInstruction: return "EPrivilege";
    case kIntDivideByZero: return "EDivByZero";
    case kArrayBoundsExceeded: return "ERangeError";
    case kIntOverflow: return "EIntOverflow";
    case kFltDenormalOperand:
    case kFltInexactResult:
    case kFltInvalidOperation:
    case kFltStackCheck: return "EInvalidOp";
    case kFltDivideByZero: return "EZeroDivide";
    case kFltOverflow: return "EOverflow";
    case kFltUnderflow: return "EUnderflow";
    default: return "EExternalException";
  }
}

std::string FaultMessage(const FaultRecord& record) {
  using namespace fault_code;
  switch (record.code) {
    case kAccessViolation: {
      std::string text = "Access violation at address " + Hex(record.address, record.pointer_digits);
      if (!record.module.empty()) text += " in module '" + record.module + "'";
      text += ".";
      if (record.has_access) {
        const char* kind = record.access == 1 ? "Write" : record.access == 8 ? "Execution" : "Read";
        text += std::string(" ") + kind + " of address " + Hex(record.target, record.pointer_digits);
      }
      return text;
    }
    case kStackOverflow: return "Stack overflow";
    case kPrivInstruction: return "Privileged instruction";
    case kIntDivideByZero: return "Division by zero";
    case kArrayBoundsExceeded: return "Range check error";
    case kIntOverflow: return "Integer overflow";
    case kFltDenormalOperand:
    case kFltInexactResult:
    case kFltInvalidOperation:
    case kFltStackCheck: return "Invalid floating point operation";
    case kFltDivideByZero: return "Floating point division by zero";
    case kFltOverflow: return "Floating point overflow";
    case kFltUnderflow: return "Floating point underflow";
    default: return "External exception " + Hex(record.code, 8);
  }
}

std::exception_ptr MakeFaultException(const FaultRecord& record,
                                      std::shared_ptr<const std::vector<unsigned char>> context) {
  const std::string name = FaultClassName(record);
  if (name == "EAccessViolation") return Make<EAccessViolation>(record, std::move(context));
  if (name == "EStackOverflow") return Make<EStackOverflow>(record, std::move(context));
  if (name == "EPrivilege") return Make<EPrivilege>(record, std::move(context));
  if (name == "EDivByZero") return Make<EDivByZero>(record, std::move(context));
  if (name == "ERangeError") return Make<ERangeError>(record, std::move(context));
  if (name == "EIntOverflow") return Make<EIntOverflow>(record, std::move(context));
  if (name == "EInvalidOp") return Make<EInvalidOp>(record, std::move(context));
  if (name == "EZeroDivide") return Make<EZeroDivide>(record, std::move(context));
  if (name == "EOverflow") return Make<EOverflow>(record, std::move(context));
  if (name == "EUnderflow") return Make<EUnderflow>(record, std::move(context));
  return Make<EExternalException>(record, std::move(context));
}
