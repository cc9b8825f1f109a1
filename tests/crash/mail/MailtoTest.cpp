#include <gtest/gtest.h>

#include <random>
#include <set>

#include "crash/mail/CommandLineSplit.h"
#include "crash/mail/Mailto.h"

namespace {

// What the handler should receive: the command split with a plain marker in
// place of "%1" (or appended), the marker then replaced by the argument.
std::vector<std::string> ExpectedArguments(const std::string& command, const std::string& argument) {
  const std::string marker = "QQmarkQQ";
  std::string withMarker = command;
  if (withMarker.find("%1") == std::string::npos) {
    if (withMarker.back() != ' ')
      withMarker += ' ';
    withMarker += marker;
  }
  for (std::size_t at; (at = withMarker.find("%1")) != std::string::npos;)
    withMarker.replace(at, 2, marker);
  std::vector<std::string> args = SplitCommandLine(withMarker);
  for (std::string& arg : args) {
    for (std::size_t at; (at = arg.find(marker)) != std::string::npos;)
      arg.replace(at, marker.size(), argument);
  }
  return args;
}

const char* const kHandlers[] = {
    R"("C:\Program Files\Mail\mail.exe" -compose "%1")",
    R"("C:\PROGRA~1\MICROS~1\Office\OUTLOOK.EXE" -c IPM.Note /m "%1")",
    R"(C:\Mail\mail.exe %1)",
    R"(C:\Mail\mail.exe /url:%1 -new)",
    R"("C:\Mail\mail.exe" "%1" --after "x y")",
    R"("C:\Mail\mail.exe" -compose)",
    R"("C:\Mail\mail.exe" -compose )",
    R"(mail.exe "pre %1 post")",
    R"(mail.exe "dir\%1")",
    R"(mail.exe \\%1)",
    R"(mail.exe "%1\\" next)",
    R"(mail.exe "%1\" still" next)",
};

const char* const kHostileTexts[] = {
    "",
    "plain",
    "two words",
    "quote\" inside",
    "\"",
    "\"\"",
    "ends in backslash\\",
    "\\\\",
    "\\\"",
    "back\\\\\"slash quote",
    "line\r\nbreak",
    "tab\there",
    "%1 and %1",
    "\" & calc.exe & \"",
    "\"\" -evil \"x",
    "\\\" -injected",
};

}  // namespace

TEST(PercentEncode, KeepsOnlyLettersDigitsDotAndAt) {
  EXPECT_EQ(PercentEncode("AZaz09.@"), "AZaz09.@");
  EXPECT_EQ(PercentEncode(" -_~%&?=\"\\\r\n"), "%20%2D%5F%7E%25%26%3F%3D%22%5C%0D%0A");
  EXPECT_EQ(PercentEncode(std::string("\0\x7F\xFF", 3)), "%00%7F%FF");
  EXPECT_EQ(PercentEncode("\xE5\xAF\xBC"), "%E5%AF%BC");  // UTF-8 bytes, each escaped
  EXPECT_EQ(PercentEncode("%1"), "%251");
}

TEST(MailtoLink, JoinsRecipientsWithTheHandlersSeparator) {
  MailtoMessage message{{"a@b.c", "x y@d.e"}, "bug report", "line1\r\nline2"};
  EXPECT_EQ(MailtoRecipientSeparator(R"("C:\Mail\mail.exe" "%1")"), ',');
  EXPECT_EQ(MailtoRecipientSeparator(R"("C:\Office\OUTLOOK.EXE" /m "%1")"), ';');
  EXPECT_EQ(BuildMailtoLink(message, ','), "mailto:a@b.c,x%20y@d.e?subject=bug%20report&body=line1%0D%0Aline2");
  EXPECT_EQ(BuildMailtoLink(message, ';'), "mailto:a@b.c;x%20y@d.e?subject=bug%20report&body=line1%0D%0Aline2");
  EXPECT_EQ(BuildMailtoLink(MailtoMessage{{}, "s", ""}, ','), "mailto:?subject=s&body=");

  const std::optional<std::string> outlook =
      BuildMailtoCommand(R"("C:\Office\OUTLOOK.EXE" /m "%1")", message);
  ASSERT_TRUE(outlook);
  EXPECT_NE(outlook->find("mailto:a@b.c;x%20y@d.e?"), std::string::npos);
}

TEST(MailtoCommand, HostileReportTextsStayInsideTheOneLinkArgument) {
  for (const char* handler : kHandlers) {
    for (const char* text : kHostileTexts) {
      MailtoMessage message{{text, "a@b.c"}, text, std::string(text) + "\n" + text};
      const std::string link = BuildMailtoLink(message, MailtoRecipientSeparator(handler));
      EXPECT_EQ(link.find_first_of(" \t\r\n\"\\"), std::string::npos) << link;
      const std::optional<std::string> command = BuildMailtoCommand(handler, message);
      ASSERT_TRUE(command) << handler;
      EXPECT_EQ(SplitCommandLine(*command), ExpectedArguments(handler, link)) << handler << " / " << text;
    }
  }
}

TEST(MailtoCommand, PlacesTheLinkWhereTheHandlerSays) {
  EXPECT_EQ(BuildHandlerCommand(R"("C:\m.exe" -c "%1")", "mailto:x"), R"("C:\m.exe" -c "mailto:x")");
  EXPECT_EQ(BuildHandlerCommand(R"(m.exe %1 -x %1)", "mailto:x"), R"(m.exe mailto:x -x mailto:x)");
  EXPECT_EQ(BuildHandlerCommand(R"("C:\m.exe" -c)", "mailto:x"), R"("C:\m.exe" -c mailto:x)");
  EXPECT_EQ(BuildHandlerCommand(R"("C:\m.exe" -c )", "mailto:x"), R"("C:\m.exe" -c mailto:x)");
  // The inserted text is not searched for "%1" again.
  EXPECT_EQ(BuildHandlerCommand("m.exe %1", "a%1b"), "m.exe a%1b");
}

TEST(HandlerCommand, QuotesAndEscapesAnyArgumentAsOneArgument) {
  for (const char* handler : kHandlers) {
    for (const char* text : kHostileTexts) {
      const std::optional<std::string> command = BuildHandlerCommand(handler, text);
      ASSERT_TRUE(command) << handler << " / " << text;
      EXPECT_EQ(SplitCommandLine(*command), ExpectedArguments(handler, text)) << *command;
    }
  }
}

TEST(HandlerCommand, RandomArgumentsSurviveSplitting) {
  std::mt19937 random(20240611);
  const char alphabet[] = {'a', ' ', '"', '\\', '\t', '\n', '%', '1'};
  for (int round = 0; round < 4000; ++round) {
    std::string text;
    const int length = static_cast<int>(random() % 9);
    for (int i = 0; i < length; ++i)
      text += alphabet[random() % sizeof alphabet];
    const char* handler = kHandlers[random() % (sizeof kHandlers / sizeof kHandlers[0])];
    const std::optional<std::string> command = BuildHandlerCommand(handler, text);
    ASSERT_TRUE(command) << handler << " / " << text;
    ASSERT_EQ(SplitCommandLine(*command), ExpectedArguments(handler, text)) << *command;
  }
}

TEST(HandlerCommand, RefusesSpotsItCannotQuoteSafely) {
  // Quotes of the command right beside a quoted argument would merge with ours.
  EXPECT_FALSE(BuildHandlerCommand(R"(m.exe "a"%1)", "x y"));
  EXPECT_FALSE(BuildHandlerCommand(R"(m.exe %1"a")", "x y"));
  // The program name has no escapes at all.
  EXPECT_FALSE(BuildHandlerCommand(R"(%1 -x)", "x y"));
  EXPECT_FALSE(BuildHandlerCommand(R"("C:\%1.exe" -x)", "a\"b"));
  // A command that ends inside quotes would glue an appended link to its text.
  EXPECT_FALSE(BuildHandlerCommand(R"("C:\m.exe" "-c)", "mailto:x"));
  EXPECT_FALSE(BuildHandlerCommand("", "mailto:x"));
  EXPECT_FALSE(BuildHandlerCommand("   ", "mailto:x"));
  // Plain text is fine glued to the command's quotes.
  EXPECT_EQ(BuildHandlerCommand(R"(m.exe "a"%1)", "mailto:x"), R"(m.exe "a"mailto:x)");
}

namespace {

// Offsets in a link where a cut keeps every escape whole.
std::set<std::size_t> WholeEscapeBoundaries(const std::string& link) {
  std::set<std::size_t> boundaries{0};
  for (std::size_t i = 0; i < link.size();) {
    i += link[i] == '%' ? 3 : 1;
    boundaries.insert(i);
  }
  return boundaries;
}

}  // namespace

TEST(MailtoCommand, LongCommandsAreCutWithoutSplittingAnEscape) {
  const char* const handlers[] = {R"(m.exe %1)", R"("C:\m.exe" /m "%1")", R"("C:\m.exe" "%1" --after "x y")",
                                  R"("C:\m.exe" -c)"};
  for (const char* handler : handlers) {
    std::set<std::size_t> lengthsSeen;
    for (int shift = 0; shift < 5; ++shift) {
      // "ab" then an escaped blank ("ab%20"), over and over: five shifts
      // put the limit on each character of the cycle once.
      std::string body(static_cast<std::size_t>(shift), 'x');
      while (body.size() < 20000)
        body += "ab ";
      const MailtoMessage message{{"a@b.c"}, "bug report", body};
      const std::string link = BuildMailtoLink(message, ',');
      const std::optional<std::string> command = BuildMailtoCommand(handler, message);
      ASSERT_TRUE(command);
      ASSERT_LE(command->size(), kMaxCommandLineLength);
      lengthsSeen.insert(command->size());

      const std::vector<std::string> full = ExpectedArguments(handler, link);
      const std::vector<std::string> args = SplitCommandLine(*command);
      ASSERT_EQ(args.size(), full.size()) << "the rest of the command is kept";
      std::size_t linkAt = 0;
      while (linkAt < full.size() && full[linkAt] != link)
        ++linkAt;
      ASSERT_LT(linkAt, full.size());
      for (std::size_t i = 0; i < args.size(); ++i) {
        if (i != linkAt) {
          EXPECT_EQ(args[i], full[i]);
        }
      }
      const std::string& kept = args[linkAt];
      ASSERT_EQ(link.compare(0, kept.size(), kept), 0) << "the link is cut from its end";
      const std::set<std::size_t> boundaries = WholeEscapeBoundaries(link);
      EXPECT_EQ(boundaries.count(kept.size()), 1u) << "an escape was split";
      // The longest whole-escape cut that fits is taken.
      const std::size_t budget = kept.size() + (kMaxCommandLineLength - command->size());
      EXPECT_EQ(*std::prev(boundaries.upper_bound(budget)), kept.size());
    }
    EXPECT_EQ(lengthsSeen, (std::set<std::size_t>{kMaxCommandLineLength, kMaxCommandLineLength - 1,
                                                  kMaxCommandLineLength - 2}))
        << handler;
  }
}

TEST(MailtoCommand, ShortCommandsAreNotCutAndTooLongHandlersFail) {
  const MailtoMessage message{{}, "s", "body"};
  const std::string whole = "m.exe mailto:?subject=s&body=body";
  EXPECT_EQ(BuildMailtoCommand("m.exe %1", message, whole.size()), whole);
  EXPECT_EQ(BuildMailtoCommand("m.exe %1", message, whole.size() - 1), whole.substr(0, whole.size() - 1));
  EXPECT_FALSE(BuildMailtoCommand("m.exe -with-a-very-long-option %1", message, 20));
}
