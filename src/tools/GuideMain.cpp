// Makes the user guide's PDF from its Markdown text:
//   kestrelon-guide <guide.md> <out.pdf>
// The pictures the text names are read relative to the text's folder and
// scaled down to the width of the page; the pages are numbered. Runs without a display (the build
// starts it on Qt's offscreen platform).
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImage>
#include <QPageLayout>
#include <QPageSize>
#include <QPdfWriter>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextFragment>
#include <QTextImageFormat>
#include <QUrl>

#include <cstdio>

namespace {

// A4; the document's printing keeps margins of 2 cm, so the text is 170 mm
// wide: 640 pixels of the 96 dpi in which picture sizes are given.
constexpr double kTextWidthPx = 640.0;

// Loads every picture the text names and limits its width to the page's.
bool PlacePictures(QTextDocument& doc, const QString& folder)
{
    bool ok = true;
    for (QTextBlock block = doc.begin(); block.isValid(); block = block.next())
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment fragment = it.fragment();
            if (!fragment.isValid() || !fragment.charFormat().isImageFormat())
                continue;
            QTextImageFormat format = fragment.charFormat().toImageFormat();
            const QString name = format.name();
            const QImage image(folder + QLatin1Char('/') + name);
            if (image.isNull()) {
                std::fprintf(stderr, "kestrelon-guide: cannot read the picture %s\n", qPrintable(name));
                ok = false;
                continue;
            }
            doc.addResource(QTextDocument::ImageResource, QUrl(name), image);
            // Screenshots at their size on the screen, but never wider than the text.
            double width = image.width();
            double height = image.height();
            if (width > kTextWidthPx) {
                height *= kTextWidthPx / width;
                width = kTextWidthPx;
            }
            format.setWidth(width);
            format.setHeight(height);
            QTextCursor cursor(&doc);
            cursor.setPosition(fragment.position());
            cursor.setPosition(fragment.position() + fragment.length(), QTextCursor::KeepAnchor);
            cursor.setCharFormat(format);
        }
    return ok;
}

} // namespace

int main(int argc, char** argv)
{
    QGuiApplication app(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: kestrelon-guide <guide.md> <out.pdf>\n");
        return 2;
    }
    const QString source = QString::fromLocal8Bit(argv[1]);
    const QString target = QString::fromLocal8Bit(argv[2]);
    QFile in(source);
    if (!in.open(QIODevice::ReadOnly | QIODevice::Text)) {
        std::fprintf(stderr, "kestrelon-guide: cannot read %s\n", argv[1]);
        return 1;
    }
    QTextDocument doc;
    QFont font(QStringLiteral("DejaVu Serif"));
    font.setPointSizeF(10.5);
    doc.setDefaultFont(font);
    doc.setMarkdown(QString::fromUtf8(in.readAll()));
    if (!PlacePictures(doc, QFileInfo(source).absolutePath()))
        return 1;

    // Written beside the target and renamed over it once complete.
    const QString partial = target + QStringLiteral(".part");
    QFile::remove(partial);
    {
        QPdfWriter pdf(partial);
        pdf.setTitle(QStringLiteral("Kestrelon User Guide"));
        pdf.setCreator(QStringLiteral("Kestrelon"));
        pdf.setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait,
                                      QMarginsF(0, 0, 0, 0), QPageLayout::Millimeter));
        doc.print(&pdf);
    }
    if (QFileInfo(partial).size() == 0) {
        std::fprintf(stderr, "kestrelon-guide: nothing written to %s\n", qPrintable(partial));
        return 1;
    }
    QFile::remove(target);
    if (!QFile::rename(partial, target)) {
        std::fprintf(stderr, "kestrelon-guide: cannot write %s\n", argv[2]);
        return 1;
    }
    return 0;
}
