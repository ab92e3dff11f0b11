#include "filters.h"

#include <cstdlib>
#include <cstring>

#include "rar/archive.h"

namespace zembrat::rar {

namespace {

struct KnownFilter {
    std::size_t length;
    std::uint32_t crc;
    FilterKind kind;
};

constexpr KnownFilter kKnownFilters[] = {
    {53, 0xAD576887u, FilterKind::kE8},       {57, 0x3CD7E57Eu, FilterKind::kE8E9},
    {120, 0x3769893Fu, FilterKind::kItanium}, {29, 0x0E06077Du, FilterKind::kDelta},
    {149, 0x1C2C5DC8u, FilterKind::kRgb},     {216, 0xBC85E701u, FilterKind::kAudio},
};

std::uint32_t Get32(const std::uint8_t* p) {
    return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 |
           std::uint32_t{p[3]} << 24;
}

void Put32(std::uint8_t* p, std::uint32_t value) {
    p[0] = static_cast<std::uint8_t>(value);
    p[1] = static_cast<std::uint8_t>(value >> 8);
    p[2] = static_cast<std::uint8_t>(value >> 16);
    p[3] = static_cast<std::uint8_t>(value >> 24);
}

// Calls and jumps hold absolute addresses; turned back into relative ones.
std::optional<FilterRun> X86(std::uint8_t* data, std::uint32_t size, std::uint32_t fileOffset,
                             bool jumpsToo) {
    if (size > kFilterMemorySize / 2 || size < 4) {
        return std::nullopt;
    }
    constexpr std::uint32_t kFileSize = 0x1000000;
    for (std::uint32_t at = 0; at < size - 4;) {
        const std::uint8_t op = data[at++];
        if (op != 0xE8 && !(jumpsToo && op == 0xE9)) {
            continue;
        }
        const std::uint32_t offset = at + fileOffset;
        const std::uint32_t address = Get32(data + at);
        if ((address & 0x80000000u) != 0) {
            if (((address + offset) & 0x80000000u) == 0) {
                Put32(data + at, address + kFileSize);
            }
        } else if (((address - kFileSize) & 0x80000000u) != 0) {
            Put32(data + at, address - offset);
        }
        at += 4;
    }
    return FilterRun{0, size};
}

std::uint32_t BundleBits(const std::uint8_t* data, unsigned position, unsigned count) {
    const std::uint32_t word = Get32(data + position / 8) >> (position & 7);
    return word & (0xFFFFFFFFu >> (32 - count));
}

void SetBundleBits(std::uint8_t* data, std::uint32_t value, unsigned position, unsigned count) {
    std::uint8_t* at = data + position / 8;
    const unsigned shift = position & 7;
    std::uint32_t keep = ~((0xFFFFFFFFu >> (32 - count)) << shift);
    value <<= shift;
    for (int i = 0; i < 4; ++i) {
        at[i] = static_cast<std::uint8_t>((at[i] & keep) | value);
        keep = (keep >> 8) | 0xFF000000u;
        value >>= 8;
    }
}

std::optional<FilterRun> Itanium(std::uint8_t* data, std::uint32_t size, std::uint32_t fileOffset) {
    if (size > kFilterMemorySize / 2 || size < 21) {
        return std::nullopt;
    }
    static constexpr std::uint8_t kSlotMasks[16] = {4, 4, 6, 6, 0, 0, 7, 7, 4, 4, 0, 0, 4, 4, 0, 0};
    std::uint32_t bundle = fileOffset >> 4;
    for (std::uint32_t at = 0; at < size - 21; at += 16, ++bundle) {
        const int templ = (data[at] & 0x1F) - 0x10;
        if (templ < 0) {
            continue;
        }
        const std::uint8_t mask = kSlotMasks[templ];
        for (unsigned slot = 0; slot < 3; ++slot) {
            if ((mask & (1u << slot)) == 0) {
                continue;
            }
            const unsigned start = slot * 41 + 5;
            if (BundleBits(data + at, start + 37, 4) == 5) {
                const std::uint32_t target = BundleBits(data + at, start + 13, 20);
                SetBundleBits(data + at, (target - bundle) & 0xFFFFF, start + 13, 20);
            }
        }
    }
    return FilterRun{0, size};
}

std::optional<FilterRun> Delta(std::uint8_t* memory, std::uint32_t size, std::uint32_t channels) {
    if (size > kFilterMemorySize / 2 || channels == 0 || channels > 1024) {
        return std::nullopt;
    }
    std::uint32_t source = 0;
    for (std::uint32_t channel = 0; channel < channels; ++channel) {
        std::uint8_t previous = 0;
        for (std::uint32_t to = size + channel; to < size * 2; to += channels) {
            previous = static_cast<std::uint8_t>(previous - memory[source++]);
            memory[to] = previous;
        }
    }
    return FilterRun{size, size};
}

std::optional<FilterRun> Rgb(std::uint8_t* memory, std::uint32_t size, std::uint32_t rowBytes,
                             std::uint32_t redAt) {
    if (size > kFilterMemorySize / 2 || size < 3 || rowBytes < 3 || rowBytes - 3 > size ||
        redAt > 2) {
        return std::nullopt;
    }
    const std::uint32_t width = rowBytes - 3;
    const std::uint8_t* source = memory;
    std::uint8_t* out = memory + size;
    for (std::uint32_t channel = 0; channel < 3; ++channel) {
        std::uint32_t previous = 0;
        for (std::uint32_t i = channel; i < size; i += 3) {
            std::uint32_t predicted = previous;
            if (i >= width + 3) {
                const std::uint32_t upper = out[i - width];
                const std::uint32_t upperLeft = out[i - width - 3];
                const int guess = static_cast<int>(previous + upper - upperLeft);
                const int pa = std::abs(guess - static_cast<int>(previous));
                const int pb = std::abs(guess - static_cast<int>(upper));
                const int pc = std::abs(guess - static_cast<int>(upperLeft));
                predicted = pa <= pb && pa <= pc ? previous : pb <= pc ? upper : upperLeft;
            }
            previous = static_cast<std::uint8_t>(predicted - *source++);
            out[i] = static_cast<std::uint8_t>(previous);
        }
    }
    for (std::uint32_t i = redAt; i + 2 < size; i += 3) {
        const std::uint8_t green = out[i + 1];
        out[i] = static_cast<std::uint8_t>(out[i] + green);
        out[i + 2] = static_cast<std::uint8_t>(out[i + 2] + green);
    }
    return FilterRun{size, size};
}

std::optional<FilterRun> Audio(std::uint8_t* memory, std::uint32_t size, std::uint32_t channels) {
    if (size > kFilterMemorySize / 2 || channels == 0 || channels > 128) {
        return std::nullopt;
    }
    const std::uint8_t* source = memory;
    std::uint8_t* out = memory + size;
    for (std::uint32_t channel = 0; channel < channels; ++channel) {
        std::uint32_t previous = 0;
        int previousDelta = 0;
        std::uint32_t dif[7] = {};
        int d1 = 0, d2 = 0, d3 = 0, k1 = 0, k2 = 0, k3 = 0;
        for (std::uint32_t i = channel, count = 0; i < size; i += channels, ++count) {
            d3 = d2;
            d2 = previousDelta - d1;
            d1 = previousDelta;
            int predicted = static_cast<int>(8 * previous) + k1 * d1 + k2 * d2 + k3 * d3;
            predicted = (predicted >> 3) & 0xFF;
            const std::uint32_t current = *source++;
            const auto value = static_cast<std::uint32_t>(predicted) - current;
            out[i] = static_cast<std::uint8_t>(value);
            previousDelta = static_cast<signed char>(value - previous);
            previous = value & 0xFF;
            const int d = static_cast<signed char>(current) * 8;
            dif[0] += std::abs(d);
            dif[1] += std::abs(d - d1);
            dif[2] += std::abs(d + d1);
            dif[3] += std::abs(d - d2);
            dif[4] += std::abs(d + d2);
            dif[5] += std::abs(d - d3);
            dif[6] += std::abs(d + d3);
            if ((count & 0x1F) == 0) {
                std::uint32_t least = dif[0];
                unsigned which = 0;
                dif[0] = 0;
                for (unsigned j = 1; j < 7; ++j) {
                    if (dif[j] < least) {
                        least = dif[j];
                        which = j;
                    }
                    dif[j] = 0;
                }
                switch (which) {
                    case 1:
                        k1 -= k1 >= -16;
                        break;
                    case 2:
                        k1 += k1 < 16;
                        break;
                    case 3:
                        k2 -= k2 >= -16;
                        break;
                    case 4:
                        k2 += k2 < 16;
                        break;
                    case 5:
                        k3 -= k3 >= -16;
                        break;
                    case 6:
                        k3 += k3 < 16;
                        break;
                    default:
                        break;
                }
            }
        }
    }
    return FilterRun{size, size};
}

}  // namespace

std::optional<FilterKind> RecogniseFilter(std::span<const std::uint8_t> code) {
    const std::uint32_t crc = Crc32(std::as_bytes(code));
    for (const KnownFilter& known : kKnownFilters) {
        if (known.length == code.size() && known.crc == crc) {
            return known.kind;
        }
    }
    return std::nullopt;
}

std::optional<FilterRun> RunFilter(FilterKind kind, std::span<const std::uint32_t, 7> registers,
                                   std::span<std::uint8_t> memory) {
    std::uint8_t* data = memory.data();
    const std::uint32_t size = registers[4];
    switch (kind) {
        case FilterKind::kE8:
            return X86(data, size, registers[6], false);
        case FilterKind::kE8E9:
            return X86(data, size, registers[6], true);
        case FilterKind::kItanium:
            return Itanium(data, size, registers[6]);
        case FilterKind::kDelta:
            return Delta(data, size, registers[0]);
        case FilterKind::kRgb:
            return Rgb(data, size, registers[0], registers[1]);
        case FilterKind::kAudio:
            return Audio(data, size, registers[0]);
    }
    return std::nullopt;
}

std::uint32_t FilterBits::ReadNumber() {
    std::uint32_t data = Peek16();
    switch (data & 0xC000) {
        case 0:
            Skip(6);
            return (data >> 10) & 0x0F;
        case 0x4000:
            if ((data & 0x3C00) == 0) {
                Skip(14);
                return 0xFFFFFF00u | ((data >> 2) & 0xFF);
            }
            Skip(10);
            return (data >> 6) & 0xFF;
        case 0x8000:
            Skip(2);
            data = Peek16();
            Skip(16);
            return data;
        default:
            Skip(2);
            data = Peek16() << 16;
            Skip(16);
            data |= Peek16();
            Skip(16);
            return data;
    }
}

}  // namespace zembrat::rar
