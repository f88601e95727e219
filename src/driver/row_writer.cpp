// The batch of typed rows, and the CSV writer: the rows as text for programs.
#include "driver/row_writer.hpp"

#include <charconv>
#include <new>

#include "common/text_format.hpp"
#include "driver/output_session.hpp"

namespace chizuvec {

void RowBatch::add_text(std::string_view text) {
    if (text.size() >= kNullCell - texts_.size()) throw std::bad_alloc();
    Cell cell;
    cell.text_begin = static_cast<std::uint32_t>(texts_.size());
    cell.text_size = static_cast<std::uint32_t>(text.size());
    texts_.append(text);
    cells_.push_back(cell);
}

void RowBatch::add_number(double number) {
    Cell cell;
    cell.number = number;
    cell.text_begin = 0;
    cells_.push_back(cell);
}

void RowBatch::add_null() { cells_.emplace_back(); }

std::string_view RowBatch::text(std::size_t row, std::size_t column) const {
    const Cell& c = cell(row, column);
    return std::string_view(texts_).substr(c.text_begin, c.text_size);
}

void RowBatch::clear() {
    cells_.clear();
    texts_.clear();
}

void append_fixed(std::string& out, double value, int decimals) {
    // to_chars gives printf's digits several times faster; the rows of a run are formatted on one thread.
    char buffer[64];
    const std::to_chars_result done =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, decimals);
    if (done.ec == std::errc()) {
        out.append(buffer, done.ptr);
    } else {
        append_format(out, "%.*f", decimals, value);  // a huge value's many digits
    }
}

namespace {

// Excel takes a CSV without a byte order mark for the system's code page (CP932 on a Japanese
// Windows); a pipe gets plain UTF-8, which tools reading standard input expect.
constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

class CsvWriter final : public RowWriter {
  public:
    explicit CsvWriter(OutputSession& output) : output_(output) {}

    bool begin(std::span<const RowColumn> columns) override {
        columns_ = columns;
        std::string header;
        for (const RowColumn& column : columns) {
            if (!header.empty()) header += ',';
            header += column.name;
        }
        header += "\r\n";
        ok_ = output_.to_standard_output() || output_.write(kByteOrderMark);
        ok_ = ok_ && output_.write(header);
        return ok_;
    }

    bool write(const RowBatch& rows) override {
        if (!ok_) return false;
        text_.clear();
        for (std::size_t r = 0; r < rows.rows(); ++r) {
            for (std::size_t c = 0; c < columns_.size(); ++c) {
                if (c > 0) text_ += ',';
                if (rows.null(r, c)) continue;
                const RowColumn& column = columns_[c];
                if (column.type == RowCellType::text) {
                    append_csv_field(text_, rows.text(r, c));
                } else {
                    append_fixed(text_, rows.number(r, c), column.type == RowCellType::real ? column.decimals : 0);
                }
            }
            text_ += "\r\n";
        }
        ok_ = output_.write(text_);
        return ok_;
    }

    bool finish() override { return ok_; }
    std::string error() const override { return {}; }

  private:
    OutputSession& output_;
    std::span<const RowColumn> columns_;
    std::string text_;  // one batch's rows, reused
    bool ok_ = false;
};

}  // namespace

std::unique_ptr<RowWriter> make_csv_writer(OutputSession& output) { return std::make_unique<CsvWriter>(output); }

}  // namespace chizuvec
