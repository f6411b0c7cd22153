#include "gif.h"

#include <QHash>
#include <unordered_map>
#include <vector>

namespace artwork {

QImage toIndexed(const QImage& picture) {
    const QImage rgb = picture.convertToFormat(QImage::Format_RGB32);
    QHash<QRgb, int> index;
    QList<QRgb> table;
    for (int y = 0; y < rgb.height() && table.size() <= 256; ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(rgb.constScanLine(y));
        for (int x = 0; x < rgb.width(); ++x) {
            const QRgb c = line[x] | 0xff000000u;
            if (!index.contains(c)) {
                index.insert(c, static_cast<int>(table.size()));
                table.append(c);
                if (table.size() > 256) {
                    break;
                }
            }
        }
    }
    if (table.size() > 256) {
        return rgb.convertToFormat(QImage::Format_Indexed8, Qt::DiffuseDither);
    }
    QImage indexed(rgb.size(), QImage::Format_Indexed8);
    indexed.setColorTable(table);
    for (int y = 0; y < rgb.height(); ++y) {
        const auto* in = reinterpret_cast<const QRgb*>(rgb.constScanLine(y));
        uchar* out = indexed.scanLine(y);
        for (int x = 0; x < rgb.width(); ++x) {
            out[x] = static_cast<uchar>(index.value(in[x] | 0xff000000u));
        }
    }
    return indexed;
}

namespace {

// Collects variable-width codes least significant bit first and cuts them into sub-blocks of at
// most 255 bytes.
class CodeWriter {
public:
    explicit CodeWriter(QByteArray& out) : out_(out) {}

    void put(int code, int width) {
        bits_ |= static_cast<uint32_t>(code) << count_;
        count_ += width;
        while (count_ >= 8) {
            byte(static_cast<char>(bits_ & 0xff));
            bits_ >>= 8;
            count_ -= 8;
        }
    }

    void finish() {
        if (count_ > 0) {
            byte(static_cast<char>(bits_ & 0xff));
        }
        flushBlock();
        out_.append('\0'); // block terminator
    }

private:
    void byte(char b) {
        block_.append(b);
        if (block_.size() == 255) {
            flushBlock();
        }
    }
    void flushBlock() {
        if (!block_.isEmpty()) {
            out_.append(static_cast<char>(block_.size()));
            out_.append(block_);
            block_.clear();
        }
    }

    QByteArray& out_;
    QByteArray block_;
    uint32_t bits_ = 0;
    int count_ = 0;
};

void put16(QByteArray& out, int value) {
    out.append(static_cast<char>(value & 0xff));
    out.append(static_cast<char>((value >> 8) & 0xff));
}

} // namespace

QByteArray encodeGif(const QImage& indexed) {
    const int width = indexed.width();
    const int height = indexed.height();
    QByteArray out("GIF89a");
    put16(out, width);
    put16(out, height);
    out.append(static_cast<char>(0xf7)); // global table of 2^(7+1) colours, 8 bits per primary
    out.append('\0');                    // background colour index
    out.append('\0');                    // no aspect ratio
    const QList<QRgb> table = indexed.colorTable();
    for (int i = 0; i < 256; ++i) {
        const QRgb c = i < table.size() ? table[i] : qRgb(0, 0, 0);
        out.append(static_cast<char>(qRed(c)));
        out.append(static_cast<char>(qGreen(c)));
        out.append(static_cast<char>(qBlue(c)));
    }
    // Image descriptor: whole canvas, no local table, not interlaced.
    out.append(',');
    put16(out, 0);
    put16(out, 0);
    put16(out, width);
    put16(out, height);
    out.append('\0');

    constexpr int minCodeSize = 8;
    constexpr int clearCode = 1 << minCodeSize;
    constexpr int endCode = clearCode + 1;
    constexpr int maxCode = 4095;
    out.append(static_cast<char>(minCodeSize));

    CodeWriter writer(out);
    std::unordered_map<uint32_t, int> dictionary;
    int nextCode = endCode + 1;
    int width_ = minCodeSize + 1;
    writer.put(clearCode, width_);

    int prefix = -1;
    for (int y = 0; y < height; ++y) {
        const uchar* line = indexed.constScanLine(y);
        for (int x = 0; x < width; ++x) {
            const int pixel = line[x];
            if (prefix < 0) {
                prefix = pixel;
                continue;
            }
            const uint32_t key =
                (static_cast<uint32_t>(prefix) << 8) | static_cast<uint32_t>(pixel);
            const auto found = dictionary.find(key);
            if (found != dictionary.end()) {
                prefix = found->second;
                continue;
            }
            writer.put(prefix, width_);
            if (nextCode <= maxCode) {
                dictionary.emplace(key, nextCode);
                // The decoder widens its codes once the code it is about to add no longer fits.
                if (nextCode == (1 << width_) && width_ < 12) {
                    ++width_;
                }
                ++nextCode;
            } else {
                writer.put(clearCode, width_);
                dictionary.clear();
                nextCode = endCode + 1;
                width_ = minCodeSize + 1;
            }
            prefix = pixel;
        }
    }
    if (prefix >= 0) {
        writer.put(prefix, width_);
    }
    writer.put(endCode, width_);
    writer.finish();
    out.append(';');
    return out;
}

} // namespace artwork
