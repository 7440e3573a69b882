#include "image/Deflate.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <queue>

namespace {

constexpr int window = 1 << 15, minMatch = 3, maxMatch = 258;
constexpr int hashBits = 15, hashSize = 1 << hashBits;
// zlib's level 5: how far a chain is followed, when a match is long enough to stop looking or to skip the lazy step
constexpr int maxChain = 32, goodLength = 8, niceLength = 32, maxLazy = 16;
constexpr std::size_t blockTokens = 1 << 15;

constexpr std::uint16_t lengthBase[29] = {3, 4, 5, 6, 7, 8, 9, 10, 11, 13, 15, 17, 19, 23, 27, 31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
constexpr std::uint8_t lengthExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr std::uint16_t distanceBase[30] = {1, 2, 3, 4, 5, 7, 9, 13, 17, 25, 33, 49, 65, 97, 129, 193, 257, 385, 513, 769, 1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
constexpr std::uint8_t distanceExtra[30] = {0, 0, 0, 0, 1, 1, 2, 2, 3, 3, 4, 4, 5, 5, 6, 6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
constexpr std::uint8_t codeLengthOrder[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};

// A literal (distance 0) or a match.
struct Token {
    std::uint16_t length;  // the literal's byte, or the match's length
    std::uint16_t distance;
};

// Where a distance's code is kept: distances up to 256 by distance - 1, longer ones (whose codes span 128 or more
// distances each) by 256 + (distance - 1) / 128.
constexpr int distanceSlot(int distance) { return distance <= 256 ? distance - 1 : 256 + ((distance - 1) >> 7); }

// The length code (0 to 28) of each match length, and the distance code of each distance, looked up: the
// tokens of a picture are coded twice (counted, then written).
struct CodeTables {
    std::uint8_t length[maxMatch + 1] = {};
    std::uint8_t distance[512] = {};  // by distanceSlot
    constexpr CodeTables() {
        for (int n = minMatch, code = 0; n <= maxMatch; ++n) {
            while (code < 28 && lengthBase[code + 1] <= n) ++code;
            length[n] = static_cast<std::uint8_t>(code);
        }
        for (int d = 1, code = 0; d <= window; ++d) {
            while (code < 29 && distanceBase[code + 1] <= d) ++code;
            distance[distanceSlot(d)] = static_cast<std::uint8_t>(code);
        }
    }
};
constexpr CodeTables codeTables;

int lengthCode(int length) { return codeTables.length[length]; }
int distanceCode(int distance) { return codeTables.distance[distanceSlot(distance)]; }

// How many bytes from `a` and `b` on are the same, at most `limit`: eight at a time where the machine
// stores words little end first, the first differing byte found from the lowest set bit of their difference.
int commonLength(const std::uint8_t* a, const std::uint8_t* b, int limit) {
    int n = 0;
    if constexpr (std::endian::native == std::endian::little) {
        for (; n + 8 <= limit; n += 8) {
            std::uint64_t x, y;
            std::memcpy(&x, a + n, 8);
            std::memcpy(&y, b + n, 8);
            if (const std::uint64_t differ = x ^ y) return n + std::countr_zero(differ) / 8;
        }
    }
    while (n < limit && a[n] == b[n]) ++n;
    return n;
}

// Bits packed as deflate packs them, lowest first, into `out`: room is made for a block before it is written
// (reserve), so that putting bits allocates nothing and cannot throw.
class BitWriter {
public:
    explicit BitWriter(std::vector<std::uint8_t>& out) : out(out), at(out.size()) {}
    void reserve(std::size_t bytes) { out.resize(at + bytes + 8); }
    void put(std::uint32_t value, int count) noexcept {
        bits |= std::uint64_t{value} << used;
        used += count;
        if (used >= 32) {
            for (int k = 0; k < 4; ++k) out[at++] = static_cast<std::uint8_t>(bits >> (8 * k));
            bits >>= 32;
            used -= 32;
        }
    }
    // the last bits, and the stream ended at a whole byte
    void finish() {
        for (; used > 0; used -= 8, bits >>= 8) out[at++] = static_cast<std::uint8_t>(bits);
        used = 0;
        out.resize(at);
    }

private:
    std::vector<std::uint8_t>& out;
    std::size_t at;
    std::uint64_t bits = 0;
    int used = 0;
};

// Code lengths of at most `limit` bits for `frequencies` (Huffman's, frequencies halved until they fit);
// at least two symbols get a code so that every decoder takes the code as complete.
std::vector<std::uint8_t> codeLengths(std::vector<std::uint32_t> frequencies, int limit) {
    const std::size_t count = frequencies.size();
    auto used = std::count_if(frequencies.begin(), frequencies.end(), [](std::uint32_t f) { return f != 0; });
    for (std::size_t n = 0; n < count && used < 2; ++n)
        if (!frequencies[n]) frequencies[n] = 1, ++used;
    std::vector<std::uint8_t> lengths(count, 0);
    for (;;) {
        // nodes: leaves first, then inner ones; parent links give each leaf's depth
        std::vector<std::uint64_t> weight(frequencies.begin(), frequencies.end());
        std::vector<int> parent(count, -1);
        using Entry = std::pair<std::uint64_t, int>;
        std::priority_queue<Entry, std::vector<Entry>, std::greater<Entry>> queue;
        for (std::size_t n = 0; n < count; ++n)
            if (frequencies[n]) queue.push({frequencies[n], static_cast<int>(n)});
        while (queue.size() > 1) {
            const Entry a = queue.top();
            queue.pop();
            const Entry b = queue.top();
            queue.pop();
            const int node = static_cast<int>(weight.size());
            weight.push_back(a.first + b.first);
            parent.push_back(-1);
            parent[a.second] = parent[b.second] = node;
            queue.push({a.first + b.first, node});
        }
        std::vector<int> depth(weight.size(), 0);
        for (int node = static_cast<int>(weight.size()) - 1; node >= 0; --node)
            if (parent[node] >= 0) depth[node] = depth[parent[node]] + 1;
        int longest = 0;
        for (std::size_t n = 0; n < count; ++n) {
            lengths[n] = frequencies[n] ? static_cast<std::uint8_t>(depth[n]) : 0;
            longest = std::max(longest, int{lengths[n]});
        }
        if (longest <= limit) return lengths;
        for (std::uint32_t& f : frequencies)
            if (f) f = (f + 1) / 2;
    }
}

// Canonical codes for `lengths`, bit-reversed as deflate writes them.
std::vector<std::uint16_t> canonicalCodes(const std::vector<std::uint8_t>& lengths) {
    int perLength[16] = {}, next[16] = {};
    for (const std::uint8_t length : lengths) ++perLength[length];
    perLength[0] = 0;
    for (int bits = 1, code = 0; bits < 16; ++bits) next[bits] = code = (code + perLength[bits - 1]) << 1;
    std::vector<std::uint16_t> codes(lengths.size(), 0);
    for (std::size_t n = 0; n < lengths.size(); ++n) {
        const int length = lengths[n];
        if (!length) continue;
        int code = next[length]++, reversed = 0;
        for (int b = 0; b < length; ++b, code >>= 1) reversed = reversed << 1 | (code & 1);
        codes[n] = static_cast<std::uint16_t>(reversed);
    }
    return codes;
}

void writeBlock(BitWriter& bits, const std::vector<Token>& tokens, bool last) {
    std::vector<std::uint32_t> literalCounts(286, 0), distanceCounts(30, 0);
    for (const Token& t : tokens) {
        if (t.distance == 0) ++literalCounts[t.length];
        else ++literalCounts[257 + lengthCode(t.length)], ++distanceCounts[distanceCode(t.distance)];
    }
    literalCounts[256] = 1;
    const std::vector<std::uint8_t> literalLengths = codeLengths(literalCounts, 15), distanceLengths = codeLengths(distanceCounts, 15);
    int literals = 286, distances = 30;
    while (literals > 257 && !literalLengths[literals - 1]) --literals;
    while (distances > 1 && !distanceLengths[distances - 1]) --distances;

    // both tables' lengths in one run-length coded sequence: symbol, and the extra bits' value for 16, 17 and 18
    std::vector<std::uint8_t> all(literalLengths.begin(), literalLengths.begin() + literals);
    all.insert(all.end(), distanceLengths.begin(), distanceLengths.begin() + distances);
    std::vector<std::pair<std::uint8_t, std::uint8_t>> runs;
    for (std::size_t i = 0; i < all.size();) {
        std::size_t same = 1;
        while (i + same < all.size() && all[i + same] == all[i]) ++same;
        if (all[i] == 0 && same >= 3) {
            const std::size_t take = std::min<std::size_t>(same, 138);
            runs.push_back(take <= 10 ? std::pair<std::uint8_t, std::uint8_t>{17, take - 3} : std::pair<std::uint8_t, std::uint8_t>{18, take - 11});
            i += take;
        } else if (all[i] != 0 && same >= 4) {
            runs.push_back({all[i], 0});
            const std::size_t take = std::min<std::size_t>(same - 1, 6);
            runs.push_back({16, static_cast<std::uint8_t>(take - 3)});
            i += 1 + take;
        } else {
            runs.push_back({all[i], 0});
            ++i;
        }
    }
    std::vector<std::uint32_t> runCounts(19, 0);
    for (const auto& run : runs) ++runCounts[run.first];
    const std::vector<std::uint8_t> runLengths = codeLengths(runCounts, 7);
    int order = 19;
    while (order > 4 && !runLengths[codeLengthOrder[order - 1]]) --order;

    bits.reserve(tokens.size() * 6 + 1024);
    bits.put(last ? 1 : 0, 1);
    bits.put(2, 2);
    bits.put(static_cast<std::uint32_t>(literals - 257), 5);
    bits.put(static_cast<std::uint32_t>(distances - 1), 5);
    bits.put(static_cast<std::uint32_t>(order - 4), 4);
    for (int n = 0; n < order; ++n) bits.put(runLengths[codeLengthOrder[n]], 3);
    const std::vector<std::uint16_t> runCodes = canonicalCodes(runLengths);
    for (const auto& run : runs) {
        bits.put(runCodes[run.first], runLengths[run.first]);
        if (run.first == 16) bits.put(run.second, 2);
        else if (run.first == 17) bits.put(run.second, 3);
        else if (run.first == 18) bits.put(run.second, 7);
    }
    const std::vector<std::uint16_t> literalCodes = canonicalCodes(literalLengths), distanceCodes = canonicalCodes(distanceLengths);
    for (const Token& t : tokens) {
        if (t.distance == 0) {
            bits.put(literalCodes[t.length], literalLengths[t.length]);
            continue;
        }
        const int lc = lengthCode(t.length), dc = distanceCode(t.distance);
        bits.put(literalCodes[257 + lc], literalLengths[257 + lc]);
        if (lengthExtra[lc]) bits.put(static_cast<std::uint32_t>(t.length - lengthBase[lc]), lengthExtra[lc]);
        bits.put(distanceCodes[dc], distanceLengths[dc]);
        if (distanceExtra[dc]) bits.put(static_cast<std::uint32_t>(t.distance - distanceBase[dc]), distanceExtra[dc]);
    }
    bits.put(literalCodes[256], literalLengths[256]);
}

}  // namespace

std::uint32_t adler32(const std::uint8_t* data, std::size_t size) {
    std::uint32_t a = 1, b = 0;
    while (size) {
        const std::size_t step = std::min<std::size_t>(size, 5552);
        for (std::size_t i = 0; i < step; ++i) b += a += data[i];
        a %= 65521;
        b %= 65521;
        data += step;
        size -= step;
    }
    return b << 16 | a;
}

std::vector<std::uint8_t> zlibCompress(const std::uint8_t* data, std::size_t size) {
    std::vector<std::uint8_t> out{0x78, 0x9C};
    out.reserve(size / 2 + 64);
    BitWriter bits(out);
    std::vector<std::int32_t> head(hashSize, -1), previous(window, -1);
    const auto hashAt = [&](std::size_t at) {
        return (std::uint32_t{data[at]} << 10 ^ std::uint32_t{data[at + 1]} << 5 ^ data[at + 2]) & (hashSize - 1);
    };
    const auto insert = [&](std::size_t at) {
        if (at + minMatch > size) return;
        const std::uint32_t h = hashAt(at);
        previous[at & (window - 1)] = head[h];
        head[h] = static_cast<std::int32_t>(at);
    };
    // the longest match at `at` no longer than `limit`, longer than `better` (its distance in `distance`)
    const auto longest = [&](std::size_t at, int better, int& distance) {
        if (at + minMatch > size) return 0;
        const int limit = static_cast<int>(std::min<std::size_t>(maxMatch, size - at));
        if (better >= limit) return 0;
        int best = better, chain = better >= goodLength ? maxChain / 4 : maxChain;
        for (std::int32_t candidate = head[hashAt(at)]; candidate >= 0 && chain-- > 0; candidate = previous[candidate & (window - 1)]) {
            const std::size_t from = static_cast<std::size_t>(candidate);
            if (from >= at || at - from > window - 262) break;
            if (data[from + best] != data[at + best] || data[from] != data[at]) continue;
            const int length = commonLength(data + from, data + at, limit);
            if (length > best) {
                best = length;
                distance = static_cast<int>(at - from);
                if (length >= niceLength || length >= limit) break;
            }
        }
        return best > better && best >= minMatch ? best : 0;
    };

    std::vector<Token> tokens;
    tokens.reserve(blockTokens + 2);
    std::size_t at = 0;
    while (at < size) {
        int distance = 0;
        const int length = longest(at, minMatch - 1, distance);
        if (length && length < maxLazy && at + 1 < size) {
            // one step of lazy evaluation: a longer match at the next byte makes this byte a literal
            insert(at);
            int nextDistance = 0;
            if (longest(at + 1, length, nextDistance)) {
                tokens.push_back({data[at], 0});
                ++at;
            } else {
                tokens.push_back({static_cast<std::uint16_t>(length), static_cast<std::uint16_t>(distance)});
                for (int k = 1; k < length; ++k) insert(at + static_cast<std::size_t>(k));
                at += static_cast<std::size_t>(length);
            }
        } else if (length) {
            tokens.push_back({static_cast<std::uint16_t>(length), static_cast<std::uint16_t>(distance)});
            for (int k = 0; k < length; ++k) insert(at + static_cast<std::size_t>(k));
            at += static_cast<std::size_t>(length);
        } else {
            tokens.push_back({data[at], 0});
            insert(at);
            ++at;
        }
        if (tokens.size() >= blockTokens) {
            writeBlock(bits, tokens, false);
            tokens.clear();
        }
    }
    writeBlock(bits, tokens, true);
    bits.finish();
    const std::uint32_t check = adler32(data, size);
    out.insert(out.end(), {std::uint8_t(check >> 24), std::uint8_t(check >> 16), std::uint8_t(check >> 8), std::uint8_t(check)});
    return out;
}
