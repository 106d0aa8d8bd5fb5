// Draws typed values from a fuzzer's bytes; runs dry as zeros.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

class FuzzInput {
public:
    FuzzInput(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    bool Empty() const { return pos_ >= size_; }
    uint8_t Byte() { return pos_ < size_ ? data_[pos_++] : 0; }
    int Int(int lo, int hi) { return lo + static_cast<int>(Byte() % static_cast<unsigned>(hi - lo + 1)); }
    // Short strings from a small alphabet, so that equal entries (in either
    // letter case) come up often.
    std::string Word() {
        static const char alphabet[] = "aAbBcC\\:.\xE4";
        std::string word(Int(0, 4), ' ');
        for (char& c : word) c = alphabet[Byte() % (sizeof alphabet - 1)];
        return word;
    }

private:
    const uint8_t* data_;
    size_t size_;
    size_t pos_ = 0;
};
