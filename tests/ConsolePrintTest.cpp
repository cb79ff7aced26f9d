#include <gtest/gtest.h>

#include "print/Print.h"
#include "sim/SimFirmware.h"

namespace {

class ConsolePrintTest : public ::testing::Test {
 protected:
  void SetUp() override { Firmware.Activate(); }
  SimFirmware Firmware;
};

TEST_F(ConsolePrintTest, LineEndsReachTheConsoleAsCarriageReturnLineFeed) {
  EXPECT_EQ(ConsolePrint(u"one\ntwo\r\nthree\n"), 17u);
  EXPECT_EQ(Firmware.ConsoleText(), u"one\r\ntwo\r\nthree\r\n");
  EXPECT_EQ(Firmware.ConsoleWrites().size(), 1u);
}

TEST_F(ConsolePrintTest, ArgumentsOfEveryKindTakeOneSlotEach) {
  const void *Address = (const void *)0x12345678ABCull;
  ConsolePrint(u"RSDP address [%lX] %d %u %c %s %a %r\n", Address, -3, 7u, u'Z', u"wide", "narrow",
               EFI_NOT_FOUND);
  EXPECT_EQ(Firmware.ConsoleText(), u"RSDP address [12345678ABC] -3 7 Z wide narrow Not Found\r\n");
}

TEST_F(ConsolePrintTest, EachCallTakesOnePoolBufferAndGivesItBack) {
  ConsolePrint(u"first %d\n", 1);
  ConsolePrint(u"second\n");
  EXPECT_EQ(Firmware.PoolRequests(), (std::vector<UINTN>{642, 642}));
  EXPECT_EQ(Firmware.Calls(SimCall::FreePool), 2);
  EXPECT_EQ(Firmware.OutstandingPool(), 0u);
  EXPECT_EQ(Firmware.BadFrees(), 0u);
}

TEST_F(ConsolePrintTest, OutputIsCutAtThreeHundredTwentyCharacters) {
  std::u16string Long(400, u'x');
  EXPECT_EQ(ConsolePrint(u"%s", Long.c_str()), 320u);
  EXPECT_EQ(Firmware.ConsoleText(), std::u16string(320, u'x'));
  std::u16string LongLine = Long + u"\n";
  EXPECT_EQ(ConsolePrintSlots(LongLine.c_str(), FormatArguments{nullptr, 0}), 320u);
  EXPECT_EQ(Firmware.ConsoleWrites().back(), std::u16string(320, u'x'));
}

TEST_F(ConsolePrintTest, FailedAllocationShowsNothing) {
  Firmware.FailCall(SimCall::AllocatePool, EFI_OUT_OF_RESOURCES);
  EXPECT_EQ(ConsolePrint(u"lost %d\n", 5), 0u);
  EXPECT_EQ(Firmware.Calls(SimCall::OutputString), 0);
  EXPECT_EQ(Firmware.Calls(SimCall::FreePool), 0);
}

TEST_F(ConsolePrintTest, ConsoleErrorReturnsZero) {
  Firmware.FailCall(SimCall::OutputString, EFI_DEVICE_ERROR);
  EXPECT_EQ(ConsolePrint(u"text\n"), 0u);
  EXPECT_EQ(Firmware.OutstandingPool(), 0u);
}

TEST_F(ConsolePrintTest, NullConsoleIsSafe) {
  Firmware.RemoveConsole();
  EXPECT_EQ(ConsolePrint(u"nobody sees %d\n", 5), 15u);
  EXPECT_EQ(Firmware.OutstandingPool(), 0u);
}

TEST_F(ConsolePrintTest, EmptyTextIsNotSentToTheConsole) {
  EXPECT_EQ(ConsolePrint(u""), 0u);
  EXPECT_EQ(Firmware.Calls(SimCall::OutputString), 0);
  EXPECT_EQ(Firmware.OutstandingPool(), 0u);
}

static_assert(FormatSlotCount(u"RSDP address [%lX]\n") == 1);
static_assert(FormatSlotCount(u" Signature [%c%c%c%c]\n") == 4);
static_assert(FormatSlotCount(u"%*.*d %-5s %% %5%% %q %,010d %r %g %t %a %S %p %u %x") == 13);
static_assert(FormatSlotCount(u"no directives\n") == 0);
static_assert(FormatSlotCount(u"ends inside %5") == 0);
static_assert(FormatSlotCount(u"ends with %") == 0);

TEST(ConsolePrintWithoutTables, ReturnsZeroBeforeTheTablesAreKnown) {
  EXPECT_EQ(ConsolePrint(u"too early\n"), 0u);
}

}  // namespace
