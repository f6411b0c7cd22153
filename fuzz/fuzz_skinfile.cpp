// The skin file: any bytes as "skins.txt", read by the real window's loadskin.  The skin number
// taken must be the first number of the file as a number is read from the start of a line, and the
// file must be rewritten only when it named a skin.
#include "fuzz_window.h"

#include <QFile>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace {

// Blanks and line ends, then an optional sign and decimal digits that fit a 16-bit number.
std::optional<int> expectedNumber(const std::string& text) {
    std::size_t i = 0;
    while (i < text.size() && std::string(" \t\r\n").find(text[i]) != std::string::npos) {
        ++i;
    }
    int sign = 1;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        sign = text[i] == '-' ? -1 : 1;
        ++i;
    }
    long long value = 0;
    std::size_t digits = 0;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
        value = value * 10 + (text[i] - '0');
        ++digits;
        ++i;
        if (value > 100000) {
            return std::nullopt;
        }
    }
    if (digits == 0) {
        return std::nullopt;
    }
    value *= sign;
    if (value < -32768 || value > 32767) {
        return std::nullopt;
    }
    return static_cast<int>(value);
}

bool isSkin(int n) {
    return n == 1 || n == 2 || n == 3 || n == 5 || n == 6;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    stavebass& w = fuzzwindow::window();
    const QString path = fuzzwindow::folder() + QStringLiteral("/skins.txt");
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
            file.write(bytes) != bytes.size()) {
            __builtin_trap();
        }
    }
    constexpr int16_t kUntouched = -9999;
    w.skinNumber = kUntouched;
    w.loadskin();

    // Only the first 64 bytes are read: a number is a few characters.
    const std::optional<int> expected = expectedNumber(bytes.left(64).toStdString());
    if (w.skinNumber != (expected ? *expected : kUntouched)) {
        __builtin_trap();
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        __builtin_trap();
    }
    const QByteArray after = file.readAll();
    const QByteArray want =
        expected && isSkin(*expected) ? QByteArray::number(*expected) + "\r\n" : bytes;
    if (after != want) {
        __builtin_trap();
    }
    return 0;
}
