#pragma once

// Builds NVMe SMART / Health Information log pages (log page 0x02) field by
// field, each at its published offset in the 512-byte page.

#include <QByteArray>

#include <cstdint>

namespace valmora::test {

struct HealthLog
{
    QByteArray bytes = QByteArray(512, '\0');

    HealthLog &Byte(int at, std::uint8_t v)
    {
        bytes[at] = static_cast<char>(v);
        return *this;
    }
    // Little-endian, of the given width in bytes.
    HealthLog &Number(int at, int width, std::uint64_t v)
    {
        for (int i = 0; i < width; ++i)
            bytes[at + i] = static_cast<char>(i < 8 ? (v >> (8 * i)) & 0xFF : 0);
        return *this;
    }
    HealthLog &CriticalWarning(std::uint8_t v) { return Byte(0, v); }
    HealthLog &TemperatureKelvin(std::uint16_t k) { return Number(1, 2, k); }
    HealthLog &Spare(std::uint8_t spare, std::uint8_t threshold) { return Byte(3, spare).Byte(4, threshold); }
    HealthLog &PercentageUsed(std::uint8_t v) { return Byte(5, v); }
    HealthLog &DataUnitsRead(std::uint64_t v) { return Number(32, 16, v); }
    HealthLog &DataUnitsWritten(std::uint64_t v) { return Number(48, 16, v); }
    HealthLog &PowerCycles(std::uint64_t v) { return Number(112, 16, v); }
    HealthLog &PowerOnHours(std::uint64_t v) { return Number(128, 16, v); }
    HealthLog &UnsafeShutdowns(std::uint64_t v) { return Number(144, 16, v); }
    HealthLog &MediaErrors(std::uint64_t v) { return Number(160, 16, v); }
    HealthLog &ErrorLogEntries(std::uint64_t v) { return Number(176, 16, v); }
    HealthLog &TemperatureTimes(std::uint32_t warning, std::uint32_t critical)
    {
        return Number(192, 4, warning).Number(196, 4, critical);
    }

    // A Samsung PM981 (MZVLB512HAJQ) laptop drive after three years: the
    // figures `nvme smart-log` shows for it.
    static HealthLog Pm981()
    {
        HealthLog log;
        log.CriticalWarning(0)
            .TemperatureKelvin(310)
            .Spare(100, 10)
            .PercentageUsed(2)
            .DataUnitsRead(24568431)
            .DataUnitsWritten(19243110)
            .PowerCycles(1402)
            .PowerOnHours(3276)
            .UnsafeShutdowns(87)
            .MediaErrors(0)
            .ErrorLogEntries(1895)
            .TemperatureTimes(0, 0);
        return log;
    }
    // QEMU's emulated controller (hw/nvme): 323 K, full spare, threshold 20.
    static HealthLog Qemu(std::uint8_t criticalWarning)
    {
        HealthLog log;
        log.CriticalWarning(criticalWarning).TemperatureKelvin(323).Spare(100, 20).PowerCycles(1).PowerOnHours(0);
        return log;
    }
};

} // namespace valmora::test
