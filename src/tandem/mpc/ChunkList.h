#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace tandem {

// The data of a packet list's packets, copied out in order: one flat byte buffer with the end of
// each chunk, so that a whole list crosses threads in two allocations.
class ChunkList {
public:
    void append(std::span<const uint8_t> chunk) {
        bytes.insert(bytes.end(), chunk.begin(), chunk.end());
        ends.push_back(static_cast<uint32_t>(bytes.size()));
    }

    size_t size() const { return ends.size(); }
    bool empty() const { return ends.empty(); }
    std::span<const uint8_t> operator[](size_t index) const {
        size_t begin = index == 0 ? 0 : ends[index - 1];
        return std::span<const uint8_t>(bytes).subspan(begin, ends[index] - begin);
    }

    bool operator==(const ChunkList&) const = default;

private:
    std::vector<uint8_t> bytes;
    std::vector<uint32_t> ends;
};

} // namespace tandem
