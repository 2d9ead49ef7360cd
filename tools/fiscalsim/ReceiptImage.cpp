#include "ReceiptImage.h"

#include "Journal.h"

#include <QBuffer>
#include <QByteArray>
#include <QFont>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>

#include <mutex>

namespace kv::sim {

namespace {

std::mutex gAppMutex;

}  // namespace

bool ensureImageSupport() {
    std::lock_guard lock(gAppMutex);
    if (QCoreApplication::instance()) return qobject_cast<QGuiApplication*>(QCoreApplication::instance()) != nullptr;
    // Owned for the rest of the process: tearing a Qt application down while
    // worker threads may still be drawing would be worse than the leak. The
    // offscreen platform is named on the command line so that a display
    // setting of the environment cannot get in the way.
    static int argc = 3;
    static char arg0[] = "kovira-fiscalsim";
    static char arg1[] = "-platform";
    static char arg2[] = "offscreen";
    static char* argv[] = {arg0, arg1, arg2, nullptr};
    new QGuiApplication(argc, argv);
    return true;
}

std::string renderJournalPng(std::string_view journal, int widthPx, int columns) {
    if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance())) return {};
    const std::vector<std::string> lines = journalLines(journal);
    constexpr int kMargin = 4;

    QFont font(QStringLiteral("DejaVu Sans Mono"));
    font.setStyleHint(QFont::Monospace);
    font.setFixedPitch(true);
    const QString sample(columns, QLatin1Char('M'));
    int px = 40;
    for (; px > 6; --px) {
        font.setPixelSize(px);
        if (QFontMetrics(font).horizontalAdvance(sample) <= widthPx - 2 * kMargin) break;
    }
    font.setPixelSize(px);
    const QFontMetrics fm(font);
    const int lineHeight = fm.lineSpacing();
    const int height = 2 * kMargin + lineHeight * static_cast<int>(std::max<std::size_t>(lines.size(), 1));

    QImage image(widthPx, height, QImage::Format_Grayscale8);
    image.fill(Qt::white);
    {
        QPainter p(&image);
        p.setFont(font);
        p.setPen(Qt::black);
        int y = kMargin + fm.ascent();
        for (const std::string& line : lines) {
            p.drawText(kMargin, y, QString::fromUtf8(line.data(), static_cast<qsizetype>(line.size())));
            y += lineHeight;
        }
    }
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    if (!image.save(&buffer, "PNG")) return {};
    return png.toBase64().toStdString();
}

}  // namespace kv::sim
