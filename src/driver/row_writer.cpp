// The batch of typed rows, and the CSV writer: the rows as text for programs.
#include "driver/row_writer.hpp"

#include "common/text_format.hpp"
#include "driver/output_session.hpp"

namespace chizuvec {

void RowBatch::add_text(std::string_view text) {
    Cell cell;
    cell.null = false;
    cell.text_begin = texts_.size();
    cell.text_size = text.size();
    texts_.append(text);
    cells_.push_back(cell);
}

void RowBatch::add_number(double number) {
    Cell cell;
    cell.null = false;
    cell.number = number;
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
                    append_format(text_, "%.*f", column.type == RowCellType::real ? column.decimals : 0,
                                  rows.number(r, c));
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
