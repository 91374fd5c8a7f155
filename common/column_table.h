// Fixed-layout text tables in columns, as the programs print them: a
// table's columns are listed once (heading, floor, where the width is kept,
// how cells are laid out), each row's cells are built once, and the same
// cells are measured and then printed.
//
// A column's text width is the largest of its floor, its heading and every
// cell measured in it; a cell adds the table's margin to it, and a rule line
// is as long as the cells of a row together. Widths only rise, and they are
// kept where the caller says, so two tables that share a column (the same
// width variable) line it up alike. Every text goes out through
// TerminalSafePut, one '?' per byte a terminal would act on, so the widths
// measured on the text still hold. Nothing here allocates.
#ifndef TSKIT_COMMON_COLUMN_TABLE_H
#define TSKIT_COMMON_COLUMN_TABLE_H

#include <stddef.h>
#include <stdio.h>

// How a text sits in its cell.
enum class CellAlign {
    kCentre,  // the blanks split, the odd one on the right
    kLeft,    // the text first, the blanks after it
    kBare,    // the text alone, without blanks: a last column that runs to its end
};

struct Column {
    const char* heading;
    unsigned int& width;  // its text width; the caller's, so tables may share it
    unsigned int floor;   // the narrowest text width the column takes
    CellAlign cellAlign = CellAlign::kCentre;
    CellAlign headingAlign = CellAlign::kCentre;
};

// Writes one cell: text laid out in width characters. A text wider than its
// cell is written whole, without blanks.
using CellWriter = void (*)(const char* text, unsigned int width, CellAlign align, FILE* out);

void PutCell(const char* text, unsigned int width, CellAlign align, FILE* out);

// A rule line's characters, count of ch, without its newline.
void PutRule(unsigned int count, char ch, FILE* out);

// The largest of a current width, a text length and a floor.
unsigned int RaisedWidth(unsigned int current, size_t length, unsigned int floor);

// A view of a table's column list; the list and the widths it names outlive
// it. Cells of a row are given as one text per column, in column order.
class ColumnTable {
  public:
    template <size_t N>
    constexpr ColumnTable(const Column (&columns)[N], unsigned int margin)
        : columns_(columns), count_(N), margin_(margin) {}

    size_t Count() const { return count_; }

    // Raises every column to hold its floor, its heading and the row's cell.
    // A table that measures no row keeps the widths it had.
    void Measure(const char* const* cells) const;
    // Raises every column to its floor and heading, for a table that may
    // show its headings over no row.
    void ApplyFloors() const;

    unsigned int CellWidth(size_t column) const;
    // The length of a rule line: the sum of the cells.
    unsigned int RuleLength() const;

    // The heading row and one data row, each ended by a newline.
    void PutHeadings(CellWriter write, FILE* out) const;
    void PutRow(const char* const* cells, CellWriter write, FILE* out) const;

  private:
    const Column* columns_;
    size_t count_;
    unsigned int margin_;
};

#endif  // TSKIT_COMMON_COLUMN_TABLE_H
