// The DC's clock record: BCD fields, as the DC keeps them.
#include "link/device_link.h"

namespace {

int Field(const QString& text, int position) {  // two decimal digits at a 1-based character position
    return text.mid(position - 1, 2).toInt();
}

std::uint8_t Bcd(int v) {
    return static_cast<std::uint8_t>((v / 10) * 16 + v % 10);
}

std::uint8_t HourByte(int h) {
    if (h == 12)
        return 0x92;
    if (h > 12)
        return static_cast<std::uint8_t>(0x80 + Bcd(h - 12));
    return Bcd(h);
}

}  // namespace

std::array<std::uint8_t, 9> BuildClockRecord(const QString& date, const QString& time, std::uint8_t value) {
    std::array<std::uint8_t, 9> r{};
    r[0] = Bcd(Field(date, 7));
    r[1] = Bcd(Field(date, 4));
    r[2] = Bcd(Field(date, 1));
    r[3] = Bcd(Field(time, 7));
    r[4] = Bcd(Field(time, 4));
    r[5] = HourByte(Field(time, 1));
    r[6] = value;
    r[7] = 0;
    int sum = 0;
    for (int i = 0; i < 8; ++i)
        sum += r[i];
    r[8] = static_cast<std::uint8_t>(sum % 256);
    return r;
}

std::array<std::uint8_t, 9> ClockRecordFor(const QDateTime& when) {
    return BuildClockRecord(when.date().toString(QStringLiteral("MM/dd/yy")),
                            when.time().toString(QStringLiteral("HH:mm:ss")), dc::kClockValue);
}
