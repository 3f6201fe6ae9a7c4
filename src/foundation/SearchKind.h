#pragma once

// Which computers are watched: the "SearchKind" setting.

namespace valmora {

enum class TSearchKind {
    ThisComputer = 0,
    NetworkNeighbourhood = 1,
    IPRanges = 2,
};

// The stored number as a kind: 0 and 2 as they are, every other value the
// network neighbourhood (only a hand-edited setting holds one).
constexpr TSearchKind SearchKindFromNumber(int number)
{
    switch (number) {
    case 0:
        return TSearchKind::ThisComputer;
    case 2:
        return TSearchKind::IPRanges;
    default:
        return TSearchKind::NetworkNeighbourhood;
    }
}

// The number the settings keep.
constexpr int SearchKindNumber(TSearchKind kind)
{
    return static_cast<int>(kind);
}

} // namespace valmora
