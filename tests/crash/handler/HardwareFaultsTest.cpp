#include "crash/handler/HardwareFaults.h"

#include <gtest/gtest.h>

TEST(HardwareFaults, AccessViolationNamesAddressModuleAndAccess) {
  FaultRecord r;
  r.code = fault_code::kAccessViolation;
  r.address = 0x401A2B;
  r.module = "QEXJoystick.exe";
  r.has_access = true;
  r.access = 1;
  r.target = 0;
  EXPECT_EQ(FaultClassName(r), "EAccessViolation");
  EXPECT_EQ(FaultMessage(r),
            "Access violation at address 00401A2B in module 'QEXJoystick.exe'. Write of address 00000000");
  r.access = 0;
  r.pointer_digits = 16;
  r.target = 0x10;
  EXPECT_EQ(FaultMessage(r), "Access violation at address 0000000000401A2B in module 'QEXJoystick.exe'. "
                             "Read of address 0000000000000010");
}

TEST(HardwareFaults, EachKindHasItsClassAndTheObjectCarriesTheContext) {
  struct Case {
    std::uint32_t code;
    const char* cls;
    const char* message;
  } cases[] = {
      {fault_code::kIntDivideByZero, "EDivByZero", "Division by zero"},
      {fault_code::kIntOverflow, "EIntOverflow", "Integer overflow"},
      {fault_code::kFltDivideByZero, "EZeroDivide", "Floating point division by zero"},
      {fault_code::kFltInvalidOperation, "EInvalidOp", "Invalid floating point operation"},
      {fault_code::kPrivInstruction, "EPrivilege", "Privileged instruction"},
      {fault_code::kStackOverflow, "EStackOverflow", "Stack overflow"},
      {0xE0000001, "EExternalException", "External exception E0000001"},
  };
  for (const Case& c : cases) {
    FaultRecord r;
    r.code = c.code;
    auto context = std::make_shared<const std::vector<unsigned char>>(std::vector<unsigned char>{1, 2, 3});
    try {
      std::rethrow_exception(MakeFaultException(r, context));
    } catch (const EExternal& e) {
      EXPECT_STREQ(e.ClassName(), c.cls);
      EXPECT_EQ(e.Message(), c.message);
      ASSERT_NE(e.Context(), nullptr);
      EXPECT_EQ(e.Context()->size(), 3u);
      EXPECT_EQ(e.Record().code, c.code);
    }
  }
  EXPECT_FALSE(IsRecoverableFaultCode(fault_code::kStackOverflow));
  EXPECT_TRUE(IsRecoverableFaultCode(fault_code::kAccessViolation));
  EXPECT_FALSE(IsRecoverableFaultCode(0x80000003));  // breakpoint
}
