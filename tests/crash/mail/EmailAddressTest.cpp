#include <gtest/gtest.h>

#include "crash/mail/EmailAddress.h"

TEST(EmailAddress, AcceptsOrdinaryAndPermittedCharacters) {
  EXPECT_TRUE(IsValidEmailAddress("a@b.c"));
  EXPECT_TRUE(IsValidEmailAddress("first.last@example.com"));
  EXPECT_TRUE(IsValidEmailAddress("O'Brien+bugs-2_x@mail.example.org"));
  EXPECT_TRUE(IsValidEmailAddress("UPPER@CASE.DE"));
  // The rule asks no more of the dots than it says.
  EXPECT_TRUE(IsValidEmailAddress("a..b@c.d"));
  EXPECT_TRUE(IsValidEmailAddress("a.@b.c"));
  EXPECT_TRUE(IsValidEmailAddress("a@b..c"));
}

TEST(EmailAddress, RejectsEmptyAndSurroundingBlanks) {
  EXPECT_FALSE(IsValidEmailAddress(""));
  EXPECT_FALSE(IsValidEmailAddress(" a@b.c"));
  EXPECT_FALSE(IsValidEmailAddress("a@b.c "));
  EXPECT_FALSE(IsValidEmailAddress(" "));
}

TEST(EmailAddress, NeedsExactlyOneAtThatIsNotFirst) {
  EXPECT_FALSE(IsValidEmailAddress("ab.c"));
  EXPECT_FALSE(IsValidEmailAddress("@b.c"));
  EXPECT_FALSE(IsValidEmailAddress("a@b@c.d"));
  EXPECT_FALSE(IsValidEmailAddress("a@@b.c"));
  EXPECT_FALSE(IsValidEmailAddress("a@"));
}

TEST(EmailAddress, NeedsADotAfterTheAtButNotRightAfterIt) {
  EXPECT_FALSE(IsValidEmailAddress("a@bc"));
  EXPECT_FALSE(IsValidEmailAddress("a.b@cd"));  // the only dot is before the "@"
  EXPECT_FALSE(IsValidEmailAddress("a@.bc"));
}

TEST(EmailAddress, RejectsDotAtEitherEnd) {
  EXPECT_FALSE(IsValidEmailAddress(".a@b.c"));
  EXPECT_FALSE(IsValidEmailAddress("a@b.c."));
}

TEST(EmailAddress, RejectsCharactersOutsideTheSet) {
  for (const char* bad : {"a b@c.d", "a@c d.e", "a\t@b.c", "a\"@b.c", "a,b@c.d", "a@b.c;", "a<b@c.d", "a%b@c.d",
                          "a!@b.c", "a@b_c.d\n", "\xC3\xA4@b.c", "a\\b@c.d"}) {
    EXPECT_FALSE(IsValidEmailAddress(bad)) << bad;
  }
  EXPECT_FALSE(IsValidEmailAddress(std::string("a\0b@c.d", 7)));
}
