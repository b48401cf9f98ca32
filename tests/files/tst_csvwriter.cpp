// The one CSV writer: RFC 4180 quoting only where a reader needs it, CRLF.
#include "csvwriter.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

TEST(CsvWriter, QuotesOnlyWhatNeedsIt)
{
    const struct
    {
        std::vector<std::string> fields;
        std::string row; // without its line end
    } cases[] = { { { "a", "1.5", "-2e-05" }, "a,1.5,-2e-05" }, { { "" }, "" }, { { "", "" }, "," },
        { { "a", "", "b" }, "a,,b" }, { { "x,y" }, "\"x,y\"" },
        { { "say \"hi\"" }, "\"say \"\"hi\"\"\"" }, { { "\"" }, "\"\"\"\"" },
        { { "two\nlines" }, "\"two\nlines\"" }, { { "cr\r" }, "\"cr\r\"" },
        { { "cr\r\nlf" }, "\"cr\r\nlf\"" }, { { " lead", "trail ", " " }, " lead,trail , " },
        { { "Température", "µA" }, "Température,µA" } };
    for (const auto &c : cases) {
        zem::files::CsvWriter csv;
        for (const std::string &f : c.fields)
            csv.field(f);
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
