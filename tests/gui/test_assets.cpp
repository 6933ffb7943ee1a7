// The generated art and metadata keep the properties the window and the packaging rely on.
#include <QFile>
#include <QImage>
#include <QImageReader>
#include <QTest>

#include <cmath>

namespace {

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

} // namespace

class AssetsTest : public QObject {
    Q_OBJECT

private slots:
    void banner()
    {
        QImageReader reader(QStringLiteral(TROMEL_RESOURCES_DIR "/banner.gif"));
        QCOMPARE(reader.imageCount(), 1);
        const QImage image = reader.read();
        QCOMPARE(image.size(), QSize(360, 278));
        QVERIFY(!image.hasAlphaChannel());
        // Red captions and grey values sit on the banner at these places (x, y in the picture).
        QVERIFY(worstContrast(image, QRect(200, 128, 49, 49), QColor(0xFF, 0, 0)) >= 4.5);
        QVERIFY(worstContrast(image, QRect(256, 128, 73, 49), QColor(0xC0, 0xC0, 0xC0)) >= 7.0);
    }

    void versionResource()
    {
        QFile rc(QStringLiteral(TROMEL_RC_FILE));
        QVERIFY(rc.open(QIODevice::ReadOnly));
        const QByteArray text = rc.readAll();
        for (const char* line : { "FILEVERSION 0,1,0,0", "VALUE \"FileVersion\", \"0.01\"" })
            QVERIFY2(text.contains(line), line); // both forms made from the project's version
        QVERIFY(!text.contains('@')); // every placeholder filled
    }
};

QTEST_GUILESS_MAIN(AssetsTest)
#include "test_assets.moc"
