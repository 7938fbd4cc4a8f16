#include "fhr_core/csv_input/csv_stream.hpp"

#include <utility>

namespace fhr_core::csv_input {

void CsvStream::append(std::string_view piece) {
    text_.erase(0, read_);
    read_ = 0;
    text_.append(piece);
}

std::optional<Result<MonitorSample>> CsvStream::next() {
    while (true) {
        const std::size_t feed = text_.find('\n', read_);
        if (feed == std::string::npos) return std::nullopt;
        std::string_view line(text_.data() + read_, feed - read_);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        read_ = feed + 1;
        ++line_number_;
        if (!columns_) {
            const Columns columns = find_columns(line);
            if (columns.date == kNoColumn) {
                line_number_ = 0;
                return Result<MonitorSample>(Failure{std::string(kMissingDateMessage)});
            }
            columns_ = columns;
            continue;
        }
        if (is_blank(line)) continue;
        MonitorSample sample;
        if (auto failure = read_row(line, text_.data() + text_.size(), line_number_, *columns_, timestamps_, sample)) {
            return Result<MonitorSample>(Failure{std::move(*failure)});
        }
        return Result<MonitorSample>(std::move(sample));
    }
}

}  // namespace fhr_core::csv_input
