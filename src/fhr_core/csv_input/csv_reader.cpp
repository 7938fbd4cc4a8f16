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
    std::size_t position() const { return pos_; }

private:
    std::string_view text_;
    std::size_t pos_ = 0;
    std::size_t number_ = 0;
};

// The number of non-blank lines of `rest`, a text that starts a line.
std::size_t count_data_lines(std::string_view rest) {
    LineCursor lines(rest);
    std::string_view line;
    std::size_t count = 0;
    while (lines.next(line)) count += is_blank(line) ? 0 : 1;
    return count;
}

// How many samples to reserve for the data lines of `rest` (the text after
// the header), without a pass over the whole text: a text of few lines is
// counted exactly; a longer one is estimated from the mean length of its
// first lines, with a small margin. Should the estimate fall short, the
// reader counts the rest exactly then.
std::size_t rows_to_reserve(std::string_view rest) {
    constexpr std::size_t kSampledLines = 64;
    LineCursor lines(rest);
    std::string_view line;
    std::size_t count = 0;
    while (lines.number() < kSampledLines && lines.next(line)) count += is_blank(line) ? 0 : 1;
    const std::size_t sampled_bytes = lines.position();
    if (sampled_bytes == rest.size()) return count;
    if (count == 0) return count_data_lines(rest.substr(sampled_bytes));
    const std::size_t remaining = rest.size() - sampled_bytes;
    const std::size_t estimate =
        remaining / sampled_bytes * count + remaining % sampled_bytes * count / sampled_bytes;
    return count + estimate + estimate / 32;
}

}  // namespace

Result<InputData> read_monitor_csv_str(std::string_view text) {
    LineCursor lines(text);
    std::string_view line;
    if (!lines.next(line)) return Failure{std::string(kEmptyCsvMessage)};

    const Columns columns = find_columns(line);
    if (columns.date == kNoColumn) return Failure{std::string(kMissingDateMessage)};

    InputData input;
    input.samples.reserve(rows_to_reserve(text.substr(lines.position())));
    time::TimestampSequence timestamps;
    std::size_t out_of_order = 0;
    std::size_t duplicates = 0;
    std::int64_t previous = 0;
    while (lines.next(line)) {
        if (is_blank(line)) continue;
        if (input.samples.size() == input.samples.capacity()) {
            // The estimate fell short: this row and the rest, counted exactly.
            input.samples.reserve(input.samples.size() + 1 + count_data_lines(text.substr(lines.position())));
        }
        MonitorSample& sample = input.samples.emplace_back();
        if (auto failure = read_row(line, text.data() + text.size(), lines.number(), columns, timestamps, sample)) return Failure{std::move(*failure)};
        // The time order counted here, while the sample is at hand.
        if (input.samples.size() > 1) {
            out_of_order += sample.timestamp_ms < previous ? 1 : 0;
            duplicates += sample.timestamp_ms == previous ? 1 : 0;
        }
        previous = sample.timestamp_ms;
    }
    finish_input(input, out_of_order, duplicates);
    return input;
}

}  // namespace fhr_core::csv_input
