#include "maps/EMZel.h"
#include "maps/Tokens.h"

#include <gtest/gtest.h>

TEST(Tokens, CountFieldsTreatsTrailingSeparatorAsNoCell)
{
    EXPECT_EQ(CountFields("0\t5\t10", '\t'), 3);
    EXPECT_EQ(CountFields("0\t5\t10\t", '\t'), 3);
    EXPECT_EQ(CountFields("0\t\t10", '\t'), 3);   // two tabs in a row: an empty cell
    EXPECT_EQ(CountFields("0\t\t", '\t'), 2);
    EXPECT_EQ(CountFields("\t", '\t'), 1);
    EXPECT_EQ(CountFields("abc", '\t'), 1);
    EXPECT_EQ(CountFields("", '\t'), 0);
}

TEST(Tokens, GetFieldReturnsCellOrEmpty)
{
    const std::string line = "a\tbb\t\tddd";
    EXPECT_EQ(GetField(line, '\t', 0), "a");
    EXPECT_EQ(GetField(line, '\t', 1), "bb");
    EXPECT_EQ(GetField(line, '\t', 2), "");
    EXPECT_EQ(GetField(line, '\t', 3), "ddd");
    EXPECT_EQ(GetField(line, '\t', 4), "");
    EXPECT_EQ(GetField(line, '\t', 40), "");
    EXPECT_EQ(GetField(line, '\t', -1), "");
    EXPECT_EQ(GetField("x\t", '\t', 1), "");
}

TEST(Tokens, CutTokenAndReplaceChar)
{
    std::string text = "one;two;three";
    EXPECT_EQ(CutToken(text, ';'), "one");
    EXPECT_EQ(text, "two;three");
    EXPECT_EQ(CutToken(text, ';'), "two");
    EXPECT_EQ(CutToken(text, ';'), "three");
    EXPECT_EQ(text, "");
    EXPECT_EQ(CutToken(text, ';'), "");

    text = ";rest";
    EXPECT_EQ(CutToken(text, ';'), "");
    EXPECT_EQ(text, "rest");

    EXPECT_EQ(ReplaceChar(',', '.', "1,5,6"), "1.5.6");
    EXPECT_EQ(ReplaceChar(',', '.', "none"), "none");
}

TEST(EMZelError, MessageCarriesBaseTextCodeAndInformation)
{
    EMZel e(4, "Please, contact the Ulmora support\r\n\r\nbad cell");
    EXPECT_EQ(e.ErrorCode(), 4);
    EXPECT_EQ(e.Message(), "Error while reading the resistance map (Error code: 4)\r\n"
                           "Please, contact the Ulmora support\r\n\r\nbad cell");

    // Percent signs in the information text are not format directives.
    EMZel p(0, "100% %s %d");
    EXPECT_EQ(p.Message(), "One or more competitor(s) not ready to start (Error code: 0)\r\n100% %s %d");

    EXPECT_EQ(EMZel(1, "").Message(), "Course not ready to Start (Error code: 1)\r\n");
    EXPECT_EQ(EMZel(2, "x").Message(), "Error while UnAssignDeviceSourceEvents (Error code: 2)\r\nx");
    EXPECT_EQ(EMZel(3, "x").Message(),
              "This function can't accept a DeviceType Unknown or this device is not compatible (Error code: 3)\r\nx");
    EXPECT_EQ(EMZel(5, "x").Message(), "CompetitorList unAssigned (Error code: 5)\r\nx");
    // Codes without a base text must not read outside the table.
    EXPECT_EQ(EMZel(6, "x").Message(), " (Error code: 6)\r\nx");
    EXPECT_EQ(EMZel(-1, "x").Message(), " (Error code: -1)\r\nx");
    EXPECT_STREQ(e.what(), e.Message().c_str());
}
