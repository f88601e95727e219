// The outputs of one row per parcel (--csv: CSV for programs, a workbook for people): the rows are
// built once as typed cells, on the worker threads, and handed in input order to one writer per
// format, so both formats have the same columns, in the same order, under the same names.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace chizuvec {

class OutputSession;

enum class RowCellType {
    text,     // never a number or a date, whatever it looks like (1-1, 0012)
    integer,  // a whole number
    real,     // a number shown with the column's decimals
};

struct RowColumn {
    std::string_view name;
    RowCellType type = RowCellType::text;
    int decimals = 0;  // real: the digits after the point, in the CSV and in the workbook's format
};

// The cells of many rows, row after row, each row one cell per column. Texts are UTF-8 as the map
// gives them; a null cell is empty in every format. Adding throws std::bad_alloc when memory, or the
// batch's room for texts, runs out.
class RowBatch {
  public:
    RowBatch() = default;
    explicit RowBatch(std::size_t columns) : columns_(columns) {}

    void add_text(std::string_view text);
    void add_number(double number);
    void add_null();

    std::size_t columns() const { return columns_; }
    std::size_t rows() const { return columns_ == 0 ? 0 : cells_.size() / columns_; }
    bool null(std::size_t row, std::size_t column) const { return cell(row, column).text_begin == kNullCell; }
    std::string_view text(std::size_t row, std::size_t column) const;
    double number(std::size_t row, std::size_t column) const { return cell(row, column).number; }
    void clear();

  private:
    // 16 bytes a cell: a file's rows may be many. Texts are limited to 4 GiB a batch.
    static constexpr std::uint32_t kNullCell = 0xFFFFFFFF;
    struct Cell {
        double number = 0.0;
        std::uint32_t text_begin = kNullCell;  // kNullCell for a null cell
        std::uint32_t text_size = 0;
    };
    const Cell& cell(std::size_t row, std::size_t column) const { return cells_[row * columns_ + column]; }

    std::size_t columns_ = 0;
    std::vector<Cell> cells_;
    std::string texts_;
};

// A writer of one rows output. `begin` once with the columns, `write` per batch in the order the
// rows are to appear, then `finish`, which completes the output. Every call returns false once
// anything has failed; `error` then says what in plain words, or is empty for a failed write of
// the output itself (the caller's "Cannot write" message).
class RowWriter {
  public:
    virtual ~RowWriter() = default;
    virtual bool begin(std::span<const RowColumn> columns) = 0;
    virtual bool write(const RowBatch& rows) = 0;
    virtual bool finish() = 0;
    virtual std::string error() const = 0;
    // Texts cut to fit the format's cells, told once after the run.
    virtual std::size_t texts_cut() const { return 0; }
};

// The writers write into `output`, opened and later committed or abandoned by the caller.
// CSV: UTF-8 with a byte order mark (none on standard output), RFC 4180 quoting, CR LF line ends.
std::unique_ptr<RowWriter> make_csv_writer(OutputSession& output);
// An Office Open XML workbook of one worksheet (workbook_writer.cpp).
std::unique_ptr<RowWriter> make_workbook_writer(OutputSession& output);

// Appends `value` with `decimals` digits after the point, as "%.*f" writes it in the C locale.
void append_fixed(std::string& out, double value, int decimals);

// The rows a worksheet holds, the header row included: more parcels than this less one is an error.
inline constexpr std::size_t kWorksheetRows = 1048576;
// The characters a worksheet cell holds (UTF-16 units); longer texts are cut.
inline constexpr std::size_t kWorksheetCellCharacters = 32767;

// A text as a worksheet cell holds it: well-formed UTF-8 (U+FFFD for what is not), no character
// that XML 1.0 forbids (control characters become "?", as in the CSV; U+FFFE and U+FFFF become
// U+FFFD), an underscore that would start an "_xHHHH_" escape written as "_x005F_" so the text
// reads as the map gives it, and at most kWorksheetCellCharacters characters once read back.
// `cut` tells whether anything was left out.
std::string worksheet_text(std::string_view text, bool& cut);

}  // namespace chizuvec
