// Writes a small folder of sample images so that a newcomer can try the viewer without
// bringing photos: orva-make-samples <folder>
#include <QDir>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QRadialGradient>

#include <cstdio>
#include <cstring>

namespace {

QImage scene(int width, int height, int index, bool alpha)
{
    QImage img(width, height, alpha ? QImage::Format_ARGB32_Premultiplied : QImage::Format_RGB32);
    img.fill(Qt::transparent);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    const QColor sky = QColor::fromHsv((index * 47) % 360, 120, 230);
    const QColor ground = QColor::fromHsv((index * 47 + 140) % 360, 160, 120);
    QLinearGradient g(0, 0, 0, height);
    g.setColorAt(0, alpha ? QColor(0, 0, 0, 0) : sky.lighter(130));
    g.setColorAt(0.6, sky);
    g.setColorAt(1, ground);
    p.fillRect(img.rect(), g);
    QRadialGradient sun(width * 0.7, height * 0.3, height * 0.2);
    sun.setColorAt(0, QColor(255, 250, 220));
    sun.setColorAt(1, QColor(255, 200, 80, 0));
    p.fillRect(img.rect(), sun);
    // One dot per sample number, so neighbours are easy to tell apart.
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    const int r = std::max(4, height / 30);
    for (int i = 0; i <= index; ++i)
        p.drawEllipse(QPoint(r * 3 * (i + 1), height - r * 3), r, r);
    // Fine lines show whether zoomed-out drawing is filtered.
    p.setPen(QPen(QColor(0, 0, 0, 90), 1));
    for (int x = 0; x < width; x += 3)
        p.drawLine(x, int(height * 0.8), x + height / 10, int(height * 0.9));
    return img;
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc != 2 || argv[1][0] == '-') {
        // An option is never a folder name: "--help" must not create a folder called so.
        const bool help =
            argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0);
        std::fprintf(help ? stdout : stderr, "usage: orva-make-samples FOLDER\n");
        return help ? 0 : 2;
    }
    QDir dir(QString::fromLocal8Bit(argv[1]));
    if (!dir.mkpath(QStringLiteral("."))) {
        std::fprintf(stderr, "cannot create %s\n", argv[1]);
        return 1;
    }
    struct Sample {
        const char *name;
        int width, height;
        bool alpha;
        const char *format;
    };
    const Sample samples[] = {
        {"01-landscape.jpg", 3000, 2000, false, "JPEG"},
        {"02-portrait.jpg", 1200, 1800, false, "JPEG"},
        {"03-panorama.jpg", 4800, 1000, false, "JPEG"},
        {"04-transparent.png", 800, 600, true, "PNG"},
        {"05-small.png", 320, 240, false, "PNG"},
        {"06-square.bmp", 640, 640, false, "BMP"},
        {"07-large.jpg", 6000, 4000, false, "JPEG"},
        {"08-page.tiff", 1000, 1400, false, "TIFF"},
    };
    int index = 0;
    int failures = 0;
    for (const Sample &s : samples) {
        const QString path = dir.filePath(QString::fromLatin1(s.name));
        if (!scene(s.width, s.height, index++, s.alpha).save(path, s.format, 90)) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
            ++failures;
        }
    }
    return failures ? 1 : 0;
}
