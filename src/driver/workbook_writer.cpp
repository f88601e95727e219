// The rows as an Office Open XML workbook for people, through libxlsxwriter: one worksheet, the
// header row frozen and filtered, texts as text cells (a lot number 1-1 is never a date), numbers
// as numbers shown with their column's decimals. libxlsxwriter keeps one row in memory at a time
// (its constant_memory mode) and the rest in a temporary file beside the output, so memory stays
// bounded however many rows a run gives.
#include <xlsxwriter.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <new>
#include <utility>
#include <vector>

#include "common/numbers.hpp"
#include "common/text_format.hpp"
#include "common/utf8.hpp"
#include "driver/output_session.hpp"
#include "driver/row_writer.hpp"
#include "platform/platform.hpp"

// Every libxlsxwriter function called here; the table and its loader are both made from this list.
#define CHIZUVEC_XLSX_FUNCTIONS(X)    \
    X(workbook_new_opt)               \
    X(workbook_add_worksheet)         \
    X(workbook_add_format)            \
    X(workbook_set_properties)        \
    X(workbook_close)                 \
    X(lxw_workbook_free)              \
    X(format_set_bold)                \
    X(format_set_num_format)          \
    X(worksheet_set_column)           \
    X(worksheet_freeze_panes)         \
    X(worksheet_autofilter)           \
    X(worksheet_write_string)         \
    X(worksheet_write_number)         \
    X(lxw_worksheet_write_single_row) \
    X(lxw_strerror)

namespace chizuvec {
namespace {

// Typed from <xlsxwriter.h>. Where the library is loaded on demand, runs that write no workbook
// never map it (nor the libraries it pulls in) at start-up.
struct XlsxLibrary {
#define CHIZUVEC_XLSX_MEMBER(name) decltype(&::name) name = nullptr;
    CHIZUVEC_XLSX_FUNCTIONS(CHIZUVEC_XLSX_MEMBER)
#undef CHIZUVEC_XLSX_MEMBER
    std::string error;  // why it is not usable: the library's file name and the reason
    bool usable() const { return error.empty(); }
};

XlsxLibrary load_xlsx_library() {
    XlsxLibrary lib;
#ifdef CHIZUVEC_XLSXWRITER_SONAME
    void* library = platform::load_library(CHIZUVEC_XLSXWRITER_SONAME);
    if (library == nullptr) {
        lib.error = "cannot load " CHIZUVEC_XLSXWRITER_SONAME ": " + platform::library_error();
        return lib;
    }
#define CHIZUVEC_XLSX_LOOKUP(name)                                                             \
    lib.name = reinterpret_cast<decltype(lib.name)>(platform::library_symbol(library, #name)); \
    if (lib.error.empty() && lib.name == nullptr) lib.error = CHIZUVEC_XLSXWRITER_SONAME ": no function " #name;
    CHIZUVEC_XLSX_FUNCTIONS(CHIZUVEC_XLSX_LOOKUP)
#undef CHIZUVEC_XLSX_LOOKUP
#else
#define CHIZUVEC_XLSX_LINKED(name) lib.name = &::name;
    CHIZUVEC_XLSX_FUNCTIONS(CHIZUVEC_XLSX_LINKED)
#undef CHIZUVEC_XLSX_LINKED
#endif
    return lib;
}

// Loaded once, on the first workbook.
const XlsxLibrary& xlsx_library() {
    static const XlsxLibrary lib = load_xlsx_library();
    return lib;
}

// Does an "_xHHHH_" escape of the workbook's text format start at text[i] (an underscore)?
bool starts_escape(std::string_view text, std::size_t i) {
    if (i + 7 > text.size() || (text[i + 1] != 'x' && text[i + 1] != 'X') || text[i + 6] != '_') return false;
    return std::all_of(
        text.begin() + static_cast<std::ptrdiff_t>(i + 2), text.begin() + static_cast<std::ptrdiff_t>(i + 6),
        [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); });
}

// Excel's column widths are in characters of its default font.
double column_width(const RowColumn& column) {
    const double shortest = column.type == RowCellType::text ? 16.0 : 12.0;
    return std::max(shortest, static_cast<double>(column.name.size()) + 2.0);
}

std::string number_format(const RowColumn& column) {
    if (column.type == RowCellType::text) return "@";
    if (column.type == RowCellType::integer || column.decimals <= 0) return "0";
    return "0." + std::string(static_cast<std::size_t>(column.decimals), '0');
}

// The value the CSV gives for the same cell: rounded to the column's decimals, so that the two
// outputs of a run hold the same numbers.
double cell_value(const RowColumn& column, double number) {
    const int decimals = column.type == RowCellType::real ? column.decimals : 0;
    std::string text;
    append_fixed(text, number, decimals);
    return parse_decimal(text);
}

class WorkbookWriter final : public RowWriter {
  public:
    explicit WorkbookWriter(OutputSession& output) : output_(output) {}
    ~WorkbookWriter() override {
        if (workbook_ == nullptr) return;
        // Abandoned: nothing is packed. The library frees a workbook without closing the worksheet's
        // temporary file or freeing the row it holds, so both are done first: nothing stays open.
        if (sheet_ != nullptr && sheet_->optimize_tmpfile != nullptr) {
            lib_->lxw_worksheet_write_single_row(sheet_);
            std::fclose(sheet_->optimize_tmpfile);
            sheet_->optimize_tmpfile = nullptr;
            sheet_->file = nullptr;
        }
        lib_->lxw_workbook_free(workbook_);
    }

    bool begin(std::span<const RowColumn> columns) override {
        columns_ = columns;
        lib_ = &xlsx_library();
        if (!lib_->usable()) return fail(lib_->error);
        path_ = output_.release_stream();
        // The worksheet waits in a temporary file: beside the output, where its room is.
        const std::string_view folder = platform::path_directory(path_);
        temp_folder_ = folder.empty() ? std::string(".") : std::string(folder);
        lxw_workbook_options options{};
        options.constant_memory = LXW_TRUE;
        options.tmpdir = temp_folder_.data();
        workbook_ = lib_->workbook_new_opt(path_.c_str(), &options);
        if (workbook_ == nullptr) return fail("out of memory");
        // Reproducible when asked: the workbook's own creation time, like every other output's.
        std::int64_t seconds = 0;
        if (platform::source_date_epoch(seconds)) {
            lxw_doc_properties properties{};
            properties.created = static_cast<std::time_t>(seconds);
            if (!check(lib_->workbook_set_properties(workbook_, &properties))) return false;
        }
        // In constant_memory mode the worksheet opens its temporary file here.
        sheet_ = lib_->workbook_add_worksheet(workbook_, "parcels");
        if (sheet_ == nullptr) return fail("cannot make the worksheet's temporary file (or out of memory)");
        lxw_format* const header = lib_->workbook_add_format(workbook_);
        if (header == nullptr) return fail("out of memory");
        lib_->format_set_bold(header);
        // One format object per number format: libxlsxwriter looks a duplicate up anew for every cell.
        std::vector<std::pair<std::string, lxw_format*>> made;
        for (std::size_t c = 0; c < columns.size(); ++c) {
            const std::string wanted = number_format(columns[c]);
            const auto found = std::find_if(made.begin(), made.end(), [&](const auto& m) { return m.first == wanted; });
            lxw_format* format = found == made.end() ? nullptr : found->second;
            if (format == nullptr) {
                format = lib_->workbook_add_format(workbook_);
                if (format == nullptr) return fail("out of memory");
                lib_->format_set_num_format(format, wanted.c_str());
                made.emplace_back(wanted, format);
            }
            formats_.push_back(format);
            const auto column = static_cast<lxw_col_t>(c);
            if (!check(lib_->worksheet_set_column(sheet_, column, column, column_width(columns[c]), format))) {
                return false;
            }
            const std::string name(columns[c].name);
            if (!check(lib_->worksheet_write_string(sheet_, 0, column, name.c_str(), header))) return false;
        }
        lib_->worksheet_freeze_panes(sheet_, 1, 0);
        return true;
    }

    bool write(const RowBatch& rows) override {
        if (!error_.empty() || workbook_ == nullptr) return false;
        if (rows.rows() > kWorksheetRows - 1 - rows_) {
            return fail(
                format_text("more than %zu parcels, and a worksheet holds %zu rows with its header: write a .csv "
                            "for them all",
                            kWorksheetRows - 1, kWorksheetRows));
        }
        for (std::size_t r = 0; r < rows.rows(); ++r) {
            const auto row = static_cast<lxw_row_t>(rows_ + 1);
            for (std::size_t c = 0; c < columns_.size(); ++c) {
                if (rows.null(r, c)) continue;
                const auto column = static_cast<lxw_col_t>(c);
                const RowColumn& kind = columns_[c];
                if (kind.type == RowCellType::text) {
                    bool cut = false;
                    text_ = worksheet_text(rows.text(r, c), cut);
                    texts_cut_ += cut ? 1 : 0;
                    if (!check(lib_->worksheet_write_string(sheet_, row, column, text_.c_str(), formats_[c]))) {
                        return false;
                    }
                    continue;
                }
                // No cell of the format holds an infinity or NaN: such a value stays empty.
                if (!std::isfinite(rows.number(r, c))) continue;
                const double value = cell_value(kind, rows.number(r, c));
                if (!check(lib_->worksheet_write_number(sheet_, row, column, value, formats_[c]))) return false;
            }
            ++rows_;
        }
        return true;
    }

    bool finish() override {
        if (!error_.empty() || workbook_ == nullptr) return false;
        if (!columns_.empty()) {
            const auto last_column = static_cast<lxw_col_t>(columns_.size() - 1);
            if (!check(lib_->worksheet_autofilter(sheet_, 0, 0, static_cast<lxw_row_t>(rows_), last_column))) {
                return false;
            }
        }
        lxw_workbook* const workbook = workbook_;
        workbook_ = nullptr;  // closed, and freed, whatever the result
        return check(lib_->workbook_close(workbook));
    }

    std::string error() const override { return error_; }
    std::size_t texts_cut() const override { return texts_cut_; }

  private:
    bool fail(std::string why) {
        if (error_.empty()) error_ = std::move(why);
        return false;
    }
    bool check(lxw_error status) {
        if (status == LXW_NO_ERROR) return true;
        return fail(lib_->lxw_strerror(status));
    }

    OutputSession& output_;
    const XlsxLibrary* lib_ = nullptr;
    std::span<const RowColumn> columns_;
    std::string path_;
    std::string temp_folder_;
    lxw_workbook* workbook_ = nullptr;
    lxw_worksheet* sheet_ = nullptr;
    std::vector<lxw_format*> formats_;  // one per column
    std::size_t rows_ = 0;              // rows written below the header
    std::size_t texts_cut_ = 0;
    std::string text_;  // one cell's text, reused
    std::string error_;
};

}  // namespace

std::string worksheet_text(std::string_view text, bool& cut) {
    cut = false;
    std::string out;
    out.reserve(text.size());
    std::size_t units = 0;    // UTF-16 units, as Excel counts a cell's characters once it reads the text
    std::size_t written = 0;  // characters written, escapes included, as libxlsxwriter counts them
    for (std::size_t i = 0; i < text.size();) {
        const Utf8Char ch = decode_utf8(text, i);
        char32_t c = ch.code_point;
        std::string_view escape;
        if (c < 0x20 || c == 0x7F) {
            c = U'?';
        } else if (c == 0xFFFE || c == 0xFFFF) {
            c = kReplacementCharacter;
        } else if (c == U'_' && starts_escape(text, i)) {
            escape = "_x005F_";
        }
        const std::size_t more_units = c >= 0x10000 ? 2 : 1;
        const std::size_t more_written = escape.empty() ? 1 : escape.size();
        if (units + more_units > kWorksheetCellCharacters || written + more_written > kWorksheetCellCharacters) {
            cut = true;
            break;
        }
        units += more_units;
        written += more_written;
        if (escape.empty()) {
            append_utf8(out, c);
        } else {
            out += escape;
        }
        i += ch.length;
    }
    return out;
}

std::unique_ptr<RowWriter> make_workbook_writer(OutputSession& output) {
    return std::make_unique<WorkbookWriter>(output);
}

}  // namespace chizuvec
