// The generated art and metadata keep the properties the window and the packaging rely on.
#include <QFile>
#include <QImage>
#include <QImageReader>
#include <QTest>
#include <QtEndian>

#include <cmath>

namespace {

QByteArray readAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

quint16 u16(const QByteArray& b, qsizetype at)
{
    return qFromLittleEndian<quint16>(b.constData() + at);
}
quint32 u32(const QByteArray& b, qsizetype at)
{
    return qFromLittleEndian<quint32>(b.constData() + at);
}

double luminance(QRgb c)
{
    const auto lin = [](int v) {
        const double s = v / 255.0;
        return s <= 0.03928 ? s / 12.92 : std::pow((s + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * lin(qRed(c)) + 0.7152 * lin(qGreen(c)) + 0.0722 * lin(qBlue(c));
}

/// Worst contrast of a text colour against the pixels of an area.
double worstContrast(const QImage& image, const QRect& area, QColor text)
{
    const double t = luminance(text.rgb());
    double worst = 1e9;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x) {
            const double b = luminance(image.pixel(x, y));
            worst = std::min(worst, (std::max(t, b) + 0.05) / (std::min(t, b) + 0.05));
        }
    return worst;
}

const QString kResources = QStringLiteral(TROMEL_RESOURCES_DIR);

} // namespace

class AssetsTest : public QObject {
    Q_OBJECT

private slots:
    void banner()
    {
        const QByteArray gif = readAll(kResources + "/banner.gif");
        QVERIFY(gif.startsWith("GIF89a"));
        QCOMPARE(u16(gif, 6), 360);
        QCOMPARE(u16(gif, 8), 278);
        const quint8 packed = quint8(gif[10]);
        QVERIFY(packed & 0x80); // global colour table
        QCOMPARE(2 << (packed & 0x07), 128); // of 128 colours

        // Walk the blocks: one image, no local palette, no transparency.
        qsizetype at = 13 + 3 * 128;
        int frames = 0;
        while (at < gif.size() && quint8(gif[at]) != 0x3B) {
            const quint8 kind = quint8(gif[at]);
            if (kind == 0x2C) {
                ++frames;
                QCOMPARE(quint8(gif[at + 9]) & 0x80, 0);
                at += 11; // descriptor and LZW code size
            } else {
                QCOMPARE(kind, quint8(0x21));
                if (quint8(gif[at + 1]) == 0xF9)
                    QCOMPARE(quint8(gif[at + 3]) & 0x01, 0);
                at += 2;
            }
            while (quint8(gif[at]) != 0)
                at += 1 + quint8(gif[at]);
            ++at;
        }
        QCOMPARE(frames, 1);
        QCOMPARE(at, gif.size() - 1);

        // Red captions and grey values sit on the banner at these places (x, y in the picture).
        QImage image(kResources + "/banner.gif");
        QCOMPARE(image.size(), QSize(360, 278));
        QVERIFY(worstContrast(image, QRect(200, 128, 49, 49), QColor(0xFF, 0, 0)) >= 4.5);
        QVERIFY(worstContrast(image, QRect(256, 128, 73, 49), QColor(0xC0, 0xC0, 0xC0)) >= 7.0);
    }

    void icon()
    {
        const QByteArray ico = readAll(kResources + "/TromelRimbolt.ico");
        QCOMPARE(ico.size(), 86358);
        QCOMPARE(u16(ico, 0), 0);
        QCOMPARE(u16(ico, 2), 1);
        QCOMPARE(u16(ico, 4), 6);
        const QList<QPair<int, int>> images
            = { { 32, 8 }, { 16, 8 }, { 128, 32 }, { 48, 32 }, { 32, 32 }, { 16, 32 } };
        quint32 offset = 6 + 16 * 6;
        for (int i = 0; i < images.size(); ++i) {
            const auto [size, bpp] = images[i];
            const qsizetype entry = 6 + 16 * i;
            QCOMPARE(int(quint8(ico[entry])), size);
            QCOMPARE(u16(ico, entry + 6), bpp);
            QCOMPARE(u32(ico, entry + 12), offset);
            QCOMPARE(u32(ico, offset), 40u); // BITMAPINFOHEADER
            QCOMPARE(int(u32(ico, offset + 8)), 2 * size); // colour and mask
            QCOMPARE(u16(ico, offset + 14), bpp);
            QCOMPARE(u32(ico, offset + 16), 0u); // BI_RGB: uncompressed
            offset += u32(ico, entry + 8);
        }
        QCOMPARE(offset, quint32(ico.size()));
        QImageReader reader(kResources + "/TromelRimbolt.ico");
        QCOMPARE(reader.imageCount(), 6);
    }

    void versionResource()
    {
        const QByteArray rc = readAll(QStringLiteral(TROMEL_RC_FILE));
        for (const char* line :
            { "FILEVERSION 0,1,0,0", "PRODUCTVERSION 0,1,0,0", "VALUE \"FileVersion\", \"0.01\"",
                "VALUE \"ProductVersion\", \"0.01\"", "VALUE \"ProductName\", \"Tromel Rimbolt\"",
                "VALUE \"Comments\", \"Tromel Rimbolt\"", "VALUE \"InternalName\", \"TromelRimbolt\"",
                "VALUE \"OriginalFilename\", \"TromelRimbolt.exe\"", "BLOCK \"040C04B0\"",
                "VALUE \"Translation\", 0x040C, 1200", "TromelRimbolt.ico\"" })
            QVERIFY2(rc.contains(line), line);
        QVERIFY(!rc.contains('@'));
    }
};

QTEST_GUILESS_MAIN(AssetsTest)
#include "test_assets.moc"
