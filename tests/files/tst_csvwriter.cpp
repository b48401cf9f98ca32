// The one CSV writer: RFC 4180 quoting only where a reader needs it, CRLF.
#include "csvwriter.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct Case
{
    std::vector<std::string> fields;
    std::string row; // without its line end
};

class CsvRow : public ::testing::TestWithParam<Case>
{
};

TEST_P(CsvRow, QuotesOnlyWhatNeedsIt)
{
    zem::files::CsvWriter csv;
    for (const std::string &f : GetParam().fields)
        csv.field(f);
    csv.endRow();
    EXPECT_EQ(csv.text(), GetParam().row + "\r\n");
}

INSTANTIATE_TEST_SUITE_P(Fields, CsvRow,
    ::testing::Values(Case { { "a", "1.5", "-2e-05" }, "a,1.5,-2e-05" }, Case { { "" }, "" },
        Case { { "", "" }, "," }, Case { { "a", "", "b" }, "a,,b" }, Case { { "x,y" }, "\"x,y\"" },
        Case { { "say \"hi\"" }, "\"say \"\"hi\"\"\"" }, Case { { "\"" }, "\"\"\"\"" },
        Case { { "two\nlines" }, "\"two\nlines\"" }, Case { { "cr\r" }, "\"cr\r\"" },
        Case { { "cr\r\nlf" }, "\"cr\r\nlf\"" },
        Case { { " lead", "trail ", " " }, " lead,trail , " },
        Case { { "Température", "µA" }, "Température,µA" }));

TEST(CsvWriter, LinesAndPieces)
{
    zem::files::CsvWriter csv;
    csv.line("# note: a, \"b\"");
    csv.field("x").field("y");
    csv.endRow();
    const std::string first = csv.take();
    EXPECT_EQ(first, "# note: a, \"b\"\r\nx,y\r\n");
    // The next piece goes on where the first ended.
    csv.field("2").endRow();
    EXPECT_EQ(csv.text(), "2\r\n");
}

} // namespace
