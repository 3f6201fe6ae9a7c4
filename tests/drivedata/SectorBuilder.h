#pragma once

// Builds S.M.A.R.T. sectors entry by entry, so a test shows only the bytes it is about.

#include <QByteArray>
#include <QFile>
#include <QString>

#include <array>
#include <cstdint>
#include <optional>
#include <span>

namespace valmora::test {

struct Sector
{
    std::array<std::uint8_t, 512> bytes{};

    // A data-sector entry at table position index (0..29; larger indices land in
    // the status fields after the table).
    Sector &Attribute(int index, std::uint8_t id, std::uint16_t flags, std::uint8_t current, std::uint8_t worst,
                      std::array<std::uint8_t, 6> raw = {})
    {
        std::uint8_t *e = bytes.data() + 2 + 12 * index;
        e[0] = id;
        e[1] = static_cast<std::uint8_t>(flags & 0xFF);
        e[2] = static_cast<std::uint8_t>(flags >> 8);
        e[3] = current;
        e[4] = worst;
        for (int b = 0; b < 6; ++b)
            e[5 + b] = raw[static_cast<std::size_t>(b)];
        return *this;
    }
    Sector &Threshold(int index, std::uint8_t id, std::uint8_t threshold)
    {
        std::uint8_t *e = bytes.data() + 2 + 12 * index;
        e[0] = id;
        e[1] = threshold;
        return *this;
    }
    std::span<const std::uint8_t> span() const { return bytes; }
};

inline std::optional<QByteArray> ReadBytes(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return std::nullopt;
    return f.readAll();
}

inline std::span<const std::uint8_t> Bytes(const QByteArray &a)
{
    return {reinterpret_cast<const std::uint8_t *>(a.constData()), static_cast<std::size_t>(a.size())};
}

} // namespace valmora::test
