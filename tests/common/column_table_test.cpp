// Tests of the column table: cell layouts, widths measured from cells and
// headings, widths shared between tables, and the lines it writes.
#include "column_table.h"

#include <gtest/gtest.h>

#include <stdio.h>
#include <stdlib.h>

#include <string>
#include <vector>

#include "written_text.h"

namespace {

TEST(ColumnCell, LaysTheTextOutAsItsAlignmentSays) {
    struct Case {
        const char* text;
        unsigned int width;
        CellAlign align;
        const char* expected;
    } const cases[] = {
        {"abc", 8, CellAlign::kCentre, "  abc   "},  // the odd blank on the right
        {"abc", 7, CellAlign::kCentre, "  abc  "},
        {"abc", 6, CellAlign::kLeft, "abc   "},
        {"abc", 3, CellAlign::kLeft, "abc"},
        {"abc", 8, CellAlign::kBare, "abc"},
        {"abcdef", 4, CellAlign::kCentre, "abcdef"},  // too wide: whole, no blanks
        {"", 3, CellAlign::kCentre, "   "},
        {nullptr, 2, CellAlign::kLeft, "  "},
        {"a\x1b[2J\xff", 9, CellAlign::kCentre, " a?[2J?  "},  // one '?' a byte, width kept
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Written([&](FILE* out) { PutCell(c.text, c.width, c.align, out); }), c.expected)
            << "'" << (c.text != nullptr ? c.text : "(null)") << "' in " << c.width;
    }
}

TEST(ColumnCell, RuleIsCountCharactersWithoutNewline) {
    EXPECT_EQ(Written([](FILE* out) { PutRule(5, '=', out); }), "=====");
    EXPECT_EQ(Written([](FILE* out) { PutRule(0, '-', out); }), "");
    EXPECT_EQ(Written([](FILE* out) { PutRule(2, '\xff', out); }), "\xff\xff");
}

TEST(ColumnCell, RaisedWidthIsTheLargestAndClampsHugeLengths) {
    EXPECT_EQ(RaisedWidth(9, 3, 4), 9u);
    EXPECT_EQ(RaisedWidth(2, 7, 4), 7u);
    EXPECT_EQ(RaisedWidth(2, 3, 4), 4u);
    if (sizeof(size_t) > 4) {
        EXPECT_EQ(RaisedWidth(0, static_cast<size_t>(0x1FFFFFFFFULL), 0), 0xFFFFFFFFu);
    }
}

class ColumnTableTest : public testing::Test {
  protected:
    unsigned int name_ = 0;
    unsigned int state_ = 0;
    unsigned int note_ = 0;
    // A floor below its heading, one above it, and a last column that runs on.
    const Column columns_[3] = {{"Name", name_, 2},
                                {"St", state_, 5, CellAlign::kLeft, CellAlign::kLeft},
                                {"Note", note_, 0, CellAlign::kBare}};
    ColumnTable table_{columns_, 2};
};

TEST_F(ColumnTableTest, WidthIsTheLargestOfFloorHeadingAndEveryCell) {
    const char* rows[][3] = {{"ab", "x", ""}, {"abcdefg", "", "n"}, {"abc", "yy", "a note"}};
    for (const auto& row : rows) {
        table_.Measure(row);
    }
    EXPECT_EQ(name_, 7u);   // the widest cell
    EXPECT_EQ(state_, 5u);  // the floor
    EXPECT_EQ(note_, 6u);
    EXPECT_EQ(table_.CellWidth(0), 9u);
    EXPECT_EQ(table_.RuleLength(), 9u + 7 + 8);
}

TEST_F(ColumnTableTest, WidthsOnlyRiseAndNeedARowOrTheFloorsApplied) {
    name_ = 12;
    const char* row[] = {"ab", "", ""};
    table_.Measure(row);
    EXPECT_EQ(name_, 12u);
    EXPECT_EQ(note_, 4u);  // a floor of 0 still holds the heading

    unsigned int shared = 0;
    const Column other[] = {{"Name", shared, 3}};
    ColumnTable unmeasured(other, 2);
    EXPECT_EQ(unmeasured.RuleLength(), 2u);  // no row measured: nothing raised
    unmeasured.ApplyFloors();
    EXPECT_EQ(shared, 4u);
}

// Two tables over one width variable line that column up alike.
TEST_F(ColumnTableTest, TablesSharingAWidthLineItUpAlike) {
    const Column paths[] = {{"Path", name_, 4}};
    ColumnTable pathTable(paths, 2);
    const char* pathRow[] = {"/dev/sdaa"};
    pathTable.Measure(pathRow);
    const char* row[] = {"dm-1", "ok", "n"};
    table_.Measure(row);
    EXPECT_EQ(Written([&](FILE* out) { table_.PutRow(row, PutCell, out); }),
              "   dm-1    ok     n\n");
    EXPECT_EQ(Written([&](FILE* out) { pathTable.PutRow(pathRow, PutCell, out); }),
              " /dev/sdaa \n");
}

TEST_F(ColumnTableTest, LinesGoThroughTheWriterWithEachColumnsCellAndAlignment) {
    const char* row[] = {"abcdef", "ok", "the note runs on"};
    table_.Measure(row);
    EXPECT_EQ(Written([&](FILE* out) { table_.PutHeadings(PutCell, out); }),
              "  Name  St            Note       \n");
    EXPECT_EQ(Written([&](FILE* out) { table_.PutHeadings(PutCell, out); }).size(),
              table_.RuleLength() + 1);

    static std::vector<std::string> calls;
    calls.clear();
    const CellWriter record = [](const char* text, unsigned int width, CellAlign align, FILE*) {
        calls.push_back(std::string(text) + "/" + std::to_string(width) + "/" +
                        std::to_string(static_cast<int>(align)));
    };
    EXPECT_EQ(Written([&](FILE* out) { table_.PutRow(row, record, out); }), "\n");
    EXPECT_EQ(calls, (std::vector<std::string>{"abcdef/8/0", "ok/7/1", "the note runs on/18/2"}));
}

}  // namespace
