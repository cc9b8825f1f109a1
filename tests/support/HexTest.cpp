#include <gtest/gtest.h>

#include "support/Exceptions.h"
#include "support/Hex.h"

namespace {

Bytes B(std::initializer_list<int> values) {
  Bytes b;
  for (int v : values) b.push_back(static_cast<std::uint8_t>(v));
  return b;
}

TEST(HexText, EncodesUpperCasePairsWithoutSeparator) {
  const Bytes payload = B({0x01, 0x02, 0xFF, 0x0A, 0x00});
  EXPECT_EQ(BytesToHex(payload.data(), payload.size()), "0102FF0A00");
  EXPECT_EQ(BytesToHex(nullptr, 0), "");
}

TEST(HexText, DecodesEitherCaseAndDropsBlanksAnywhere) {
  EXPECT_EQ(HexToBytes("0aFf"), B({0x0A, 0xFF}));
  EXPECT_EQ(HexToBytes("04 00 05"), B({0x04, 0x00, 0x05}));
  EXPECT_EQ(HexToBytes(" 0 4 0"), B({0x04}));  // blanks go before pairing
  EXPECT_EQ(HexToBytes(""), Bytes());
}

TEST(HexText, DropsAnOddLastDigit) {
  EXPECT_EQ(HexToBytes("abc"), B({0xAB}));
  EXPECT_EQ(HexToBytes("7"), Bytes());
}

TEST(HexText, RoundTripsEveryByteValue) {
  Bytes all;
  for (int i = 0; i < 256; ++i) all.push_back(static_cast<std::uint8_t>(i));
  EXPECT_EQ(HexToBytes(BytesToHex(all.data(), all.size())), all);
}

TEST(HexText, ABadPairFailsWithTheConversionMessage) {
  const char* bad[] = {"0g", "+1", "-1", "\t1", "0x", "1\r"};
  for (const char* text : bad) {
    try {
      HexToBytes(text);
      ADD_FAILURE() << "no error for " << text;
    } catch (const EConvertError& e) {
      EXPECT_EQ(e.Message(), std::string("'$") + text + "' is not a valid integer value");
      EXPECT_STREQ(e.ClassName(), "EConvertError");
    }
  }
}

TEST(HexText, TheFirstBadPairIsReportedEvenAfterGoodOnes) {
  try {
    HexToBytes("0102zz03");
    FAIL();
  } catch (const EConvertError& e) {
    EXPECT_EQ(e.Message(), "'$zz' is not a valid integer value");
  }
}

}  // namespace
