// Compact value types for the recording's samples. A day of 4 Hz monitor rows
// is hundreds of thousands of samples, so their size decides how fast the
// recording is read and how much memory it takes: these two types keep a
// sample at 80 bytes without any allocation per row, while behaving like
// std::optional<double> and std::string where the code reads them.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <optional>
#include <string>
#include <string_view>

namespace fhr_core {

// An optional double in eight bytes. Absence is one signalling-NaN bit pattern
// that no reader produces; a value with exactly that pattern is stored as the
// quiet NaN of the same sign, so every present value, NaN included, stays a
// present value.
class OptionalValue {
public:
    constexpr OptionalValue() noexcept = default;
    constexpr OptionalValue(std::nullopt_t) noexcept {}
    OptionalValue(double value) noexcept : bits_(encode(value)) {}
    OptionalValue(const std::optional<double>& value) noexcept
        : bits_(value ? encode(*value) : kAbsent) {}

    constexpr bool has_value() const noexcept { return bits_ != kAbsent; }
    constexpr explicit operator bool() const noexcept { return has_value(); }
    // Like std::optional: reading an absent value is a caller error.
    double operator*() const noexcept { return std::bit_cast<double>(bits_); }
    double value_or(double fallback) const noexcept { return has_value() ? **this : fallback; }
    operator std::optional<double>() const {
        return has_value() ? std::optional<double>(**this) : std::nullopt;
    }
    void reset() noexcept { bits_ = kAbsent; }

    friend bool operator==(const OptionalValue& a, double b) noexcept { return a.has_value() && *a == b; }
    friend bool operator==(const OptionalValue& a, std::nullopt_t) noexcept { return !a.has_value(); }
    friend bool operator==(const OptionalValue& a, const OptionalValue& b) noexcept {
        return a.has_value() == b.has_value() && (!a.has_value() || *a == *b);
    }

private:
    static constexpr std::uint64_t kAbsent = 0x7FF4'0000'0000'A85Eull;  // a signalling NaN
    static constexpr std::uint64_t kSignBit = std::uint64_t{1} << 63;

    static std::uint64_t encode(double value) noexcept {
        const auto bits = std::bit_cast<std::uint64_t>(value);
        if ((bits & ~kSignBit) != kAbsent) return bits;
        return std::bit_cast<std::uint64_t>(std::numeric_limits<double>::quiet_NaN()) | (bits & kSignBit);
    }

    std::uint64_t bits_ = kAbsent;
};

// An owned text of 32 bytes that holds up to 30 bytes inline (every common
// monitor timestamp) and longer texts on the heap.
class InlineText {
public:
    InlineText() noexcept { set_inline_size(0); }
    InlineText(std::string_view text) { init(text); }
    InlineText(const InlineText& other) { init(other.view()); }
    InlineText(InlineText&& other) noexcept {
        std::memcpy(storage_, other.storage_, sizeof storage_);
        other.set_inline_size(0);
    }
    InlineText& operator=(const InlineText& other) {
        if (this != &other) assign(other.view());
        return *this;
    }
    InlineText& operator=(InlineText&& other) noexcept {
        if (this != &other) {
            release();
            std::memcpy(storage_, other.storage_, sizeof storage_);
            other.set_inline_size(0);
        }
        return *this;
    }
    InlineText& operator=(std::string_view text) {
        assign(text);
        return *this;
    }
    ~InlineText() { release(); }

    void assign(std::string_view text) {
        // In place when it fits (memmove: `text` may view this object's own
        // characters); the bytes go straight to their place, with no
        // temporary to copy over.
        if (!on_heap() && text.size() <= kInlineCapacity) {
            move_short(storage_, text.data(), text.size());
            set_inline_size(text.size());
            return;
        }
        // Copy first: `text` may view this object's own characters.
        InlineText copy(text);
        *this = std::move(copy);
    }

    std::string_view view() const noexcept {
        if (!on_heap()) return {storage_, static_cast<std::size_t>(static_cast<unsigned char>(storage_[kTag]))};
        const char* data = nullptr;
        std::size_t size = 0;
        std::memcpy(&data, storage_, sizeof data);
        std::memcpy(&size, storage_ + sizeof data, sizeof size);
        return {data, size};
    }
    operator std::string_view() const noexcept { return view(); }
    std::string str() const { return std::string(view()); }
    std::size_t size() const noexcept { return view().size(); }
    bool empty() const noexcept { return view().empty(); }

    friend bool operator==(const InlineText& a, std::string_view b) noexcept { return a.view() == b; }
    friend bool operator==(const InlineText& a, const InlineText& b) noexcept { return a.view() == b.view(); }

private:
    static constexpr std::size_t kStorage = 32;
    static constexpr std::size_t kTag = kStorage - 1;           // inline size, or kOnHeap
    static constexpr std::size_t kInlineCapacity = kStorage - 2; // one byte for the tag, one spare
    static constexpr unsigned char kOnHeap = 0xFF;

    bool on_heap() const noexcept { return static_cast<unsigned char>(storage_[kTag]) == kOnHeap; }

    // memmove of at most 2 * 16 bytes without a library call: two pieces of
    // a fixed size, overlapping in the middle, both read before either is
    // written.
    static void move_short(char* to, const char* from, std::size_t n) noexcept {
        const auto two_pieces = [&](auto piece) {
            constexpr std::size_t kPiece = sizeof piece;
            decltype(piece) tail;
            std::memcpy(&piece, from, kPiece);
            std::memcpy(&tail, from + n - kPiece, kPiece);
            std::memcpy(to, &piece, kPiece);
            std::memcpy(to + n - kPiece, &tail, kPiece);
        };
        struct Bytes16 {
            char bytes[16];
        };
        if (n >= sizeof(Bytes16)) {
            two_pieces(Bytes16{});
        } else if (n >= sizeof(std::uint64_t)) {
            two_pieces(std::uint64_t{});
        } else if (n >= sizeof(std::uint32_t)) {
            two_pieces(std::uint32_t{});
        } else if (n != 0) {
            const char first = from[0], middle = from[n / 2], last = from[n - 1];
            to[0] = first;
            to[n / 2] = middle;
            to[n - 1] = last;
        }
    }
    void set_inline_size(std::size_t size) noexcept { storage_[kTag] = static_cast<char>(size); }

    void init(std::string_view text) {
        if (text.size() <= kInlineCapacity) {
            if (!text.empty()) std::memcpy(storage_, text.data(), text.size());
            set_inline_size(text.size());
            return;
        }
        char* data = new char[text.size()];
        std::memcpy(data, text.data(), text.size());
        const std::size_t size = text.size();
        std::memcpy(storage_, &data, sizeof data);
        std::memcpy(storage_ + sizeof data, &size, sizeof size);
        storage_[kTag] = static_cast<char>(kOnHeap);
    }

    void release() noexcept {
        if (!on_heap()) return;
        char* data = nullptr;
        std::memcpy(&data, storage_, sizeof data);
        delete[] data;
        set_inline_size(0);
    }

    alignas(8) char storage_[kStorage];
};

}  // namespace fhr_core
