#include "fhr_core/csv_input/csv_reader.hpp"

#include <cstddef>
#include <cstring>
#include <string>
#include <vector>

#include "fhr_core/csv_input/csv_rows.hpp"

namespace fhr_core::csv_input {
namespace {

// Walks the text line by line: a line ends at a line feed, and a carriage
// return right before it belongs to the ending. A final line feed starts no
// further line.
class LineCursor {
public:
    explicit LineCursor(std::string_view text) : text_(text) {}

    bool next(std::string_view& line) {
        if (pos_ >= text_.size()) return false;
        const void* hit = std::memchr(text_.data() + pos_, '\n', text_.size() - pos_);
        const std::size_t end =
            hit ? static_cast<std::size_t>(static_cast<const char*>(hit) - text_.data()) : text_.size();
        line = text_.substr(pos_, end - pos_);
        if (hit && !line.empty() && line.back() == '\r') line.remove_suffix(1);
        pos_ = hit ? end + 1 : text_.size();
        ++number_;
        return true;
    }

    std::size_t number() const { return number_; }

private:
    std::string_view text_;
    std::size_t pos_ = 0;
    std::size_t number_ = 0;
};

// The number of non-blank lines after the header: the samples are reserved
// once, so the vector never grows by copying.
std::size_t count_data_lines(std::string_view text) {
    LineCursor lines(text);
    std::string_view line;
    lines.next(line);
    std::size_t count = 0;
    while (lines.next(line)) count += is_blank(line) ? 0 : 1;
    return count;
}

}  // namespace

Result<InputData> read_monitor_csv_str(std::string_view text) {
    LineCursor lines(text);
    std::string_view line;
    if (!lines.next(line)) return Failure{std::string(kEmptyCsvMessage)};

    const Columns columns = find_columns(line);
    if (columns.date == kNoColumn) return Failure{std::string(kMissingDateMessage)};

    InputData input;
    input.samples.reserve(count_data_lines(text));
    time::TimestampSequence timestamps;
    while (lines.next(line)) {
        if (is_blank(line)) continue;
        MonitorSample& sample = input.samples.emplace_back();
        if (auto failure = read_row(line, lines.number(), columns, timestamps, sample)) return Failure{std::move(*failure)};
    }
    finish_input(input);
    return input;
}

}  // namespace fhr_core::csv_input
