// Fixed-layout text tables: measuring cells into column widths, laying
// texts out in their cells.
#include "column_table.h"

#include <string.h>

#include "terminal_text.h"

namespace {

void PutBlanks(unsigned int count, FILE* out) {
    for (unsigned int i = 0; i < count; ++i) {
        (void)fputc(' ', out);
    }
}

}  // namespace

void PutCell(const char* text, unsigned int width, CellAlign align, FILE* out) {
    const size_t length = text == nullptr ? 0 : strlen(text);
    const unsigned int surplus = align == CellAlign::kBare || length >= width
                                     ? 0
                                     : width - static_cast<unsigned int>(length);
    const unsigned int left = align == CellAlign::kCentre ? surplus / 2 : 0;
    PutBlanks(left, out);
    TerminalSafePut(text, out);
    PutBlanks(surplus - left, out);
}

void PutRule(unsigned int count, char ch, FILE* out) {
    for (unsigned int i = 0; i < count; ++i) {
        (void)fputc(static_cast<unsigned char>(ch), out);
    }
}

unsigned int RaisedWidth(unsigned int current, size_t length, unsigned int floor) {
    const unsigned int text =
        length > 0xFFFFFFFFU ? 0xFFFFFFFFU : static_cast<unsigned int>(length);
    const unsigned int largest = current > text ? current : text;
    return largest > floor ? largest : floor;
}

namespace {

// The column raised to its floor, its heading and a text of this length.
void Raise(const Column& column, size_t length) {
    const unsigned int width = RaisedWidth(column.width, strlen(column.heading), column.floor);
    column.width = RaisedWidth(width, length, 0);
}

}  // namespace

void ColumnTable::Measure(const char* const* cells) const {
    for (size_t i = 0; i < count_; ++i) {
        Raise(columns_[i], strlen(cells[i]));
    }
}

void ColumnTable::ApplyFloors() const {
    for (size_t i = 0; i < count_; ++i) {
        Raise(columns_[i], 0);
    }
}

unsigned int ColumnTable::CellWidth(size_t column) const {
    return columns_[column].width + margin_;
}

unsigned int ColumnTable::RuleLength() const {
    unsigned int length = 0;
    for (size_t i = 0; i < count_; ++i) {
        length += CellWidth(i);
    }
    return length;
}

void ColumnTable::PutHeadings(CellWriter write, FILE* out) const {
    for (size_t i = 0; i < count_; ++i) {
        write(columns_[i].heading, CellWidth(i), columns_[i].headingAlign, out);
    }
    (void)fputc('\n', out);
}

void ColumnTable::PutRow(const char* const* cells, CellWriter write, FILE* out) const {
    for (size_t i = 0; i < count_; ++i) {
        write(cells[i], CellWidth(i), columns_[i].cellAlign, out);
    }
    (void)fputc('\n', out);
}
